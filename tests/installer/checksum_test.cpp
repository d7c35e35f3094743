// The payload's checksum must be the one cksum(1) prints, which packaging
// writes, whichever way the bytes reach it: the tables take what comes in
// pieces too short to fold, carry-less folding the rest, 16 or 32 bytes at
// a time as the processor allows, with an odd tail either way.
#include <gtest/gtest.h>

#include "cksum.h"

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

std::uint32_t CksumOf(const std::vector<unsigned char>& bytes)
{
    const std::string path = ::testing::TempDir() + "checksum_test.bin";
    FILE* file = std::fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    FILE* cksum = popen(("cksum < " + path).c_str(), "r");
    unsigned long crc = 0;
    EXPECT_EQ(std::fscanf(cksum, "%lu", &crc), 1);
    pclose(cksum);
    std::remove(path.c_str());
    return static_cast<std::uint32_t>(crc);
}

std::uint32_t CrcInPieces(const std::vector<unsigned char>& bytes, std::size_t piece)
{
    CksumCrc crc;
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        crc.Update(bytes.data() + at, std::min(piece, bytes.size() - at));
    return crc.Final();
}

TEST(Checksum, MatchesCksumWholeAndInPieces)
{
    std::mt19937 random(8);
    for (std::size_t length : {0, 1, 63, 64, 255, 256, 4099, (1 << 20) + 13}) {
        std::vector<unsigned char> bytes(length);
        for (unsigned char& byte : bytes)
            byte = static_cast<unsigned char>(random());
        const std::uint32_t expected = CksumOf(bytes);
        EXPECT_EQ(CrcInPieces(bytes, length + 1), expected) << length << " bytes at once";
        EXPECT_EQ(CrcInPieces(bytes, 63), expected) << length << " bytes, 63 at a time";
        EXPECT_EQ(CrcInPieces(bytes, 1000), expected) << length << " bytes, 1000 at a time";
    }
}

}  // namespace
