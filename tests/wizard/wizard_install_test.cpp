// The wizard when an installation is under way or fails: the error dialog,
// the progress page and what the keys do there, and Cancel in the middle of
// an unpacking, which puts the destination back as it was.  Real packaged installers on $DISPLAY, driven through XTEST.
#include <gtest/gtest.h>  // before the X headers and their macros

#include "TestSupport.h"
#include "WizardDriver.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <iostream>
#include <random>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kSampleInstaller = SAMPLE_INSTALLER;
const std::string kImage = INSTALLER_IMAGE;
const std::string kMkinstaller = MKINSTALLER;
const std::string kScreenshots = SCREENSHOT_DIR;
const std::string kWriteFault = WRITE_FAULT;
const std::string kSampleProduct = SAMPLE_PRODUCT;
const char kSettingsName[] = ".Quorvex_ZembraSDK_60";
constexpr unsigned long kBarBlue = 0x3131ce;
constexpr unsigned long kWhite = 0xffffff;

enum Button { kBackButton = 1, kAcceptButton = 2, kFinishButton = 3 };

void WriteExecutable(const std::string& path, const std::string& content)
{
    std::ofstream(path) << content;
    chmod(path.c_str(), 0755);
}

// The error dialog read from its pixels: the etched separator divides the
// message from the button row; the buttons show as runs of white top
// shadow, the message as bands of dark rows right of the symbol.
struct DialogLook {
    int buttons = 0;
    int textLines = 0;
    std::vector<int> lineStarts;  // the leftmost ink of each line
};

int SeparatorRow(XImage* image, int width, int height)
{
    for (int y = height - 1; y > 0; --y) {
        int white = 0;
        for (int x = 0; x < width; ++x)
            white += XGetPixel(image, x, y) == kWhite;
        if (white > width * 8 / 10)
            return y;
    }
    return -1;
}

// The black of the text, and the darkest of its smoothed edges.
bool Dark(unsigned long pixel)
{
    return ((pixel >> 16 & 0xff) + (pixel >> 8 & 0xff) + (pixel & 0xff)) / 3 < 0x60;
}

DialogLook ReadDialog(Display* display, const Box& dialog)
{
    const Image image = Capture(display, dialog);
    DialogLook look;
    if (!image)  // off the screen: nothing to read
        return look;
    const int separator = SeparatorRow(image.get(), dialog.width, dialog.height);
    if (separator < 0)
        return look;

    std::vector<std::pair<int, int>> runs;
    for (int y = separator + 2; y < dialog.height; ++y)
        for (int x = 0, start = -1; x <= dialog.width; ++x) {
            const bool white = x < dialog.width && XGetPixel(image.get(), x, y) == kWhite;
            if (white && start < 0)
                start = x;
            if (!white && start >= 0) {
                if (x - start >= 20 && x - start < dialog.width * 8 / 10)
                    runs.emplace_back(start, x);
                start = -1;
            }
        }
    std::sort(runs.begin(), runs.end());
    for (std::size_t i = 0; i < runs.size(); ++look.buttons) {
        int end = runs[i].second;
        while (i < runs.size() && runs[i].first <= end)
            end = std::max(end, runs[i++].second);
    }

    bool inLine = false;
    for (int y = 0; y < separator - 1; ++y) {
        int x = 40;
        while (x < dialog.width - 4 && !Dark(XGetPixel(image.get(), x, y)))
            ++x;
        const bool ink = x < dialog.width - 4;
        if (ink && !inLine)
            look.lineStarts.push_back(x);
        if (ink)
            look.lineStarts.back() = std::min(look.lineStarts.back(), x);
        look.textLines += ink && !inLine;
        inLine = ink;
    }
    return look;
}

std::vector<Atom> WindowState(Display* display, Window window)
{
    const auto state = WindowProperty<long>(display, window, "_NET_WM_STATE", XA_ATOM);
    return state ? std::vector<Atom>(state->begin(), state->end()) : std::vector<Atom>();
}

// Share of the bar painted blue, from its left edge.
int BarPercent(Wizard& wizard)
{
    const std::optional<Box> bar = wizard.ProgressBar();
    if (!bar)
        return -1;
    const Image image = Capture(wizard.display(), *bar);
    int blue = 0;
    while (blue < bar->width && XGetPixel(image.get(), blue, 1) == kBarBlue)
        ++blue;
    return blue * 100 / bar->width;
}

class InstallTest : public testing::Test {
protected:
    // fault: how the installer's writes go wrong (tests/support/write_fault.c).
    std::unique_ptr<Wizard> StartOnPage2(const std::string& installer,
                                         const std::string& fault = "")
    {
        LaunchOptions options;
        options.installer = installer;
        options.home = home_.path();
        if (!fault.empty())
            options.environment = {"LD_PRELOAD=" + kWriteFault, "OVELO8_WRITE_FAULT=" + fault};
        auto wizard = std::make_unique<Wizard>(options);
        EXPECT_TRUE(wizard->Found());
        if (wizard->Found()) {
            wizard->ClickButton(kAcceptButton);
            EXPECT_TRUE(wizard->WaitForPage(2));
        }
        return wizard;
    }

    std::optional<Box> WaitForDialog(Wizard& wizard)
    {
        for (int i = 0; i < 100; ++i) {
            if (std::optional<Box> dialog = FindTopLevel(wizard.display(), "Error")) {
                wizard.Settle();
                return dialog;
            }
            wizard.Settle(50);
        }
        return std::nullopt;
    }

    // Finish with destination typed into the field, and the dialog it brings.
    std::optional<Box> FinishInto(Wizard& wizard, const std::string& destination)
    {
        wizard.SetDestination(destination);
        wizard.ClickButton(kFinishButton);
        return WaitForDialog(wizard);
    }

    // An earlier version, with a notes.txt the new one does not ship,
    // installed into destination, and that file changed by the user since.
    void InstallEarlierWithChangedNotes(const std::string& destination)
    {
        const std::string tree = work_ / "product";
        fs::copy(kSampleProduct, tree, fs::copy_options::recursive);
        std::ofstream(tree + "/notes.txt") << "shipped in the earlier version\n";
        const std::string earlier = work_ / "earlier.run";
        ASSERT_TRUE(::Run(Quote(kMkinstaller) + " " + Quote(kImage) + " " + Quote(tree) + " " +
                          Quote(earlier)));
        ASSERT_TRUE(::Run(Quote(earlier) + " -s " + Quote(destination)));
        std::ofstream(destination + "/notes.txt", std::ios::app) << "changed by the user\n";
    }

    void PressOk(Wizard& wizard, const Box& dialog)
    {
        MovePointer(wizard.display(), dialog.CentreX(), dialog.y + 4);
        XSetInputFocus(wizard.display(), dialog.window, RevertToPointerRoot, CurrentTime);
        PressKey(wizard.display(), XK_Return);
        wizard.Settle();
    }

    ScratchDir home_{"wizard-test"};
    ScratchDir work_{"wizard-test"};
};

// --------------------------------------------------------------- the dialog

TEST_F(InstallTest, AFailedCheckShowsTheDialogOverPage2UntilOkThenFinishWorksAgain)
{
    auto wizard = StartOnPage2(kSampleInstaller);
    ASSERT_TRUE(wizard->Found());
    // Moved off the corner, as a window manager would place it: a dialog
    // wider than the wizard is still centred over it.
    XMoveWindow(wizard->display(), wizard->window(), 300, 200);
    wizard->Settle();
    const std::optional<Box> dialog = FinishInto(*wizard, "");
    ASSERT_TRUE(dialog) << "no window titled \"Error\"";
    EXPECT_TRUE(SaveWindowPng(wizard->display(), dialog->window,
                              kScreenshots + "/error-dialog.png"));
    const DialogLook look = ReadDialog(wizard->display(), *dialog);
    EXPECT_EQ(look.buttons, 1) << "OK only";
    EXPECT_EQ(look.textLines, 1);
    // Modal for window managers, so that they keep the focus on it, and
    // tied to the wizard.
    EXPECT_EQ(WindowState(wizard->display(), dialog->window),
              std::vector<Atom>{XInternAtom(wizard->display(), "_NET_WM_STATE_MODAL", False)});
    Window transientFor = None;
    EXPECT_TRUE(XGetTransientForHint(wizard->display(), dialog->window, &transientFor));
    EXPECT_EQ(transientFor, wizard->window());

    wizard->Key(XK_c);  // the dialog is modal: the wizard takes no keys
    EXPECT_FALSE(wizard->WaitForExit(300));
    EXPECT_TRUE(FindTopLevel(wizard->display(), "Error"));

    PressOk(*wizard, *dialog);
    EXPECT_FALSE(FindTopLevel(wizard->display(), "Error"));
    EXPECT_EQ(wizard->ShowingPage(), 2);

    // A wider message next: centred over the wizard too, as the first.
    const std::string file = work_ / std::string(60, 'f');
    WriteExecutable(file, "");
    const std::optional<Box> wider = FinishInto(*wizard, file);
    ASSERT_TRUE(wider);
    EXPECT_GT(wider->width, dialog->width + 100);
    const Box shell = Geometry(wizard->display(), wizard->window());
    for (const Box& shown : {*dialog, *wider}) {
        EXPECT_NEAR(shown.CentreX(), shell.CentreX(), 1);
        EXPECT_NEAR(shown.CentreY(), shell.CentreY(), 1);
    }
    PressOk(*wizard, *wider);

    const std::string destination = work_ / "second try";
    wizard->SetDestination(destination);
    wizard->ClickButton(kFinishButton);
    EXPECT_EQ(wizard->WaitForExit(20000), std::optional<int>(0));
    EXPECT_TRUE(fs::is_regular_file(destination + "/ovelo"));
}

// On a screen of 640x480 a message wider than the screen is broken
// between words (a word too long for a line after a slash), and the dialog
// shows whole on the screen.  A message of several lines keeps them all,
// an indented one its indentation.
TEST_F(InstallTest, AMessageWiderThanTheScreenIsBrokenToFitIt)
{
    const std::optional<std::string> small = SmallScreenDisplay();
    if (!small)
        GTEST_SKIP() << "the X server has no second screen of 640x480";
    LaunchOptions options;
    options.installer = kSampleInstaller;
    options.display = *small;
    options.home = home_.path();
    auto wizard = std::make_unique<Wizard>(options);
    ASSERT_TRUE(wizard->Found());
    const std::string file = work_ / "a plain file";
    std::ofstream(file) << "in the way\n";
    // By keys alone: the pointer of the test server stays on its first screen.
    const auto finishInto = [&](const std::string& destination) {
        wizard->Key(XK_Tab, true);  // from Finish to the field
        wizard->Key(XK_Home);
        wizard->Key(XK_End, true);  // the whole line, replaced by what is typed
        wizard->Type(destination);
        wizard->Key(XK_Tab);
        wizard->Key(XK_Return);
        return WaitForDialog(*wizard);
    };
    wizard->Key(XK_Return);
    ASSERT_TRUE(wizard->WaitForPage(2));
    const std::optional<Box> dialog =
        finishInto(file + "/" + std::string(70, 'w') + "/under a folder that a file is in");
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(SaveRootRegionPng(wizard->display(), 0, 0, 640, 480,
                                  kScreenshots + "/error-dialog-small-screen.png"));
    EXPECT_GE(dialog->x, 0);
    EXPECT_GE(dialog->y, 0);
    EXPECT_LE(dialog->x + dialog->width, 640);
    EXPECT_LE(dialog->y + dialog->height, 480);
    EXPECT_GE(ReadDialog(wizard->display(), *dialog).textLines, 3);
    PressOk(*wizard, *dialog);
    EXPECT_EQ(wizard->ShowingPage(), 2);

    const std::string destination = work_ / std::string(60, 'd');
    ASSERT_NO_FATAL_FAILURE(InstallEarlierWithChangedNotes(destination));
    const std::optional<Box> kept = finishInto(destination);
    ASSERT_TRUE(kept);
    const DialogLook look = ReadDialog(wizard->display(), *kept);
    ASSERT_EQ(look.textLines, 3) << "the notice, and the file kept broken in two";
    EXPECT_GT(look.lineStarts[1], look.lineStarts[0] + 3) << "the file is indented";
    PressOk(*wizard, *kept);
    EXPECT_EQ(wizard->WaitForExit(5000), std::optional<int>(0));
}

TEST_F(InstallTest, AMessageWithANewlineShowsOnTwoLines)
{
    // Started from a copy that is gone by the time Finish checks for it.
    const std::string copy = work_ / "installer.run";
    fs::copy_file(kSampleInstaller, copy);
    auto wizard = StartOnPage2(copy);
    ASSERT_TRUE(wizard->Found());
    fs::remove(copy);
    const std::optional<Box> dialog = FinishInto(*wizard, work_ / "dest");
    ASSERT_TRUE(dialog);
    EXPECT_EQ(ReadDialog(wizard->display(), *dialog).textLines, 2)
        << "\"unable to find location...\" breaks after \"Please run \"";
    EXPECT_EQ(wizard->ShowingPage(), 2);
    EXPECT_FALSE(fs::exists(work_ / "dest"));
}

// A settings file that must not be written through (HOME may be another
// user's) is named in the dialog; the installation stands, and the player
// starts once the message is dismissed.
TEST_F(InstallTest, ASettingsLinkIsNamedThenThePlayerStarts)
{
    const std::string target = work_ / "not-theirs";
    { std::ofstream(target) << "kept\n"; }
    fs::create_directories(home_.path());
    fs::create_symlink(target, home_ / kSettingsName);
    auto wizard = StartOnPage2(kSampleInstaller);
    ASSERT_TRUE(wizard->Found());
    const std::string destination = work_ / "dest";
    const std::optional<Box> dialog = FinishInto(*wizard, destination);
    ASSERT_TRUE(dialog);
    EXPECT_FALSE(wizard->WaitForExit(300)) << "the message waits for the user";
    PressOk(*wizard, *dialog);
    ASSERT_EQ(wizard->WaitForExit(5000), std::optional<int>(0));
    EXPECT_NE(wizard->Output().find("args: inst"), std::string::npos) << wizard->Output();
    EXPECT_EQ(ReadFile(target), "kept\n");
}

// An upgrade that keeps an earlier file the user changed names it in the
// dialog before the player starts; the file stays as the user left it.
TEST_F(InstallTest, AnUpgradeNamesTheChangedFilesItKeepsThenThePlayerStarts)
{
    const std::string destination = work_ / "dest";
    ASSERT_NO_FATAL_FAILURE(InstallEarlierWithChangedNotes(destination));
    auto wizard = StartOnPage2(kSampleInstaller);
    ASSERT_TRUE(wizard->Found());
    const std::optional<Box> dialog = FinishInto(*wizard, destination);
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(SaveWindowPng(wizard->display(), dialog->window,
                              kScreenshots + "/kept-files-dialog.png"));
    EXPECT_EQ(ReadDialog(wizard->display(), *dialog).textLines, 2) << "the notice and the file";
    EXPECT_FALSE(wizard->WaitForExit(300)) << "the message waits for the user";
    PressOk(*wizard, *dialog);
    ASSERT_EQ(wizard->WaitForExit(5000), std::optional<int>(0));
    EXPECT_NE(wizard->Output().find("args: inst"), std::string::npos) << wizard->Output();
    EXPECT_EQ(ReadFile(destination + "/notes.txt"),
              "shipped in the earlier version\nchanged by the user\n");
}

// Writing fails (the disk is full): the message stays over the progress
// page, nothing follows it, nothing is left in the destination, and once it
// is dismissed, or the window is closed, the installer ends with status 1.
class FailedUnpackingTest : public InstallTest, public testing::WithParamInterface<bool> {};

TEST_P(FailedUnpackingTest, EndsWithStatus1AfterItsMessage)
{
    auto wizard = StartOnPage2(kSampleInstaller, "fail:4096");
    ASSERT_TRUE(wizard->Found());
    const std::string destination = work_ / "dest";
    const std::optional<Box> dialog = FinishInto(*wizard, destination);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(ReadDialog(wizard->display(), *dialog).textLines, 3)
        << "the file not written, then \"Installation failed...\" breaks after \"you\"";
    EXPECT_EQ(wizard->ShowingPage(), 3);
    EXPECT_FALSE(wizard->WaitForExit(300)) << "the message waits for the user";

    if (GetParam())
        wizard->CloseByWindowManager();
    else
        PressOk(*wizard, *dialog);
    ASSERT_EQ(wizard->WaitForExit(2000), std::optional<int>(1));
    EXPECT_EQ(wizard->Output(), "") << "no player";
    EXPECT_FALSE(fs::exists(home_ / kSettingsName));
    EXPECT_FALSE(fs::exists(destination));
}

INSTANTIATE_TEST_SUITE_P(, FailedUnpackingTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "WindowClosed" : "MessageDismissed";
                         });

// ------------------------------------------------------- a long unpacking

// A product with a few megabytes of incompressible data between a small
// first member and the player, written at about 2.5 MB/s (a pause for each
// write of at most 256 KiB) unless a longer pause is asked for.
class SlowInstallTest : public InstallTest {
protected:
    static void SetUpTestSuite()
    {
        product_ = std::make_unique<ScratchDir>("wizard-test");
        const std::string tree = *product_ / "tree";
        fs::create_directories(tree + "/data");
        std::ofstream(tree + "/aaa-first.txt") << "unpacked before anything else\n";
        std::mt19937 random(8);
        std::ofstream blob(tree + "/data/blob", std::ios::binary);
        for (int i = 0; i < 6 * 1024 * 1024 / 4; ++i) {
            const std::uint32_t word = random();
            blob.write(reinterpret_cast<const char*>(&word), sizeof word);
        }
        blob.close();
        WriteExecutable(tree + "/ovelo", "#!/bin/sh\necho started\n");
        installer_ = *product_ / "slow.run";
        ASSERT_TRUE(::Run(Quote(kMkinstaller) + " " + Quote(kImage) + " " + Quote(tree) + " " +
                        Quote(installer_)));
    }
    static void TearDownTestSuite() { product_.reset(); }

    static std::string Slowly(const char* pause = "100000")
    {
        return std::string("pause:") + pause;
    }

    static std::unique_ptr<ScratchDir> product_;
    static std::string installer_;
};

std::unique_ptr<ScratchDir> SlowInstallTest::product_;
std::string SlowInstallTest::installer_;

TEST_F(SlowInstallTest, CancelInTheMiddleEndsAtOnceAndLeavesNothing)
{
    auto wizard = StartOnPage2(installer_, Slowly());
    ASSERT_TRUE(wizard->Found());
    const std::string destination = work_ / "dest";
    wizard->SetDestination(destination);
    wizard->Key(XK_Tab);  // out of the field: F belongs to the wizard again
    wizard->Key(XK_f);
    ASSERT_TRUE(wizard->WaitForPage(3));

    int percent = -1;
    for (int i = 0; i < 400 && percent < 45; ++i) {
        wizard->Settle(20);
        percent = BarPercent(*wizard);
    }
    EXPECT_GE(percent, 45);
    EXPECT_LT(percent, 100) << "the unpacking should still be running";
    EXPECT_TRUE(SaveWindowPng(wizard->display(), wizard->window(),
                              kScreenshots + "/page3-progress-half.png"));

    // No second installation and no other page while this one runs.
    for (unsigned long key : {XK_a, XK_b, XK_Return, XK_f}) {
        wizard->Key(key);
        EXPECT_EQ(wizard->ShowingPage(), 3) << XKeysymToString(key);
        EXPECT_FALSE(wizard->Page2Viewable()) << XKeysymToString(key);
        EXPECT_TRUE(wizard->Buttons().empty()) << XKeysymToString(key);
    }
    EXPECT_FALSE(FindTopLevel(wizard->display(), "Error"));
    EXPECT_LT(BarPercent(*wizard), 100);

    wizard->Key(XK_c);
    ASSERT_EQ(wizard->WaitForExit(1000), std::optional<int>(0)) << "at once";
    EXPECT_EQ(wizard->Output(), "") << "no player";
    EXPECT_FALSE(fs::exists(destination));
    EXPECT_EQ(fs::directory_iterator(work_.path()), fs::directory_iterator()) << "left behind";
    EXPECT_FALSE(fs::exists(home_ / kSettingsName));
}

TEST_F(SlowInstallTest, TheBarFillsUpAndThePlayerStarts)
{
    auto wizard = StartOnPage2(installer_, Slowly());
    ASSERT_TRUE(wizard->Found());
    const std::string destination = work_ / "dest";
    wizard->SetDestination(destination);
    wizard->ClickButton(kFinishButton);
    ASSERT_TRUE(wizard->WaitForPage(3));
    int last = 0;
    bool grew = false;
    while (!wizard->WaitForExit(0)) {
        const int percent = BarPercent(*wizard);
        EXPECT_GE(percent, percent < 0 ? percent : last) << "the bar never shrinks";
        grew = grew || (percent > last && last > 0);
        last = std::max(last, percent);
        wizard->Settle(100);
    }
    EXPECT_TRUE(grew) << "the bar was seen growing";
    ASSERT_EQ(wizard->WaitForExit(), std::optional<int>(0));
    EXPECT_EQ(wizard->Output(), "started\n");
    EXPECT_EQ(fs::file_size(destination + "/data/blob"), 6u * 1024 * 1024);
}

// An upgrade killed half way is undone before this one unpacks; the wizard
// says so once all is installed, and the player starts when that is read.
TEST_F(SlowInstallTest, AnInterruptedRunIsNamedOnceInstalledThenThePlayerStarts)
{
    const std::string destination = work_ / "dest";
    ASSERT_TRUE(::Run(Quote(kSampleInstaller) + " -s " + Quote(destination)));
    ::Run("LD_PRELOAD=" + Quote(kWriteFault) + " OVELO8_WRITE_FAULT=rename:1:9 " +
          Quote(installer_) + " -s " + Quote(destination) + " 2>/dev/null");
    ASSERT_TRUE(fs::exists(destination + "/.ovelo8-work")) << "no killed run to recover";
    auto wizard = StartOnPage2(installer_, Slowly());
    ASSERT_TRUE(wizard->Found());
    const std::optional<Box> dialog = FinishInto(*wizard, destination);
    ASSERT_TRUE(dialog);
    std::error_code error;
    EXPECT_EQ(fs::file_size(destination + "/data/blob", error), 6u * 1024 * 1024)
        << "the message came before the unpacking had ended";
    EXPECT_FALSE(wizard->WaitForExit(300)) << "the message waits for the user";
    PressOk(*wizard, *dialog);
    ASSERT_EQ(wizard->WaitForExit(5000), std::optional<int>(0));
    EXPECT_EQ(wizard->Output(), "started\n");
}

// ----------------------------------------- C puts the destination back

// Every entry below dir with its type, mode, size, time and inode.
std::string TreeListing(const std::string& dir)
{
    std::string listing;
    std::error_code error;
    for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end;
         it.increment(error)) {
        struct stat info;
        if (lstat(it->path().c_str(), &info) == 0)
            listing += it->path().string() + " " + std::to_string(info.st_mode) + " " +
                       std::to_string(info.st_size) + " " + std::to_string(info.st_mtime) + " " +
                       std::to_string(info.st_ino) + "\n";
    }
    return listing;
}

// Finish with slow writes, then C (with Alt or without) once the bar shows
// the percentage wanted: the installer ends at once (0.2 s, asserted with
// room to spare), a new destination is not there and an existing one is
// as it was, and the player never starts.
class CancelPutsBackTest : public SlowInstallTest {
protected:
    void CancelAt(int wanted, bool withAlt, bool existing = false)
    {
        const std::string destination = work_ / "dest";
        std::string before;
        if (existing) {
            ASSERT_TRUE(::Run(Quote(kSampleInstaller) + " -s " + Quote(destination)));
            std::ofstream(destination + "/mine.txt") << "the user's\n";
            before = TreeListing(destination);
        }
        auto wizard = StartOnPage2(installer_, Slowly("150000"));
        ASSERT_TRUE(wizard->Found());
        wizard->SetDestination(destination);
        wizard->Key(XK_Tab);
        wizard->Key(XK_f);
        ASSERT_TRUE(wizard->WaitForPage(3));
        int percent = -1;
        for (int i = 0; i < 1000 && percent < wanted; ++i) {
            wizard->Settle(20);
            percent = BarPercent(*wizard);
        }
        ASSERT_GE(percent, wanted);
        ASSERT_FALSE(wizard->WaitForExit(0)) << "the writing should still go on";
        // A bar wiped clean is painted again: the window serves its events.
        const std::optional<Box> bar = wizard->ProgressBar();
        ASSERT_TRUE(bar);
        XClearArea(wizard->display(), bar->window, 0, 0, 0, 0, True);
        wizard->Settle(200);
        EXPECT_GE(BarPercent(*wizard), wanted) << "the bar was not repainted";

        const auto pressed = std::chrono::steady_clock::now();
        const KeyCode alt = XKeysymToKeycode(wizard->display(), XK_Alt_L);
        if (withAlt)
            XTestFakeKeyEvent(wizard->display(), alt, True, CurrentTime);
        PressKey(wizard->display(), XK_c);  // the window has had the focus since F
        if (withAlt)
            XTestFakeKeyEvent(wizard->display(), alt, False, CurrentTime);
        ASSERT_EQ(wizard->WaitForExit(1000), std::optional<int>(0)) << "at once";
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - pressed);
        std::cout << "C at " << percent << "%: ended in " << took.count() << " ms\n";
        EXPECT_EQ(wizard->Output(), "") << "no player";
        EXPECT_FALSE(fs::exists(home_ / kSettingsName));
        if (existing)
            EXPECT_EQ(TreeListing(destination), before) << "the installation was changed";
        else
            EXPECT_FALSE(fs::exists(destination));
    }
};

TEST_F(CancelPutsBackTest, CAtTenPercentLeavesNoDestination)
{
    CancelAt(10, false);
}

TEST_F(CancelPutsBackTest, AltCAtHalfWayLeavesNoDestination)
{
    CancelAt(50, true);
}

TEST_F(CancelPutsBackTest, CWhileTheLastBlocksAreWrittenLeavesNoDestination)
{
    CancelAt(95, false);
}

TEST_F(CancelPutsBackTest, CAtHalfWayPutsAnEarlierInstallationBack)
{
    CancelAt(50, false, true);
}

}  // namespace
