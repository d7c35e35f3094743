// Writing, reading and checking the chunk index of a payload.
#include "chunk_index.h"

#include "bytes.h"
#include "gzip_header.h"

#include <zlib.h>

namespace {

constexpr std::size_t kGzipTrailer = 8;

}  // namespace

std::string EncodeChunkIndex(const std::vector<Chunk>& chunks)
{
    std::string data;
    data.reserve(chunks.size() * kChunkEntrySize);
    for (const Chunk& chunk : chunks) {
        PutLittleEndian(&data, chunk.offset, 8);
        PutLittleEndian(&data, chunk.compressedSize, 4);
        PutLittleEndian(&data, chunk.size, 4);
        PutLittleEndian(&data, chunk.crc, 4);
    }
    return data;
}

std::optional<std::vector<Chunk>> DecodeChunkIndex(std::string_view data)
{
    if (data.empty() || data.size() % kChunkEntrySize != 0)
        return std::nullopt;
    std::vector<Chunk> chunks(data.size() / kChunkEntrySize);
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    for (Chunk& chunk : chunks) {
        chunk.offset = LittleEndian(p, 8);
        chunk.compressedSize = static_cast<std::uint32_t>(LittleEndian(p + 8, 4));
        chunk.size = static_cast<std::uint32_t>(LittleEndian(p + 12, 4));
        chunk.crc = static_cast<std::uint32_t>(LittleEndian(p + 16, 4));
        p += kChunkEntrySize;
    }
    return chunks;
}

// Each chunk must start where the one before ended: that rules out gaps,
// overlaps and chunks outside the member at once.  The bound on a chunk's
// size keeps a forged index from making the reader allocate gigabytes.
bool ChunksFitMember(const std::vector<Chunk>& chunks, const MemberFrame& frame)
{
    std::uint64_t at = frame.dataStart;
    std::uint64_t size = 0;
    uLong crc = crc32(0, nullptr, 0);
    for (const Chunk& chunk : chunks) {
        if (chunk.offset != at || chunk.compressedSize == 0 || at > frame.dataEnd ||
            chunk.compressedSize > kMaxCompressedChunk || chunk.size > kMaxChunkSize)
            return false;
        at += chunk.compressedSize;
        size += chunk.size;
        crc = crc32_combine(crc, chunk.crc, static_cast<z_off_t>(chunk.size));
    }
    return !chunks.empty() && at == frame.dataEnd &&
           static_cast<std::uint32_t>(size) == frame.size && crc == frame.crc;
}

// An index goes only with a header of the fixed part and the extra field
// (no name, comment or header CRC), as packaging writes it: the deflate
// data then starts right behind the extra field.
bool ChunkIndexOf(int fd, off_t start, off_t length, const GzipHeader& header,
                  std::vector<Chunk>* chunks)
{
    chunks->clear();
    std::optional<Subfield> field;
    if (!FindSubfield(header.extra, kChunkIndexId, &field))
        return false;
    if (!field)
        return true;
    MemberFrame frame;
    frame.dataStart = static_cast<std::uint64_t>(header.extraOffset) + header.extra.size();
    unsigned char trailer[kGzipTrailer];
    if (header.flags != kGzipFlagExtra ||
        length < static_cast<off_t>(frame.dataStart + kGzipTrailer) ||
        !ReadExactly(fd, trailer, sizeof trailer, start + length - kGzipTrailer))
        return false;
    frame.dataEnd = static_cast<std::uint64_t>(length) - kGzipTrailer;
    frame.crc = static_cast<std::uint32_t>(LittleEndian(trailer, 4));
    frame.size = static_cast<std::uint32_t>(LittleEndian(trailer + 4, 4));
    std::optional<std::vector<Chunk>> decoded =
        DecodeChunkIndex(std::string_view(header.extra).substr(field->offset, field->size));
    if (!decoded || !ChunksFitMember(*decoded, frame))
        return false;
    *chunks = std::move(*decoded);
    return true;
}

bool ReadChunkIndex(int fd, off_t start, off_t length, std::vector<Chunk>* chunks)
{
    chunks->clear();
    std::optional<GzipHeader> header;
    if (!ReadGzipHeader(fd, start, length, &header))
        return false;
    return !header || ChunkIndexOf(fd, start, length, *header, chunks);
}
