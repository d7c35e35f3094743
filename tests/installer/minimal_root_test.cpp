// The packaged sample's wizard in a minimal root (no Motif, no X library,
// no font, no locale file), talking to the suite's X server through its
// socket directory bound into the root: it installs, writes the settings
// file and becomes the player, without a warning.
#include <gtest/gtest.h>  // before the X headers and their macros

#include "TestSupport.h"
#include "WizardDriver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

enum Button { kAcceptButton = 2, kFinishButton = 3 };

// A script that starts the installer inside the root in the C locale with
// nothing of our environment but the display (and its cookie, copied into
// the root); the installer's standard error goes to errors.  The server's
// socket directory is bound read-only into the root in a mount namespace of
// the installer's own, so the binding ends with the installer, even one
// killed with the test: removing the root never reaches the real directory.
std::string WriteLauncher(const fs::path& root, const std::string& display,
                          const fs::path& errors)
{
    std::string cookie;
    const char* authority = std::getenv("XAUTHORITY");
    if (authority && fs::is_regular_file(authority)) {
        fs::copy_file(authority, root / "xauthority");
        cookie = "/xauthority";
    }
    fs::create_directories(root / "tmp/.X11-unix");
    const fs::path launcher = root.parent_path() / "launch";
    std::ofstream(launcher)
        << "#!/bin/sh\nexec unshare --mount --propagation private sh -ec '\n"
        << "  mount --bind /tmp/.X11-unix \"$1/tmp/.X11-unix\"\n"
        << "  mount -o remount,bind,ro \"$1/tmp/.X11-unix\"\n"
        << "  exec env -i PATH=/usr/bin:/bin HOME=/home/user DISPLAY=\"$2\" ${3:+\"XAUTHORITY=$3\"} \\\n"
        << "      /usr/sbin/chroot \"$1\" /ovelo8.run' sh " << Quote(root) << " "
        << Quote(display) << " " << Quote(cookie) << " 2>" << Quote(errors) << "\n";
    chmod(launcher.c_str(), 0755);
    return launcher;
}

}  // namespace

TEST(MinimalRoot, TheWizardInstallsAndStartsThePlayerWithoutWarnings)
{
    if (getuid() != 0)
        GTEST_SKIP() << "chroot, unshare and mount need root";
    const char* display = std::getenv("DISPLAY");
    ASSERT_NE(display, nullptr) << "no $DISPLAY to run the wizard on";
    const ScratchDir scratch("ovelo8-minimal-root");
    ASSERT_FALSE(scratch.path().empty());
    const fs::path root = scratch / "root";
    ASSERT_TRUE(::Run("sh " + Quote(MAKE_MINIMAL_ROOT) + " " + Quote(root)));
    fs::copy_file(SAMPLE_INSTALLER, root / "ovelo8.run");
    chmod((root / "ovelo8.run").c_str(), 0755);
    fs::create_directories(root / "home/user");
    fs::create_directory(root / "opt");
    const fs::path errors = scratch / "errors";

    LaunchOptions options;
    options.installer = WriteLauncher(root, display, errors);
    Wizard wizard(options);
    ASSERT_TRUE(wizard.Found()) << ReadFile(errors);
    wizard.ClickButton(kAcceptButton);
    ASSERT_TRUE(wizard.WaitForPage(2));
    wizard.SetDestination("/opt/Ovelo8");
    wizard.ClickButton(kFinishButton);

    ASSERT_EQ(wizard.WaitForExit(20000), std::optional<int>(0)) << ReadFile(errors);
    EXPECT_TRUE(::Run("diff -r -x .ovelo8-manifest " + Quote(SAMPLE_PRODUCT) + " " + Quote(root / "opt/Ovelo8")));
    EXPECT_TRUE(fs::is_regular_file(root / "home/user/.Quorvex_ZembraSDK_60"));
    const std::string output = wizard.Output();
    EXPECT_NE(output.find("args: inst\n"), std::string::npos) << output;
    EXPECT_NE(output.find("cwd: /opt/Ovelo8\n"), std::string::npos) << output;
    EXPECT_EQ(ReadFile(errors), "");
}
