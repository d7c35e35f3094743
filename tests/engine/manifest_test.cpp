// The manifest as it is read back: every name as it was written, and a
// line naming anything but a plain relative path, or with fields out of
// shape, refused as a whole manifest.
#include <gtest/gtest.h>

#include "ScratchDir.h"
#include "descriptor.h"
#include "manifest.h"

#include <fcntl.h>
#include <fstream>

namespace {

// The manifest holding line, read back: its one path, or "refused".
std::string ReadBack(const std::string& line)
{
    const ScratchDir scratch{"ovelo8-engine"};
    std::ofstream(scratch / kManifestName, std::ios::binary) << "ovelo8-manifest 1\n" << line;
    const Descriptor folder(open(scratch.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::vector<ManifestEntry> entries;
    if (ReadManifest(folder.get(), &entries) != ManifestRead::kRead)
        return "refused";
    return entries.size() == 1 ? entries[0].path : "not one entry";
}

std::string LineOf(const std::string& path)
{
    return ManifestText({{'f', 0644, 3, 12345, path}}).substr(sizeof "ovelo8-manifest 1\n" - 1);
}

struct LineCase {
    const char* what;
    std::string line;
    std::string path;  // "refused": the manifest is not read
};

class ManifestLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(ManifestLines, ReadBackAsWrittenOrRefused)
{
    EXPECT_EQ(ReadBack(GetParam().line), GetParam().path);
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
        LineCase{"NoClosingNewline", "f 0644 3 1 a", "refused"}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return info.param.what; });

}  // namespace
