// The chunk index of a payload: the archive compressed in chunks that
// decompress independently, so that every core can take a share.
//
// The payload stays one gzip member, which gzip and the unindexed road read
// as before: each chunk is a raw deflate stream of its own, with no
// reference back into an earlier chunk, and every chunk but the last ends
// with a full flush (an empty stored block, leaving the next chunk on a
// byte boundary) instead of a final block.  One member rather than a member
// per chunk keeps the layout readers of the unindexed road expect, and the
// seal in its header still covers everything.
//
// The index is the data of an extra-field subfield (RFC 1952) with the ID
// "Oc", written before the seal's "Ov", so that the seal's checksum covers
// it.  Per chunk, 20 bytes, little-endian: the offset of its compressed
// data from the payload's start (8), its compressed length (4), the archive
// bytes it holds (4) and their CRC-32 (4, as gzip's).
#ifndef OVELO_ENGINE_CHUNK_INDEX_H
#define OVELO_ENGINE_CHUNK_INDEX_H

#include "gzip_header.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

struct Chunk {
    std::uint64_t offset = 0;  // from the payload's start
    std::uint32_t compressedSize = 0;
    std::uint32_t size = 0;
    std::uint32_t crc = 0;
};

// What a gzip member's frame says around its deflate data.
struct MemberFrame {
    std::uint64_t dataStart = 0;  // behind the header, from the payload's start
    std::uint64_t dataEnd = 0;    // where the 8-byte gzip trailer starts
    std::uint32_t crc = 0;        // the trailer's CRC-32 of the whole archive
    std::uint32_t size = 0;       // and its length modulo 2^32
};

constexpr char kChunkIndexId[] = "Oc";
constexpr std::size_t kChunkEntrySize = 20;
// The extra field holds at most 65,535 bytes: 4 for each subfield's ID and
// length, up to 512 for the seal and kLongestProductVersion for the
// product's version, the rest for the index.
constexpr std::size_t kMaxChunks =
    (65535 - 3 * 4 - 512 - kLongestProductVersion) / kChunkEntrySize;
// The archive bytes of one chunk, at most: what a reader must hold of it at
// once, and so what an index may ask it to hold.  A reader holds two of
// them and the compressed chunk, 48 MiB, well inside the 64 MiB it may
// take.  Chunks of that size index archives of 54 GB (kMaxChunks of them).
constexpr std::uint32_t kMaxChunkSize = 16 * 1024 * 1024;
// A chunk that does not compress is stored, a few bytes per 64 KiB more.
constexpr std::uint32_t kMaxCompressedChunk = kMaxChunkSize + kMaxChunkSize / 1024;

std::string EncodeChunkIndex(const std::vector<Chunk>& chunks);
// Nothing when the data is not a whole number of entries, or none.
std::optional<std::vector<Chunk>> DecodeChunkIndex(std::string_view data);

// Whether the chunks tile the member's deflate data exactly, in order, add
// up to the archive its trailer describes (lengths and CRC), and each hold
// no more than kMaxChunkSize.
bool ChunksFitMember(const std::vector<Chunk>& chunks, const MemberFrame& frame);

// The index in the header of the payload of length bytes at start in fd,
// checked against the member's frame, into *chunks; empty when the member
// has none.  False when it has one that cannot be read or does not fit: a
// damaged file.
bool ChunkIndexOf(int fd, off_t start, off_t length, const GzipHeader& header,
                  std::vector<Chunk>* chunks);
// The same for a payload whose header is not yet read, as the packer
// checks what it wrote.
bool ReadChunkIndex(int fd, off_t start, off_t length, std::vector<Chunk>* chunks);

#endif
