// The manifest as it is read back: every name as it was written, and a
// line naming anything but a plain relative path, or with fields out of
// shape, refused as a whole manifest.
#include <gtest/gtest.h>

#include "ScratchDir.h"
#include "cksum.h"
#include "descriptor.h"
#include "manifest.h"
#include "uninstall.h"

#include <fcntl.h>
#include <fstream>
#include <unistd.h>

namespace {

// The manifest holding line, read back: its one path, or "refused".
std::string ReadBack(const std::string& line, const std::string& header = "ovelo8-manifest 1\n")
{
    const ScratchDir scratch{"ovelo8-engine"};
    std::ofstream(scratch / kManifestName, std::ios::binary) << header << line;
    const Descriptor folder(open(scratch.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::vector<ManifestEntry> entries;
    if (ReadManifest(folder.get(), &entries) != ManifestRead::kRead)
        return "refused";
    return entries.size() == 1 ? entries[0].path : "not one entry";
}

std::string LineOf(const std::string& path)
{
    return ManifestText(std::vector<ManifestEntry>{{'f', 0644, 3, 12345, path}})
        .substr(sizeof "ovelo8-manifest 1\n" - 1);
}

struct LineCase {
    const char* what;
    std::string line;
    std::string path;  // "refused": the manifest is not read
    std::string header = "ovelo8-manifest 1\n";
};

class ManifestLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(ManifestLines, ReadBackAsWrittenOrRefused)
{
    EXPECT_EQ(ReadBack(GetParam().line, GetParam().header), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Manifest, ManifestLines,
    ::testing::Values(
        LineCase{"LeadingBlank", LineOf(" lead"), " lead"},
        LineCase{"TrailingBlank", LineOf("trail "), "trail "},
        LineCase{"BlanksInFolders", LineOf(" a / b"), " a / b"},
        LineCase{"Backslash", LineOf("back\\slash\\"), "back\\slash\\"},
        LineCase{"Newline", LineOf("new\nline"), "new\nline"},
        LineCase{"Climbs", "f 0644 3 1 a/../b\n", "refused"},
        LineCase{"Absolute", "f 0644 3 1 /etc/passwd\n", "refused"},
        LineCase{"BadEscape", "f 0644 3 1 a\\x\n", "refused"},
        LineCase{"EscapeCutShort", "f 0644 3 1 a\\\n", "refused"},
        LineCase{"NoPath", "f 0644 3 1 \n", "refused"},
        LineCase{"NoBlankBeforeThePath", "f 0644 3 1\n", "refused"},
        LineCase{"TwoBlanksBetweenFields", "f  0644 3 1 a\n", "refused"},
        LineCase{"UnknownType", "p 0644 3 1 a\n", "refused"},
        LineCase{"ModeNotOctal", "f 0648 3 1 a\n", "refused"},
        LineCase{"SignedSize", "f 0644 -3 1 a\n", "refused"},
        LineCase{"ChecksumTooLarge", "f 0644 3 4294967296 a\n", "refused"},
        LineCase{"NoClosingNewline", "f 0644 3 1 a", "refused"},
        LineCase{"AnotherVersion", "f 0644 3 1 a\n", "refused", "ovelo8-manifest 2\n"}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return info.param.what; });

// However many lines a manifest has, what is held of it stays bounded:
// past 131,072 entries or 8 MiB it is not read.
TEST(Manifest, OnePastItsBoundsIsNotRead)
{
    const std::string line = "d 0 0 0 a\n";
    std::string lines;
    for (int i = 0; i < 128 * 1024; ++i)
        lines += line;
    EXPECT_EQ(ReadBack(lines), "not one entry");
    EXPECT_EQ(ReadBack(lines + line), "refused");
    // "ovelo8-manifest 1\n", "f 0 0 0 ", the path and its newline: 8 MiB.
    const std::string path(8 * 1024 * 1024 - 18 - 8 - 1, 'p');
    EXPECT_TRUE(ReadBack("f 0 0 0 " + path + "\n") == path);
    EXPECT_EQ(ReadBack("f 0 0 0 p" + path + "\n"), "refused");
}

// A manifest in a scratch folder that lists what it is given.
class Installed : public ::testing::Test {
protected:
    void List(const std::vector<ManifestEntry>& entries)
    {
        std::ofstream(scratch / kManifestName, std::ios::binary) << ManifestText(entries);
    }
    int Folder() { return folder.get(); }

    const ScratchDir scratch{"ovelo8-engine"};
    const Descriptor folder{open(scratch.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
};

// The manifest's checksum, not the size alone, tells an edit: an upgrade or
// an uninstall would otherwise delete a file the user changed, or a link
// the user pointed elsewhere.
TEST_F(Installed, AnEditThatKeepsTheSizeIsAChange)
{
    std::ofstream(scratch / "a.conf") << "volume=5\n";
    const Descriptor file(open((scratch / "a.conf").c_str(), O_RDONLY));
    std::uint32_t checksum = 0;
    ASSERT_TRUE(ChecksumOf(file.get(), &checksum));
    const ManifestEntry entry{'f', 0644, 9, checksum, "a.conf"};
    EXPECT_TRUE(Unchanged(Folder(), entry));
    std::ofstream(scratch / "a.conf") << "volume=9\n";
    EXPECT_FALSE(Unchanged(Folder(), entry));

    CksumCrc crc;
    crc.Update("clips");
    const ManifestEntry link{'l', 0777, 5, crc.Final(), "latest"};
    ASSERT_EQ(symlink("clips", (scratch / "latest").c_str()), 0);
    EXPECT_TRUE(Unchanged(Folder(), link));
    ASSERT_EQ(unlink((scratch / "latest").c_str()), 0);
    ASSERT_EQ(symlink("notes", (scratch / "latest").c_str()), 0);
    EXPECT_FALSE(Unchanged(Folder(), link));
}

// A listed folder replaced by a link can not be looked into: what it held
// is not taken for gone, and the manifest stays for another run.
TEST_F(Installed, AnUninstallThatFailsPartWayKeepsTheManifest)
{
    const ScratchDir elsewhere{"ovelo8-engine"};
    std::ofstream(elsewhere / "x") << "x\n";
    ASSERT_EQ(symlink(elsewhere.path().c_str(), (scratch / "a").c_str()), 0);
    List({{'d', 0755, 0, 0, "a"}, {'f', 0644, 2, 0, "a/x"}});
    Destination place;
    place.folder = Descriptor(dup(Folder()));
    UninstallReport report;
    EXPECT_EQ(Uninstall(place, &report), Uninstalled::kIncomplete);
    ASSERT_FALSE(report.failed.empty());
    EXPECT_EQ(report.failed[0].name, "a/x");
    EXPECT_EQ(access((scratch / kManifestName).c_str(), F_OK), 0) << "the manifest is gone";
    EXPECT_EQ(access((elsewhere / "x").c_str(), F_OK), 0);
}

}  // namespace
