// The seal that packaging writes into the gzip header of the payload: what
// the product needs on disk and a checksum of the payload's bytes, so that
// damage and a too small file system are found before anything is written.
//
// It is the data of an extra-field subfield (RFC 1952) with the ID "Ov":
// "1 BYTES ENTRIES CRC", decimal, CRC as 10 digits at the very end.  CRC is
// the POSIX cksum CRC of the whole payload without those 10 digits, so a
// packaging shell script can compute it with cksum(1).
#ifndef OVELO_INSTALLER_SEAL_H
#define OVELO_INSTALLER_SEAL_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <sys/types.h>

struct Seal {
    std::uint64_t bytes = 0;    // file contents of the product
    std::uint64_t entries = 0;  // files, folders and links (inodes)
    std::uint32_t crc = 0;
    off_t crcOffset = 0;        // of the 10 digits, from the payload's start
};

// The seal in the gzip header at the start of a payload of length bytes
// read through fd, into *seal; nothing when the header carries none.
// False when the header has one that cannot be read: a damaged file.
bool ReadSeal(int fd, off_t start, off_t length, std::optional<Seal>* seal);

// The CRC of POSIX cksum: MSB first, polynomial 0x04C11DB7, the length
// appended, complemented.
class CksumCrc {
public:
    void Update(const unsigned char* data, std::size_t count);
    std::uint32_t Final() const;

private:
    std::uint32_t crc_ = 0;
    std::uint64_t length_ = 0;
};

#endif
