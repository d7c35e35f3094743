// Exact reads at an offset and little-endian numbers, as the payload's
// readers and its packer share them.
#ifndef OVELO_ENGINE_BYTES_H
#define OVELO_ENGINE_BYTES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <unistd.h>

// All count bytes at offset, or false: a short read is as bad as a failed one.
inline bool ReadExactly(int fd, void* buffer, std::size_t count, off_t offset)
{
    return pread(fd, buffer, count, offset) == static_cast<ssize_t>(count);
}

// The number held in bytes little-endian bytes at p.
inline std::uint64_t LittleEndian(const unsigned char* p, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

inline void PutLittleEndian(std::string* out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out->push_back(static_cast<char>((value >> (8 * i)) & 255));
}

#endif
