// The settings file is written into the home folder whoever HOME names, so
// nothing found there is written through: links, FIFOs and other users'
// files are left as they are and named; an unusable HOME writes nothing.
#include <gtest/gtest.h>

#include "ScratchDir.h"
#include "settings.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kLines[] = "Bandwidth=10485800\nMaxBandwidth=10485800\n";

void Put(const std::string& path, const std::string& text, mode_t mode)
{
    std::ofstream(path) << text;
    chmod(path.c_str(), mode);
}

std::size_t Entries(const std::string& folder)
{
    std::size_t count = 0;
    for (auto it = std::filesystem::directory_iterator(folder);
         it != std::filesystem::directory_iterator(); ++it)
        ++count;
    return count;
}

class SettingsFileTest : public ::testing::Test {
protected:
    // What writing into the home folder found: kNone, or why it wrote
    // nothing, naming the file.
    Fault Written()
    {
        const Outcome outcome = WriteSettingsFile(home.path().c_str());
        EXPECT_TRUE(outcome.ok() || outcome.name == file) << outcome.name;
        return outcome.fault;
    }

    ScratchDir home{"ovelo8-engine"};
    const std::string file = home / kSettingsName;
};

TEST_F(SettingsFileTest, IsMadeOrReplacedWholeKeepingTheModeOfTheOld)
{
    const mode_t mask = umask(022);
    EXPECT_EQ(Written(), Fault::kNone);
    struct stat made;
    ASSERT_EQ(stat(file.c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777, 0644u);

    Put(file, "Bandwidth=1\nsomething much longer than the two lines together, to be gone\n", 0600);
    EXPECT_EQ(Written(), Fault::kNone);
    umask(mask);
    EXPECT_EQ(ReadFile(file), kLines);
    ASSERT_EQ(stat(file.c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777, 0600u);
    EXPECT_EQ(Entries(home.path()), 1u) << "a temporary file was left behind";
}

TEST_F(SettingsFileTest, NeverWritesThroughALinkOrIntoAFifo)
{
    const std::string target = home / "root-only";
    Put(target, "secret\n", 0600);
    ASSERT_EQ(symlink(target.c_str(), file.c_str()), 0);
    EXPECT_EQ(Written(), Fault::kSettingsLink);
    EXPECT_EQ(ReadFile(target), "secret\n");

    unlink(file.c_str());
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    EXPECT_EQ(Written(), Fault::kSettingsNotRegular);  // returns: nobody opens the other end
    EXPECT_EQ(Entries(home.path()), 2u);
}

TEST_F(SettingsFileTest, ForeignFileIsLeftAlone)
{
    SKIP_UNLESS_ROOT();
    Put(file, "theirs\n", 0644);
    ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
    EXPECT_EQ(Written(), Fault::kSettingsForeign);
    EXPECT_EQ(ReadFile(file), "theirs\n");
}

TEST_F(SettingsFileTest, AnEmptyOrRelativeHomeIsNoHome)
{
    const std::string cwd = std::filesystem::current_path();
    ASSERT_EQ(chdir(home.path().c_str()), 0);
    mkdir("relative", 0755);
    for (const char* unusable : {"", "relative", "."}) {
        EXPECT_TRUE(WriteSettingsFile(unusable).ok()) << unusable;
        EXPECT_FALSE(IsOwnHome(unusable)) << unusable;
    }
    EXPECT_TRUE(WriteSettingsFile(nullptr).ok());
    EXPECT_EQ(access((home / "relative/" + kSettingsName).c_str(), F_OK), -1);
    EXPECT_EQ(access(kSettingsName, F_OK), -1);
    EXPECT_EQ(access((std::string("/") + kSettingsName).c_str(), F_OK), -1);
    ASSERT_EQ(chdir(cwd.c_str()), 0);
}

// Root with another user's HOME (sudo keeps it) would leave a file of
// root's there, which that user's own runs could not replace.
TEST_F(SettingsFileTest, OtherUsersHomeIsNeitherOfferedNorWrittenInto)
{
    SKIP_UNLESS_ROOT();
    EXPECT_TRUE(IsOwnHome(home.path().c_str()));
    ASSERT_EQ(chown(home.path().c_str(), 65534, 65534), 0);
    EXPECT_FALSE(IsOwnHome(home.path().c_str()));
    EXPECT_EQ(Written(), Fault::kSettingsForeignHome);
    EXPECT_EQ(Entries(home.path()), 0u);
}

}  // namespace
