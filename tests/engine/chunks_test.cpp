// The indexed payload, packed by the real helper from a real archive: its
// index must tile the member exactly, and each chunk must decompress to its
// recorded length and CRC, whatever the number of threads; anything else
// is damage, found before the chunk is handed on.
#include <gtest/gtest.h>

#include "ScratchDir.h"
#include "chunk_index.h"
#include "parallel_inflate.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// A tree of 7 MiB, noise and text, packed once: four chunks, which gzip
// reads as the one stream of the archive.
class Chunks : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        scratch_ = std::make_unique<ScratchDir>("ovelo8-engine");
        dir_ = scratch_->path();
        ASSERT_EQ(std::system(("mkdir " + dir_ + "/tree").c_str()), 0);
        std::mt19937 random(16);
        std::string noise(3 << 20, '\0'), text;
        for (char& c : noise)
            c = static_cast<char>(random());
        while (text.size() < (4u << 20))
            text += "clip " + std::to_string(random() % 1000) + " of the catalogue\n";
        WriteFile(dir_ + "/tree/noise", noise);
        WriteFile(dir_ + "/tree/text", text);
        WriteFile(dir_ + "/tree/ovelo", "#!/bin/sh\n");
        // Behind an empty image: the file is the payload and its trailer.
        ASSERT_EQ(std::system(("cd " + dir_ + " && : >image && " + PACK_HELPER +
                               " image tree installer.run && head -c \"$(tail -n 1 installer.run)\" "
                               "installer.run >payload.gz && gzip -dc payload.gz >archive.tar")
                                  .c_str()),
                  0);
        archive_ = ReadFile(dir_ + "/archive.tar");
    }
    static void TearDownTestSuite() { scratch_.reset(); }

    void SetUp() override
    {
        fd_ = open((dir_ + "/payload.gz").c_str(), O_RDONLY);
        ASSERT_GE(fd_, 0);
        length_ = lseek(fd_, 0, SEEK_END);
        ASSERT_TRUE(ReadChunkIndex(fd_, 0, length_, &chunks_));
        ASSERT_EQ(chunks_.size(), 4u);
    }
    void TearDown() override { close(fd_); }

    // The frame of the packed member, as ReadChunkIndex checked it; its CRC
    // that of the chunks given.
    MemberFrame Frame(const std::vector<Chunk>& chunks) const
    {
        MemberFrame frame;
        frame.dataStart = chunks_.front().offset;
        frame.dataEnd = static_cast<std::uint64_t>(length_) - 8;
        frame.size = static_cast<std::uint32_t>(archive_.size());
        frame.crc = 0;
        for (const Chunk& chunk : chunks)
            frame.crc = static_cast<std::uint32_t>(
                crc32_combine(frame.crc, chunk.crc, static_cast<z_off_t>(chunk.size)));
        return frame;
    }

    ChunksOutcome Inflate(const std::vector<Chunk>& chunks, int threads, std::string* out,
                          std::size_t stopAfter = SIZE_MAX)
    {
        return InflateChunks(
            fd_, 0, chunks, threads,
            [&](const char* data, std::size_t count) {
                out->append(data, count);
                return out->size() < stopAfter;
            },
            [](std::uint64_t) { return true; });
    }

    static std::unique_ptr<ScratchDir> scratch_;
    static std::string dir_;
    static std::string archive_;
    int fd_ = -1;
    off_t length_ = 0;
    std::vector<Chunk> chunks_;
};

std::unique_ptr<ScratchDir> Chunks::scratch_;
std::string Chunks::dir_;
std::string Chunks::archive_;

TEST_F(Chunks, GiveTheArchiveInOrderWithAnyNumberOfThreads)
{
    for (int threads : {1, 2, 8}) {
        std::string out;
        EXPECT_EQ(Inflate(chunks_, threads, &out).end, ChunksEnd::Done) << threads;
        EXPECT_TRUE(out == archive_) << threads << " threads gave another archive";
    }
}

TEST_F(Chunks, ThatDoNotTileTheMemberOrAddUpAreRefused)
{
    EXPECT_TRUE(ChunksFitMember(chunks_, Frame(chunks_)));
    const struct {
        const char* what;
        void (*edit)(std::vector<Chunk>*);
    } cases[] = {
        {"a chunk beyond the payload", [](std::vector<Chunk>* c) { (*c)[3].offset += 1u << 30; }},
        {"a length past the end", [](std::vector<Chunk>* c) { (*c)[3].compressedSize += 1; }},
        {"overlapping chunks", [](std::vector<Chunk>* c) {
             (*c)[1].offset -= 1;
             (*c)[1].compressedSize += 1;
         }},
        {"a chunk missing", [](std::vector<Chunk>* c) { c->erase(c->begin() + 1); }},
        {"a chunk twice", [](std::vector<Chunk>* c) { c->insert(c->begin() + 1, (*c)[1]); }},
        {"sizes that do not add up", [](std::vector<Chunk>* c) { (*c)[2].size += 512; }},
        {"a CRC that is not the archive's", [](std::vector<Chunk>* c) { (*c)[0].crc ^= 1; }},
        {"no chunk at all", [](std::vector<Chunk>* c) { c->clear(); }},
    };
    for (const auto& row : cases) {
        std::vector<Chunk> chunks = chunks_;
        row.edit(&chunks);
        EXPECT_FALSE(ChunksFitMember(chunks, Frame(chunks_))) << row.what;
    }
    // Lengths that still add up modulo 2^32, CRCs that still combine: only
    // the bound on a chunk keeps the reader from allocating gigabytes.
    std::vector<Chunk> huge = chunks_;
    huge[0].size += 1u << 31;
    huge[1].size += 1u << 31;
    EXPECT_FALSE(ChunksFitMember(huge, Frame(huge))) << "chunks too large to hold";
    EXPECT_FALSE(DecodeChunkIndex(EncodeChunkIndex(chunks_).substr(1))) << "a cut entry";
    EXPECT_EQ(DecodeChunkIndex(EncodeChunkIndex(chunks_))->at(3).crc, chunks_[3].crc);
}

TEST_F(Chunks, ThatDoNotDecompressToTheirLengthAndCrcAreDamage)
{
    const struct {
        const char* what;
        void (*edit)(std::vector<Chunk>*);
    } cases[] = {
        {"a CRC changed", [](std::vector<Chunk>* c) { (*c)[1].crc ^= 0x100; }},
        {"a length too short", [](std::vector<Chunk>* c) { (*c)[1].size -= 1; }},
        {"a length too long", [](std::vector<Chunk>* c) { (*c)[1].size += 1; }},
        {"a chunk cut short", [](std::vector<Chunk>* c) { (*c)[1].compressedSize -= 3; }},
        {"a chunk's end taken from the next", [](std::vector<Chunk>* c) { (*c)[1].compressedSize += 4; }},
    };
    for (const auto& row : cases) {
        std::vector<Chunk> chunks = chunks_;
        row.edit(&chunks);
        std::string out;
        const ChunksOutcome outcome = Inflate(chunks, 2, &out);
        EXPECT_EQ(outcome.end, ChunksEnd::Damaged) << row.what;
        EXPECT_EQ(outcome.damage, Fault::kChunkCorrupt) << row.what;
        EXPECT_EQ(out.size(), chunks_[0].size) << row.what << ": more than the chunk before handed on";
    }
}

// A flipped byte in the third chunk; bytes behind the last chunk's final
// block, inside its extent, which gzip would take for the trailer.
TEST_F(Chunks, ChangedInTheFileAreDamage)
{
    const std::string payload = ReadFile(dir_ + "/payload.gz");
    std::string flipped = payload;
    flipped[chunks_[2].offset + chunks_[2].compressedSize / 2] ^= 0xff;
    std::string padded = payload;
    padded.insert(padded.size() - 8, "junk");
    std::vector<Chunk> longer = chunks_;
    longer[3].compressedSize += 4;
    const struct {
        const char* what;
        const std::string& bytes;
        const std::vector<Chunk>& chunks;
        std::uint64_t handed;  // before the damage
    } cases[] = {
        {"a flipped byte", flipped, chunks_, std::uint64_t{chunks_[0].size} + chunks_[1].size},
        {"bytes after the final block", padded, longer, archive_.size() - chunks_[3].size},
    };
    for (const auto& row : cases) {
        WriteFile(dir_ + "/changed.gz", row.bytes);
        close(fd_);
        fd_ = open((dir_ + "/changed.gz").c_str(), O_RDONLY);
        std::string out;
        EXPECT_EQ(Inflate(row.chunks, 2, &out).end, ChunksEnd::Damaged) << row.what;
        EXPECT_EQ(out.size(), row.handed) << row.what;
    }
}

TEST_F(Chunks, StopWhenTheSinkOrTheProgressSaysSo)
{
    std::string out;
    EXPECT_EQ(Inflate(chunks_, 2, &out, 1).end, ChunksEnd::Stopped);
    int calls = 0;
    const ChunksOutcome outcome = InflateChunks(
        fd_, 0, chunks_, 2, [](const char*, std::size_t) { return true; },
        [&](std::uint64_t) { return ++calls < 3; });
    EXPECT_EQ(outcome.end, ChunksEnd::Stopped);
    EXPECT_EQ(calls, 3);
}

}  // namespace
