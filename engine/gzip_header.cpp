// Reading the payload's gzip header and the subfields of its extra field.
#include "gzip_header.h"

#include "bytes.h"

namespace {

constexpr std::size_t kFixedHeader = 10;

}  // namespace

bool ReadGzipHeader(int fd, off_t start, off_t length, std::optional<GzipHeader>* header)
{
    header->reset();
    unsigned char fixed[kFixedHeader + 2];
    if (length < static_cast<off_t>(sizeof fixed) || !ReadExactly(fd, fixed, sizeof fixed, start) ||
        fixed[0] != 0x1f || fixed[1] != 0x8b || !(fixed[3] & kGzipFlagExtra))
        return true;
    GzipHeader read;
    read.flags = fixed[3];
    read.extra.resize(LittleEndian(fixed + kFixedHeader, 2));
    read.extraOffset = static_cast<off_t>(sizeof fixed);
    if (read.extraOffset + static_cast<off_t>(read.extra.size()) > length ||
        !ReadExactly(fd, read.extra.data(), read.extra.size(), start + read.extraOffset))
        return false;
    *header = std::move(read);
    return true;
}

bool IsProductVersion(const std::string& text)
{
    if (text.empty() || text.size() > kLongestProductVersion)
        return false;
    for (const unsigned char c : text)
        if (c < 0x20 || c == 0x7f)
            return false;
    return true;
}

bool FindSubfield(const std::string& extra, const char* id, std::optional<Subfield>* found)
{
    found->reset();
    for (std::size_t at = 0; at + 4 <= extra.size();) {
        const std::size_t size =
            LittleEndian(reinterpret_cast<const unsigned char*>(extra.data()) + at + 2, 2);
        if (at + 4 + size > extra.size())
            return false;
        if (extra.compare(at, 2, id, 2) == 0) {
            *found = Subfield{at + 4, size};
            return true;
        }
        at += 4 + size;
    }
    return true;
}
