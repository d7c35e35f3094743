// The seal that packaging writes into the gzip header of the payload: what
// the product needs on disk and a checksum of the payload's bytes, so that
// damage and a too small file system are found before anything is written.
//
// It is the data of an extra-field subfield (RFC 1952) with the ID "Ov",
// decimal numbers separated by single blanks, CRC as 10 digits at the very
// end:
//   "1 BYTES ENTRIES CRC"
//   "2 BYTES ENTRIES U512 U1024 U2048 U4096 U8192 U16384 U32768 U65536 CRC"
// where U<b> is the room the product takes on a file system that allocates
// in fragments of b bytes (each file rounded up, each folder and each long
// link a fragment).  CRC is the POSIX cksum CRC of the whole payload
// without those 10 digits, so a packaging shell script can compute it with
// cksum(1).
#ifndef OVELO_ENGINE_SEAL_H
#define OVELO_ENGINE_SEAL_H

#include "gzip_header.h"
#include "observer.h"
#include "outcome.h"
#include "payload.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

constexpr char kSealId[] = "Ov";             // its subfield's ID
constexpr std::size_t kSealCrcDigits = 10;  // the CRC's, closing it

// Fragment sizes the seal records the product's room for: 512 << i.
constexpr std::size_t kSealFragmentSizes = 8;

struct Seal {
    std::uint64_t bytes = 0;    // file contents of the product
    std::uint64_t entries = 0;  // files, folders and links (inodes)
    // Room taken with fragments of 512 << i bytes; all zero in a version 1 seal.
    std::array<std::uint64_t, kSealFragmentSizes> room{};
    bool hasRoom = false;
    std::uint32_t crc = 0;
    off_t crcOffset = 0;        // of the 10 digits, from the payload's start
};

// The seal in the payload's gzip header, into *seal; nothing when the
// header carries none.  False when it has one that cannot be read.
bool SealOf(const GzipHeader& header, std::optional<Seal>* seal);

// What an archive's members add up to, counted as the seal counts them
// (the packer seals what this tally counts): every member is an entry but
// a hard link (counted once, with its file) and the top folder (the
// destination itself); the bytes are the files' contents; the room for
// each fragment size takes each file rounded up to whole fragments, a
// fragment for each folder, the top one included, and one for each
// symbolic link whose target is too long to live in its inode (60 bytes
// or more).  Sums stop at the largest number rather than wrap, so that a
// forged archive can not bring them back under a seal.
struct SealTally {
    std::uint64_t bytes = 0;
    std::uint64_t entries = 0;
    std::array<std::uint64_t, kSealFragmentSizes> room{};

    // A member as its header gives it: '1' hard link, '2' symbolic link,
    // '5' folder, a file otherwise ('0', or '\0' as old tars wrote it);
    // top for the top folder.
    void Add(char type, std::uint64_t size, std::size_t linkLength, bool top);
    // No figure beyond the seal's (a version 1 seal has no room figures).
    bool Within(const Seal& seal) const;
    // Every figure the seal's.
    bool Matches(const Seal& seal) const;
};

// A version 2 seal of what tally counted, with crc as its checksum.
std::string SealData(const SealTally& tally, std::uint32_t crc);

// The checksum of the payload's bytes, read through fd, but the seal's
// digits at crcOffset from its start, into *crc: kNone, kChecksumMismatch
// when they can not be read, or kStopped when the observer, asked between
// steps of 256 KiB, said so.
Fault PayloadChecksum(int fd, const Payload& payload, off_t crcOffset, Observer& observer,
                      std::uint32_t* crc);
// Whether they give the seal's checksum: kNone, kChecksumMismatch or
// kStopped, as above.
Fault CheckSeal(int fd, const Payload& payload, const Seal& seal, Observer& observer);

#endif
