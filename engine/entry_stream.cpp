// Taking the checked archive apart, entry by entry.
#include "entry_stream.h"

#include <algorithm>

bool EntryStream::Take(const char* blocks, std::size_t count)
{
    while (count > 0) {
        std::size_t run = 0;
        if (left_ > 0) {
            run = std::min<std::uint64_t>(left_, count);
            left_ -= run;
            if (!onContent(blocks, run) || (left_ == 0 && !onEnd()))
                return false;
        } else if (padding_ > 0) {
            run = std::min<std::uint64_t>(padding_, count);
            padding_ -= run;
        } else {
            if (announced_.empty() || count < kTarBlock) {
                mismatched_ = true;
                return false;
            }
            run = kTarBlock;  // the header
            if (!Begin())
                return false;
        }
        blocks += run;
        count -= run;
    }
    return true;
}

// A file's content follows its header in whole blocks; an empty file ends
// at once.
bool EntryStream::Begin()
{
    const ArchiveEntry entry = std::move(announced_.front());
    announced_.pop_front();
    if (!onEntry(entry))
        return false;
    if (entry.type != '0')
        return true;
    left_ = entry.size;
    padding_ = (kTarBlock - entry.size % kTarBlock) % kTarBlock;
    return left_ > 0 || onEnd();
}
