// The record of what an installation put into its destination, kept at its
// top, so that an upgrade can remove what the new version no longer ships
// and an uninstall can remove the product, both leaving alone whatever the
// user added or changed.
//
// A text file: the line "ovelo8-manifest 1", then one line per entry, in
// the order installed (every folder before what it holds); or the line
// "ovelo8-manifest 2", a line "version VERSION" (escaped as a path is),
// then the same lines:
//   TYPE MODE SIZE CHECKSUM PATH
// one blank between the fields; the path is all that follows the fourth,
// blanks included.  TYPE is d (folder), f (file) or l (symbolic link); MODE four octal
// digits; SIZE the bytes of a file's content or of a link's target (0 for
// a folder); CHECKSUM the POSIX cksum CRC of that content in decimal, as
// cksum(1) prints it (0 for a folder); PATH relative to the destination,
// with a backslash written "\\" and a newline "\n".
#ifndef OVELO_ENGINE_MANIFEST_H
#define OVELO_ENGINE_MANIFEST_H

#include <cstdint>
#include <string>
#include <vector>

constexpr char kManifestName[] = ".ovelo8-manifest";

struct ManifestEntry {
    char type = 'f';  // 'd', 'f' or 'l'
    unsigned mode = 0;
    std::uint64_t size = 0;
    std::uint32_t checksum = 0;
    std::string path;
};

// The manifest's first lines, naming the product's version when there is
// one, and the line of an entry.
std::string ManifestHeader(const std::string& version);
void AppendManifestLine(std::string* text, const ManifestEntry& entry);

// The manifest of the entries (a vector or a deque of them).
template <typename Entries>
std::string ManifestText(const Entries& entries, const std::string& version = std::string())
{
    std::string text = ManifestHeader(version);
    for (const ManifestEntry& entry : entries)
        AppendManifestLine(&text, entry);
    return text;
}

enum class ManifestRead { kRead, kMissing, kBadManifest };

// The manifest at the top of the folder open on dirfd.  One of more than
// 8 MiB or 131,072 entries is not read (kBadManifest), so that memory
// stays bounded whatever it says.
// The product's version it names into *version when asked, empty when it
// names none.  After kBadManifest, errno tells a shortage (ENOMEM, EMFILE,
// ENFILE) from a manifest that is not ours; otherwise it is 0.
ManifestRead ReadManifest(int dirfd, std::vector<ManifestEntry>* entries,
                          std::string* version = nullptr);

// Whether what lies at the entry's path beneath the folder is still what
// was installed there: the same type, and for a file or link the same size
// and checksum.  A missing entry is not unchanged.  When false, errno says
// why it could not be looked at (0 when it was, and differs).
bool Unchanged(int dirfd, const ManifestEntry& entry);

// The cksum CRC of the content of the file open on fd, from its start.
bool ChecksumOf(int fd, std::uint32_t* checksum);

#endif
