// The payload's checksum must be the one cksum(1) prints, which packaging
// writes, whichever way the bytes reach it: the tables take what comes in
// pieces too short to fold, carry-less folding the rest, 16 or 32 bytes at
// a time as the processor allows, with an odd tail either way.
#include <gtest/gtest.h>

#include "ScratchDir.h"
#include "cksum.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

// What cksum(1) prints for the bytes, through a file of this run's own.
void CksumOf(const std::vector<unsigned char>& bytes, std::uint32_t* printed)
{
    const ScratchDir scratch{"ovelo8-checksum"};
    ASSERT_FALSE(scratch.path().empty());
    const std::string path = scratch / "bytes";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    FILE* cksum = popen(("cksum < " + path).c_str(), "r");
    ASSERT_NE(cksum, nullptr);
    unsigned long crc = 0;
    const int read = std::fscanf(cksum, "%lu", &crc);
    pclose(cksum);
    ASSERT_EQ(read, 1) << "cksum printed no checksum";
    *printed = static_cast<std::uint32_t>(crc);
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
        std::uint32_t expected = 0;
        ASSERT_NO_FATAL_FAILURE(CksumOf(bytes, &expected));
        EXPECT_EQ(CrcInPieces(bytes, length + 1), expected) << length << " bytes at once";
        EXPECT_EQ(CrcInPieces(bytes, 63), expected) << length << " bytes, 63 at a time";
        EXPECT_EQ(CrcInPieces(bytes, 1000), expected) << length << " bytes, 1000 at a time";
    }
}

}  // namespace
