// The product tree as mkinstaller ships it, read into a ustar archive.
//
// Members are named from "./": the top folder "./" first, the rest in byte
// order of their paths, the player "./ovelo" last, always a file of mode
// 0755.  Folders get 0755, files 0755 when their owner may run them and
// 0644 otherwise, symbolic links stay links; owner and group are 0/root.
// A file with more than one name is archived once, under the first, the
// others as hard links to it.  Each member keeps its modification time, in
// whole seconds, no later than a limit when one is given.
//
// A member whose name, link target, size or time does not fit its ustar
// header gets a pax extended header in front of it; every other member is
// plain ustar.  What can not be shipped is said: set-id bits and extended
// attributes (ACLs among them) in one warning a file, device nodes, FIFOs
// and sockets by a refusal.
#ifndef OVELO_PACKAGING_PRODUCT_ARCHIVE_H
#define OVELO_PACKAGING_PRODUCT_ARCHIVE_H

#include "descriptor.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

struct Member {
    std::string path;      // from the top, without "./"; empty for the top folder
    char type = '0';       // '0' file, '1' hard link, '2' symbolic link, '5' folder
    unsigned mode = 0;     // as archived
    std::uint64_t size = 0;   // of a file's content
    std::int64_t mtime = 0;   // as archived
    std::string link;      // a symbolic link's target; a hard link's member, from "./"
    unsigned setId = 0;    // the set-id bits of a file, which are not shipped
    bool sparse = false;   // a file with holes, which are not read
    dev_t device = 0;      // the file read, to see that it did not change
    ino_t inode = 0;
};

// The members of the product at root, in archive order, into *members.
// False, *error saying why, when the tree can not be read or holds what
// is never shipped.  product is the tree as the packager named it.
bool ListProduct(int root, const std::string& product, std::optional<std::int64_t> latestTime,
                 std::vector<Member>* members, std::string* error);

// The archive's length, its end blocks included.
std::uint64_t ArchiveSize(const std::vector<Member>& members);

// The archive, made as it is read: headers from the listing, contents from
// the files, which must not have changed since.
class ArchiveStream {
public:
    ArchiveStream(int root, const std::vector<Member>& members) : root_(root), members_(members) {}

    // The next count bytes into out; false, *error saying why, when a
    // file can not be read or changed.
    bool Fill(unsigned char* out, std::size_t count, std::string* error);

private:
    bool Next(std::string* error);
    bool Open(const Member& member, std::string* error);
    bool ReadData(unsigned char* out, std::size_t count, std::size_t* got, std::string* error);
    void FindRun(std::uint64_t offset);

    const int root_;
    const std::vector<Member>& members_;
    std::size_t next_ = 0;     // the member to begin next
    const Member* current_ = nullptr;
    std::string pending_;      // headers not yet handed out
    std::size_t sent_ = 0;     // of them
    Descriptor file_;
    std::uint64_t dataLeft_ = 0, padding_ = 0;
    std::uint64_t runEnd_ = 0;  // of the run of data, or of the hole, being read
    bool inHole_ = false;
    bool ended_ = false;       // the end blocks are pending or sent
};

#endif
