// A destination typed in the wizard as a relative path: the tree lands below
// the installer's working directory, and the installer becomes the player
// there, although unpacking has changed into that directory meanwhile.
#include <gtest/gtest.h>  // before the X headers and their macros

#include "TestSupport.h"
#include "WizardDriver.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

enum Button { kAcceptButton = 2, kFinishButton = 3 };

// Starts the wizard with dir as its working directory.
std::unique_ptr<Wizard> StartIn(const fs::path& dir, const fs::path& home)
{
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    LaunchOptions options;
    options.installer = SAMPLE_INSTALLER;
    options.home = home.string();
    auto wizard = std::make_unique<Wizard>(options);
    fs::current_path(previous);
    return wizard;
}

}  // namespace

TEST(WizardRelativeDestination, InstallsBelowTheWorkingDirectoryAndBecomesThePlayer)
{
    const ScratchDir scratch("ovelo8-relative");
    ASSERT_FALSE(scratch.path().empty());
    fs::create_directory(scratch / "home");
    auto wizard = StartIn(scratch.path(), scratch / "home");
    ASSERT_TRUE(wizard->Found());
    wizard->ClickButton(kAcceptButton);
    ASSERT_TRUE(wizard->WaitForPage(2));
    wizard->SetDestination("installed");
    wizard->ClickButton(kFinishButton);

    ASSERT_EQ(wizard->WaitForExit(20000), std::optional<int>(0));
    const fs::path destination = scratch / "installed";
    EXPECT_TRUE(fs::is_regular_file(destination / "ovelo"));
    const std::string output = wizard->Output();
    EXPECT_NE(output.find("args: inst\n"), std::string::npos) << output;
    EXPECT_NE(output.find("cwd: " + destination.string() + "\n"), std::string::npos) << output;
    EXPECT_NE(output.find("pid: " + std::to_string(wizard->pid()) + "\n"), std::string::npos)
        << "exec, not fork: " << output;
}
