// The CRC of POSIX cksum(1): MSB first, polynomial 0x04C11DB7, the length
// appended, complemented.  The seal, the manifest and the writer use it, so
// that a packaging script and a user can compute the same with cksum.
#ifndef OVELO_ENGINE_CKSUM_H
#define OVELO_ENGINE_CKSUM_H

#include <cstddef>
#include <cstdint>
#include <string_view>

class CksumCrc {
public:
    void Update(const unsigned char* data, std::size_t count);
    void Update(std::string_view text)
    {
        Update(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    }
    std::uint32_t Final() const;

private:
    std::uint32_t crc_ = 0;
    std::uint64_t length_ = 0;
};

// The CRC of text in one piece.
inline std::uint32_t CksumOf(std::string_view text)
{
    CksumCrc crc;
    crc.Update(text);
    return crc.Final();
}

#endif
