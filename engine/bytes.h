// Exact reads at an offset, whole writes and little-endian numbers, as the
// payload's readers, the writers of records and the packer share them.
#ifndef OVELO_ENGINE_BYTES_H
#define OVELO_ENGINE_BYTES_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cerrno>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unistd.h>

// All count bytes at offset, or false: a short read is as bad as a failed one.
inline bool ReadExactly(int fd, void* buffer, std::size_t count, off_t offset)
{
    return pread(fd, buffer, count, offset) == static_cast<ssize_t>(count);
}

// All of text, through write(2) alone: nothing waits in a buffer, and a
// signal handler may use it.  False when a write fails or writes nothing.
inline bool WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Whether all count bytes at data are zero.
inline bool IsZero(const char* data, std::size_t count)
{
    return count == 0 || (data[0] == 0 && std::memcmp(data, data + 1, count - 1) == 0);
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
