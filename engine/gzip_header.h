// The gzip header of a payload, as far as the installer reads it: the fixed
// part and the extra field, in whose subfields packaging puts the seal and
// the chunk index (RFC 1952: an ID of two bytes, a length of two, the data).
#ifndef OVELO_ENGINE_GZIP_HEADER_H
#define OVELO_ENGINE_GZIP_HEADER_H

#include <cstddef>
#include <optional>
#include <string>
#include <sys/types.h>

struct GzipHeader {
    unsigned char flags = 0;
    std::string extra;      // the extra field's bytes
    off_t extraOffset = 0;  // where they start, from the payload's start
};

// Where one subfield's data lies in the extra field.
struct Subfield {
    std::size_t offset = 0;
    std::size_t size = 0;
};

constexpr unsigned char kGzipFlagExtra = 0x04;

// The product's version, as the packager gave it, in the subfield "Op" of
// the extra field, before the seal, whose checksum covers it: printable
// text of at most kLongestProductVersion bytes.
constexpr char kProductVersionId[] = "Op";
constexpr std::size_t kLongestProductVersion = 128;

// Whether text may be a product version: not empty, not too long, and
// nothing that would not print on one line.
bool IsProductVersion(const std::string& text);

// The header of the gzip member of length bytes at start, read with pread;
// nothing when it is no gzip member with an extra field (what is not gzip
// shows when it is decompressed).  False when the extra field runs past
// the member or can not be read.
bool ReadGzipHeader(int fd, off_t start, off_t length, std::optional<GzipHeader>* header);

// The subfield with the two-byte id in extra, into *found (nothing when
// there is none); false when the subfields do not fill the field.
bool FindSubfield(const std::string& extra, const char* id, std::optional<Subfield>* found);

#endif
