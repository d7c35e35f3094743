// Writing, reading and checking the manifest.
#include "manifest.h"

#include "beneath.h"
#include "gzip_header.h"
#include "record_text.h"
#include "format.h"
#include "cksum.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace {

// The first version lists the entries alone; the second names the
// product's version first, in a line of its own.
constexpr char kHeader[] = "ovelo8-manifest 1\n";
constexpr char kVersionedHeader[] = "ovelo8-manifest 2\n";
constexpr char kVersionField[] = "version ";
// Whatever a manifest says, what is held of it (the text while it is
// read, then each entry, and in an upgrade its path again in the writer's
// index) stays well within the 64 MiB the installer may take: a larger
// manifest is not read.  A product of 100,000 entries, several times a
// large one, is listed in less.
constexpr std::size_t kLargestManifest = 8 * 1024 * 1024;
constexpr std::size_t kMostEntries = 128 * 1024;

// "TYPE MODE SIZE CHECKSUM PATH", one blank between the fields: whatever
// follows the fourth blank is the path, blanks and all.
bool ParseLine(std::string_view line, ManifestEntry* entry)
{
    if (line.size() < 2 || line[1] != ' ' || (line[0] != 'd' && line[0] != 'f' && line[0] != 'l'))
        return false;
    entry->type = line[0];
    line.remove_prefix(2);
    std::uint64_t mode = 0, checksum = 0;
    if (!TakeNumber(&line, 8, 07777, &mode) || !TakeNumber(&line, 10, UINT64_MAX, &entry->size) ||
        !TakeNumber(&line, 10, UINT32_MAX, &checksum))
        return false;
    entry->mode = static_cast<unsigned>(mode);
    entry->checksum = static_cast<std::uint32_t>(checksum);
    return UnescapedPath(line, &entry->path);
}

// The header, and in the second version the product's, at the front of
// text: *at behind them.
bool TakeHeader(const std::string& text, std::size_t* at, std::string* version)
{
    if (text.compare(0, sizeof kHeader - 1, kHeader) == 0) {
        *at = sizeof kHeader - 1;
        return true;
    }
    const std::size_t start = sizeof kVersionedHeader - 1 + sizeof kVersionField - 1;
    const std::size_t end = text.find('\n', start);
    if (text.compare(0, sizeof kVersionedHeader - 1, kVersionedHeader) != 0 ||
        text.compare(sizeof kVersionedHeader - 1, sizeof kVersionField - 1, kVersionField) != 0 ||
        end == std::string::npos)
        return false;
    // The version is kept as the path of a line is, which it is read as.
    std::string read;
    if (!UnescapedText(std::string_view(text).substr(start, end - start), &read) ||
        !IsProductVersion(read))
        return false;
    *version = read;
    *at = end + 1;
    return true;
}

}  // namespace

std::string ManifestHeader(const std::string& version)
{
    if (version.empty())
        return kHeader;
    return kVersionedHeader + (kVersionField + EscapedPath(version)) + '\n';
}

void AppendManifestLine(std::string* text, const ManifestEntry& entry)
{
    *text += FormatText("%c %04o %llu %u ", entry.type, entry.mode,
                        static_cast<unsigned long long>(entry.size), entry.checksum);
    *text += EscapedPath(entry.path);
    *text += '\n';
}

ManifestRead ReadManifest(int dirfd, std::vector<ManifestEntry>* entries, std::string* version)
{
    entries->clear();
    std::string ignored;
    version = version ? version : &ignored;
    version->clear();
    const Descriptor file = OpenBeneath(dirfd, kManifestName, O_RDONLY | O_NONBLOCK);
    if (!file)
        return errno == ENOENT ? ManifestRead::kMissing : ManifestRead::kBadManifest;
    std::string text;
    std::size_t at = 0;
    errno = 0;
    if (!ReadRecordFile(file.get(), kLargestManifest, &text))
        return ManifestRead::kBadManifest;
    errno = 0;
    if (!TakeHeader(text, &at, version))
        return ManifestRead::kBadManifest;
    // Counted first, so that the list is made once at its size.
    const std::size_t lines = std::count(text.begin() + at, text.end(), '\n');
    if (lines > kMostEntries)
        return ManifestRead::kBadManifest;
    entries->reserve(lines);
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            return ManifestRead::kBadManifest;
        ManifestEntry entry;
        if (!ParseLine(std::string_view(text).substr(at, end - at), &entry))
            return ManifestRead::kBadManifest;
        entries->push_back(std::move(entry));
        at = end + 1;
    }
    return ManifestRead::kRead;
}

bool ChecksumOf(int fd, std::uint32_t* checksum)
{
    std::vector<unsigned char> buffer(256 * 1024);
    CksumCrc crc;
    for (off_t at = 0;;) {
        const ssize_t got = pread(fd, buffer.data(), buffer.size(), at);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        crc.Update(buffer.data(), got);
        at += got;
    }
    *checksum = crc.Final();
    return true;
}

bool Unchanged(int dirfd, const ManifestEntry& entry)
{
    errno = 0;
    const int flags = entry.type == 'f' ? O_RDONLY | O_NONBLOCK : O_PATH;
    const Descriptor found = OpenBeneath(dirfd, entry.path, flags);
    struct stat info;
    if (!found && errno == ELOOP)
        errno = 0;  // a link now where the file was: changed
    if (!found || fstat(found.get(), &info) == -1)
        return false;
    if (entry.type == 'd')
        return S_ISDIR(info.st_mode);
    std::uint32_t checksum = 0;
    if (entry.type == 'l') {
        char target[PATH_MAX];
        const ssize_t length = readlinkat(found.get(), "", target, sizeof target);
        if (!S_ISLNK(info.st_mode) || length < 0 || static_cast<std::uint64_t>(length) != entry.size)
            return false;
        return CksumOf(std::string_view(target, length)) == entry.checksum;
    }
    return S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) == entry.size &&
           ChecksumOf(found.get(), &checksum) && checksum == entry.checksum;
}
