// The checked archive taken apart again, entry by entry: each entry as the
// archive checks announced it, then the bytes of its content, without the
// headers and the blocks' padding.  The writer takes the product so, and
// the comparison of an installation with an installer file.
#ifndef OVELO_ENGINE_ENTRY_STREAM_H
#define OVELO_ENGINE_ENTRY_STREAM_H

#include "tar_filter.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>

class EntryStream {
public:
    // Each false stops the stream there.
    std::function<bool(const ArchiveEntry&)> onEntry;           // before its content
    std::function<bool(const char* data, std::size_t count)> onContent;
    std::function<bool()> onEnd;                                // a file's content is complete

    // An entry that passed the checks, in archive order, before its blocks.
    void Announce(const ArchiveEntry& entry) { announced_.push_back(entry); }
    // The next blocks of the checked archive; false when a callback said
    // stop, or the blocks do not match the entries announced (Mismatched).
    bool Take(const char* blocks, std::size_t count);
    bool Mismatched() const { return mismatched_; }
    // No entry begun and not ended, none announced and not begun.
    bool Between() const { return left_ == 0 && padding_ == 0 && announced_.empty(); }

private:
    bool Begin();

    std::deque<ArchiveEntry> announced_;
    std::uint64_t left_ = 0;     // content of the entry at hand still to come
    std::uint64_t padding_ = 0;  // then the rest of its last block
    bool mismatched_ = false;
};

#endif
