// What the engine refuses before it writes anything, and where it writes:
// the trailer, the gzip member, the tar stream and the destination, one
// table row a case, in process.
#include <gtest/gtest.h>

#include "ScratchDir.h"
#include "beneath.h"
#include "destination.h"
#include "inflate.h"
#include "installer_file.h"
#include "payload.h"
#include "space.h"
#include "tar_filter.h"
#include "writer.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace {

// The header with its checksum made right for what it holds now.
std::string Resummed(std::string header)
{
    header.replace(148, 8, "        ");
    unsigned sum = 0;
    for (const unsigned char c : header)
        sum += c;
    char number[16];
    std::snprintf(number, sizeof number, "%06o", sum);
    header.replace(148, 6, number);
    return header;
}

// A ustar header as a packager writes it, its checksum right.
std::string Header(const std::string& name, char type, unsigned mode, std::size_t size,
                   const std::string& link = "")
{
    std::string header(kTarBlock, '\0');
    auto put = [&header](std::size_t at, const std::string& text) { header.replace(at, text.size(), text); };
    char number[16];
    put(0, name);
    std::snprintf(number, sizeof number, "%07o", mode);
    put(100, number);
    put(108, "0000000");
    put(116, "0000000");
    std::snprintf(number, sizeof number, "%011zo", size);
    put(124, number);
    put(136, "15000000000");
    header[156] = type;
    put(157, link);
    put(257, std::string("ustar\0" "00", 8));
    return Resummed(header);
}

std::string Member(const std::string& name, char type, unsigned mode, const std::string& data = "")
{
    std::string member = Header(name, type, mode, data.size()) + data;
    return member.append((kTarBlock - data.size() % kTarBlock) % kTarBlock, '\0');
}

const std::string kPlayer = Member("./ovelo", '0', 0755, "#!/bin/sh\n");
const std::string kEnd(2 * kTarBlock, '\0');
const std::string kSound = Member("./", '5', 0755) + Member("./a", '0', 0644, "a\n") + kPlayer + kEnd;

// What the filter hands on of the archive.
std::string Passed(TarFilter& filter, const std::string& archive)
{
    std::string kept;
    filter.Pass(archive.data(), archive.size(), [&kept](const char* data, std::size_t count) {
        kept.append(data, count);
        return true;
    });
    return kept;
}

// A file whose size, in base 256, is 2^80: kept to 64 bits it would read
// as an empty file, and what follows as its next header.
std::string WithOverflowingSize()
{
    std::string header = Header("./big", '0', 0644, 0);
    header.replace(124, 12, std::string("\x80\x01", 2) + std::string(10, '\0'));
    return Resummed(header);
}

// A pax extended header of the records given, "KEYWORD=VALUE" each.
std::string Extended(std::initializer_list<std::string> records)
{
    std::string data;
    for (const std::string& record : records) {
        std::size_t length = record.size() + 3;  // the blank, the newline, one digit
        while (std::to_string(length).size() + record.size() + 2 != length)
            ++length;
        data += std::to_string(length) + " " + record + "\n";
    }
    return Member("./PaxHeaders/x", 'x', 0644, data);
}

const std::string kLongName = "./" + std::string(200, 'd') + "/" + std::string(150, 'f');

// The first header with one byte of its name changed after its sum.
std::string WithBadSum(std::string archive)
{
    archive[kTarBlock + 1] ^= 1;
    return archive;
}

// A seal of bytes and entries, and fragments of each size for the room
// (none: a version 1 seal).
Seal SealOf(std::uint64_t bytes, std::uint64_t entries, std::uint64_t fragments = 0)
{
    Seal seal;
    seal.bytes = bytes;
    seal.entries = entries;
    seal.hasRoom = fragments > 0;
    for (std::size_t i = 0; seal.hasRoom && i < seal.room.size(); ++i)
        seal.room[i] = fragments * (512u << i);
    return seal;
}

// The top folder, a folder, a file of 2 bytes, a hard link to it, a link
// too long for its inode and a short one, and the player of 10 bytes: 5
// entries, 12 bytes and 5 fragments, as the packer counts them.
const std::string kEveryKind =
    Member("./", '5', 0755) + Member("./d", '5', 0755) + Member("./a", '0', 0644, "a\n") +
    Header("./h", '1', 0644, 0, "./a") + Header("./l", '2', 0777, 0, std::string(60, 'x')) +
    Header("./s", '2', 0777, 0, std::string(59, 'x')) + kPlayer + kEnd;

struct FilterCase {
    const char* what;
    std::string archive;
    Fault refusal;  // kNone: it passes
    std::string name = std::string();  // the member it names
    std::optional<Seal> seal = std::nullopt;
};

class FilterTable : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterTable, RefusesWhatCanNotBeInstalledSafely)
{
    TarFilter filter;
    if (GetParam().seal)
        filter.Expect(*GetParam().seal);
    Passed(filter, GetParam().archive);
    const bool passed = !filter.Refused() && filter.Finish();
    EXPECT_EQ(passed, GetParam().refusal == Fault::kNone);
    EXPECT_EQ(filter.Refusal().fault, GetParam().refusal);
    EXPECT_EQ(filter.Refusal().name, GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Archive, FilterTable,
    ::testing::Values(
        FilterCase{"Sound", kSound, Fault::kNone},
        FilterCase{"HeaderSumWrong", WithBadSum(kSound), Fault::kDamagedHeader},
        FilterCase{"SizeBeyond64Bits", WithOverflowingSize() + kPlayer + kEnd,
                   Fault::kDamagedHeader},
        FilterCase{"DataAfterTheEnd", kSound + Member("./b", '0', 0644), Fault::kDataAfterEnd},
        FilterCase{"NoEndBlocks", kSound.substr(0, kSound.size() - kEnd.size()),
                   Fault::kArchiveEndsEarly},
        FilterCase{"MemberBelowAFile", Member("./a", '0', 0644) + Member("./a/b", '0', 0644) + kPlayer + kEnd,
                   Fault::kBelowFile, "a/b"},
        FilterCase{"NameTwice", Member("./a", '0', 0644) + Member("a", '5', 0755) + kPlayer + kEnd,
                   Fault::kTwice, "a"},
        FilterCase{"TheInstallersOwnName", Member("./.ovelo8-manifest", '0', 0644) + kPlayer + kEnd,
                   Fault::kReservedName, ".ovelo8-manifest"},
        FilterCase{"HardLinkToALaterMember", Header("./b", '1', 0644, 0, "./a") + Member("./a", '0', 0644) + kPlayer + kEnd,
                   Fault::kHardLinkToNothing, "b"},
        FilterCase{"LongNamesInExtendedHeaders",
                   Extended({"path=" + kLongName}) + Member("./f", '0', 0644, "f\n") +
                       Extended({"path=./l", "linkpath=" + kLongName}) + Header("./l", '1', 0644, 0, "./x") +
                       Extended({"path=./s", "linkpath=" + std::string(300, 't'), "comment=ignored"}) +
                       Header("./s", '2', 0777, 0) + kPlayer + kEnd,
                   Fault::kNone},
        FilterCase{"ExtendedNameClimbsOut", Extended({"path=./a/../../x"}) + Member("./a", '0', 0644) + kPlayer + kEnd,
                   Fault::kMemberOutside, "./a/../../x"},
        FilterCase{"ExtendedNameAbsolute", Extended({"path=/etc/x"}) + Member("./a", '0', 0644) + kPlayer + kEnd,
                   Fault::kMemberOutside, "/etc/x"},
        FilterCase{"ExtendedNameOfTheInstaller", Extended({"path=./.ovelo8-work"}) + Member("./a", '0', 0644) + kPlayer + kEnd,
                   Fault::kReservedName, ".ovelo8-work"},
        FilterCase{"ExtendedNameBelowASymbolicLink",
                   Header("./s", '2', 0777, 0, "/etc") + Extended({"path=./s/" + std::string(120, 'x')}) +
                       Member("./a", '0', 0644) + kPlayer + kEnd,
                   Fault::kBelowLink, "s/" + std::string(120, 'x')},
        FilterCase{"ExtendedLinkToNoEarlierMember",
                   Member("./a", '0', 0644) + Extended({"linkpath=" + kLongName}) + Header("./b", '1', 0644, 0, "./a") +
                       kPlayer + kEnd,
                   Fault::kHardLinkToNothing, "b"},
        FilterCase{"ExtendedSizeOverTheHeaders", Extended({"size=2"}) + Header("./a", '0', 0644, 0) + "a\n" +
                       std::string(kTarBlock - 2, '\0') + kPlayer + kEnd,
                   Fault::kNone},
        FilterCase{"ExtendedRecordOfAWrongLength", Member("./PaxHeaders/x", 'x', 0644, "9 path=./a\n") +
                       Member("./a", '0', 0644) + kPlayer + kEnd,
                   Fault::kDamagedHeader},
        FilterCase{"ExtendedHeaderLast", kSound.substr(0, kSound.size() - kEnd.size()) + Extended({"path=./b"}) + kEnd,
                   Fault::kArchiveEndsEarly},
        FilterCase{"GlobalExtendedHeader", Member("./PaxHeaders/g", 'g', 0644, "13 path=./a\n") + kSound,
                   Fault::kUnsupportedMember, "PaxHeaders/g"},
        FilterCase{"AddsUpToItsSeal", kEveryKind, Fault::kNone, "", SealOf(12, 5, 5)},
        FilterCase{"AddsUpToAFirstVersionSeal", kEveryKind, Fault::kNone, "", SealOf(12, 5)},
        FilterCase{"SealClaimsFewerBytes", kEveryKind, Fault::kSealMismatch, "", SealOf(11, 5, 5)},
        FilterCase{"SealClaimsMoreEntries", kEveryKind, Fault::kSealMismatch, "", SealOf(12, 6, 5)},
        FilterCase{"SealClaimsLessRoom", kEveryKind, Fault::kSealMismatch, "", SealOf(12, 5, 4)}),
    [](const ::testing::TestParamInfo<FilterCase>& info) { return info.param.what; });

// A forged seal never has a member written that takes the archive past it.
TEST(Filter, AMemberPastTheSealIsRefusedBeforeItIsAnnounced)
{
    TarFilter filter;
    filter.Expect(SealOf(1, 2));
    std::vector<std::string> announced;
    filter.onEntry = [&announced](const ArchiveEntry& entry) { announced.push_back(entry.path); };
    EXPECT_EQ(Passed(filter, kSound), "");
    EXPECT_EQ(filter.Refusal().fault, Fault::kSealMismatch);
    EXPECT_TRUE(announced.empty()) << announced.front();
}

// The writer gets each member's header and data, never the extended
// header, and each entry as the extended header describes it.
TEST(Filter, AnExtendedHeaderDescribesTheNextEntryAndIsNotPassedOn)
{
    const std::string file = Header("./x", '0', 0644, 0) + "ab\n" + std::string(kTarBlock - 3, '\0');
    const std::string archive = Extended({"path=" + kLongName, "size=3", "mtime=-1.5"}) + file + kPlayer + kEnd;
    std::vector<ArchiveEntry> entries;
    TarFilter filter;
    filter.onEntry = [&entries](const ArchiveEntry& entry) { entries.push_back(entry); };
    const std::string kept = Passed(filter, archive);
    ASSERT_TRUE(filter.Finish()) << static_cast<int>(filter.Refusal().fault);
    EXPECT_EQ(kept, file + kPlayer);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].path, kLongName.substr(2));
    EXPECT_EQ(entries[0].size, 3u);
    EXPECT_EQ(entries[0].mtime, -2);
    EXPECT_EQ(entries[1].mtime, 015000000000);
}

// An installer file of a payload and the trailer given, in a scratch folder.
class FileOnDisk {
public:
    FileOnDisk(const std::string& payload, const std::string& trailer)
    {
        std::ofstream(path_, std::ios::binary) << payload << trailer;
        fd_ = Descriptor(open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    }
    int fd() const { return fd_.get(); }

private:
    ScratchDir scratch_{"ovelo8-engine"};
    std::string path_ = scratch_ / "installer.run";
    Descriptor fd_;
};

struct TrailerCase {
    const char* what;
    std::string trailer;  // after a payload of 3 bytes
    off_t length;         // 0: no payload found
};

class TrailerTable : public ::testing::TestWithParam<TrailerCase> {};

TEST_P(TrailerTable, NamesThePayloadOrNothing)
{
    const FileOnDisk file("abc", GetParam().trailer);
    const std::optional<Payload> payload = FindPayload(file.fd());
    EXPECT_EQ(payload.has_value(), GetParam().length > 0);
    EXPECT_EQ(payload ? payload->length : 0, GetParam().length);
}

INSTANTIATE_TEST_SUITE_P(
    Trailer, TrailerTable,
    ::testing::Values(TrailerCase{"Plain", "\n3\n", 3}, TrailerCase{"Blanks", "\n 3\r\n", 3},
                      TrailerCase{"LastByteNotANewline", "\n3x", 0},
                      TrailerCase{"NoClosingNewline", "\n3", 0}, TrailerCase{"Signed", "\n+3\n", 0},
                      TrailerCase{"Zero", "\n0\n", 0}, TrailerCase{"LongerThanTheFile", "\n9\n", 0},
                      TrailerCase{"Beyond64Bits", "\n18446744073709551619\n", 0}),
    [](const ::testing::TestParamInfo<TrailerCase>& info) { return info.param.what; });

// A gzip member of the archive whose comment field pads it to exactly
// length bytes, when length is given.
std::string GzipMember(const std::string& archive, std::size_t length = 0)
{
    std::string deflated(compressBound(archive.size()) + 64, '\0');
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(archive.data()));
    stream.avail_in = archive.size();
    stream.next_out = reinterpret_cast<Bytef*>(deflated.data());
    stream.avail_out = deflated.size();
    deflate(&stream, Z_FINISH);
    deflated.resize(stream.total_out);
    deflateEnd(&stream);
    const std::size_t fixed = 10 + 1 + deflated.size() + 8;
    std::string member("\x1f\x8b\x08\x10\0\0\0\0\0\x03", 10);
    member += std::string(length > fixed ? length - fixed : 0, 'x') + '\0' + deflated;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(archive.data()), archive.size());
    for (const uLong word : {crc, static_cast<uLong>(archive.size())})
        for (int shift = 0; shift < 32; shift += 8)
            member += static_cast<char>(word >> shift & 0xff);
    return member;
}

// Who takes the archive: the sink and the observer take it all, or one of
// them stops it at the first piece.
enum class Taker { kAll, kSinkRefuses, kObserverStops };

struct MemberCase {
    const char* what;
    std::string payload;
    Streamed streamed;
    Fault damage;
    Taker taker = Taker::kAll;
};

class Stopping : public Observer {
public:
    explicit Stopping(bool stop) : stop_(stop) {}
    bool Unpacked(std::uint64_t, std::uint64_t) override { return !stop_; }

private:
    bool stop_;
};

class MemberTable : public ::testing::TestWithParam<MemberCase> {};

TEST_P(MemberTable, EndsWhereTheArchiveEnds)
{
    const std::string& bytes = GetParam().payload;
    const FileOnDisk onDisk(bytes, "\n" + std::to_string(bytes.size()) + "\n");
    InstallerFile file;
    ASSERT_TRUE(ReadInstallerFile(onDisk.fd(), &file).ok());
    TarFilter filter;
    Stopping observer(GetParam().taker == Taker::kObserverStops);
    const bool refuse = GetParam().taker == Taker::kSinkRefuses;
    Outcome damage;
    std::string archive;
    const Streamed streamed = StreamArchive(
        file, filter, observer,
        [&](const char* data, std::size_t count) { return archive.append(data, count), !refuse; },
        &damage);
    EXPECT_EQ(streamed, GetParam().streamed);
    EXPECT_EQ(damage.fault, GetParam().damage);
}

// A member that ends exactly where one read of the payload ends.
const std::size_t kReadBoundary = 256 * 1024;

INSTANTIATE_TEST_SUITE_P(
    Payload, MemberTable,
    ::testing::Values(
        MemberCase{"Sound", GzipMember(kSound), Streamed::kComplete, Fault::kNone},
        MemberCase{"SoundOnAReadBoundary", GzipMember(kSound, kReadBoundary), Streamed::kComplete,
                   Fault::kNone},
        MemberCase{"JunkAfterAMemberOnAReadBoundary", GzipMember(kSound, kReadBoundary) + "junk",
                   Streamed::kDamaged, Fault::kTrailingData},
        MemberCase{"JunkAfterAMember", GzipMember(kSound) + "junk", Streamed::kDamaged,
                   Fault::kTrailingData},
        MemberCase{"RefusedByTheSink", GzipMember(kSound), Streamed::kRefused, Fault::kNone,
                   Taker::kSinkRefuses},
        MemberCase{"StoppedByTheObserver", GzipMember(kSound), Streamed::kStopped, Fault::kNone,
                   Taker::kObserverStops}),
    [](const ::testing::TestParamInfo<MemberCase>& info) { return info.param.what; });

TEST(Beneath, NeverFollowsALinkNorClimbsOut)
{
    const ScratchDir scratch{"ovelo8-engine"};
    ASSERT_EQ(mkdir((scratch / "a").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((scratch / "a/b").c_str(), 0755), 0);
    ASSERT_EQ(symlink("a", (scratch / "link").c_str()), 0);
    const Descriptor top(open(scratch.path().c_str(), O_PATH | O_DIRECTORY));
    EXPECT_TRUE(OpenBeneath(top.get(), "a/b", O_PATH | O_DIRECTORY));
    EXPECT_TRUE(OpenBeneath(top.get(), "link", O_PATH)) << "the link itself";
    for (const char* path : {"link/b", "link", "../" , "a/../../x"})
        EXPECT_FALSE(OpenBeneath(top.get(), path, O_RDONLY | O_DIRECTORY)) << path;
}

// Another user's folder put where the destination was, after the walk:
// the writer goes on writing into the folder it walked to.
TEST(Destination, AFolderSwappedInAfterTheWalkIsNeverWrittenInto)
{
    SKIP_UNLESS_ROOT();
    const ScratchDir scratch{"ovelo8-engine"};
    const std::string path = scratch / "dest";
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    Destination place;
    Outcome refusal;
    ASSERT_EQ(WalkDestination(path, &place, &refusal), Walked::kReached);
    EXPECT_TRUE(RefusedDestination(path, place.folder.get()).ok());
    ProductWriter writer;
    ASSERT_TRUE(writer.BeginExisting(place.folder.get()).ok());

    ASSERT_EQ(rename(path.c_str(), (scratch / "walked").c_str()), 0);
    ASSERT_EQ(mkdir(path.c_str(), 0777), 0);
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    TarFilter filter;
    filter.onEntry = [&writer](const ArchiveEntry& entry) { writer.Announce(entry); };
    const std::string kept = Passed(filter, kSound);
    ASSERT_TRUE(writer.Take(kept.data(), kept.size()));
    ASSERT_TRUE(writer.Finish()) << writer.Failure().name;
    struct stat info;
    EXPECT_EQ(stat((scratch / "walked/ovelo").c_str(), &info), 0);

    Destination again;
    ASSERT_EQ(WalkDestination(path, &again, &refusal), Walked::kReached);
    EXPECT_EQ(RefusedDestination(path, again.folder.get()).fault, Fault::kForeignDestination);
    EXPECT_EQ(rmdir(path.c_str()), 0) << "the swapped-in folder was written into";
}

// Links that lead to each other on the way are given up, not followed for ever.
TEST(Destination, ALinkLoopOnTheWayFailsInsteadOfHanging)
{
    const ScratchDir scratch{"ovelo8-engine"};
    ASSERT_EQ(symlink("b", (scratch / "a").c_str()), 0);
    ASSERT_EQ(symlink("a", (scratch / "b").c_str()), 0);
    Destination place;
    Outcome refusal;
    EXPECT_EQ(WalkDestination(scratch / "a/dest", &place, &refusal), Walked::kFailed);
    EXPECT_EQ(refusal.error, ELOOP);  // the reason the message gives
}

// Root installs only where no one else may change what is on the way.
TEST(Destination, RootRefusesAFolderOnTheWayItsGroupMayChange)
{
    SKIP_UNLESS_ROOT();
    const ScratchDir scratch{"ovelo8-engine"};
    ASSERT_EQ(mkdir((scratch / "shared").c_str(), 0755), 0);
    ASSERT_EQ(chmod((scratch / "shared").c_str(), 0775), 0);
    Destination place;
    Outcome refusal;
    EXPECT_EQ(WalkDestination(scratch / "shared/dest", &place, &refusal), Walked::kRefused);
    EXPECT_EQ(refusal.fault, Fault::kOnWayOpenToOthers);
    EXPECT_EQ(refusal.other, scratch / "shared");
}

// A folder made at the new destination's name while it was written is the
// user's: it is never replaced, empty as it is.
TEST(Writer, ANewDestinationThatAppearedMeanwhileIsNeverReplaced)
{
    const ScratchDir scratch{"ovelo8-engine"};
    const Descriptor parent(open(scratch.path().c_str(), O_PATH | O_DIRECTORY));
    ProductWriter writer;
    ASSERT_TRUE(writer.BeginNew(parent.get(), "dest").ok());
    TarFilter filter;
    filter.onEntry = [&writer](const ArchiveEntry& entry) { writer.Announce(entry); };
    const std::string kept = Passed(filter, kSound);
    ASSERT_TRUE(writer.Take(kept.data(), kept.size()));
    ASSERT_EQ(mkdir((scratch / "dest").c_str(), 0700), 0);
    EXPECT_FALSE(writer.Finish());
    EXPECT_TRUE(writer.Appeared());
    EXPECT_EQ(rmdir((scratch / "dest").c_str()), 0) << "the folder that appeared was replaced";
}

// Room and inodes as the file system reports them, against a product of
// 40 KiB in 4 KiB blocks and 10 entries.
struct SpaceCase {
    const char* what;
    fsblkcnt_t freeBlocks;
    fsfilcnt_t inodes, freeInodes;
    Fault shortfall;
};

class SpaceTable : public ::testing::TestWithParam<SpaceCase> {};

TEST_P(SpaceTable, IsShortOnlyWhenMoreIsNeededThanThereIs)
{
    Seal seal;
    seal.bytes = 30000;
    seal.entries = 10;
    seal.hasRoom = true;
    seal.room.fill(40960);
    struct statvfs space {};
    space.f_frsize = 4096;
    space.f_bavail = GetParam().freeBlocks;
    space.f_files = GetParam().inodes;
    space.f_favail = GetParam().freeInodes;
    const Outcome found = Shortfall(space, "/d", seal, false);
    EXPECT_EQ(found.fault, GetParam().shortfall);
}

INSTANTIATE_TEST_SUITE_P(
    Space, SpaceTable,
    ::testing::Values(SpaceCase{"ExactlyEnough", 10, 100, 10, Fault::kNone},
                      SpaceCase{"OneBlockShort", 9, 100, 10, Fault::kNoRoom},
                      SpaceCase{"OneInodeShort", 10, 100, 9, Fault::kNoEntries},
                      SpaceCase{"NoInodesCounted", 10, 0, 0, Fault::kNone}),
    [](const ::testing::TestParamInfo<SpaceCase>& info) { return info.param.what; });

}  // namespace
