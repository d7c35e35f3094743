// The wizard end to end: the real packaged installer on $DISPLAY, driven by
// keys and clicks through XTEST, with HOME and the destination in temporary
// folders.  Screenshots of what a user sees land in SCREENSHOT_DIR.
#include <gtest/gtest.h>  // before the X headers and their macros

#include "TestSupport.h"
#include "WizardDriver.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kSampleInstaller = SAMPLE_INSTALLER;
const std::string kSampleProduct = SAMPLE_PRODUCT;
const std::string kScreenshots = SCREENSHOT_DIR;
const char kSettingsName[] = ".Quorvex_ZembraSDK_60";
const char kSettings[] = "Bandwidth=10485800\nMaxBandwidth=10485800\n";

enum Button { kCancelButton = 0, kBackButton = 1, kAcceptButton = 2, kFinishButton = 3 };

void GiveToNobody(const std::string& path)
{
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
}

// Relative path -> type, permission bits and content, for comparing trees;
// the installer's own manifest left out.
std::map<std::string, std::string> Describe(const fs::path& top)
{
    std::map<std::string, std::string> tree;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(top)) {
        if (entry.path() == top / ".ovelo8-manifest")
            continue;
        const fs::file_status status = entry.symlink_status();
        std::string description =
            std::to_string(static_cast<int>(status.type())) + " " +
            std::to_string(static_cast<unsigned>(status.permissions()));
        if (fs::is_regular_file(status))
            description += " " + ReadFile(entry.path());
        tree[fs::relative(entry.path(), top).string()] = description;
    }
    return tree;
}

// What the sample player reports about its start, one "key: value" a line.
std::map<std::string, std::string> PlayerReport(const std::string& output)
{
    std::map<std::string, std::string> report;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos)
            report[line.substr(0, colon)] =
                line.substr(std::min(colon + 2, line.size()));
    }
    return report;
}

// Presses keys for letters the keyboard does not have, each through a
// spare key code of its own.  The mappings stay while this lives, so that
// the client reads every key after the change it was told of; then the
// codes get their old mapping back, for the tests that follow on the same
// server.
class SpareKeys {
public:
    explicit SpareKeys(Display* display) : display_(display)
    {
        XDisplayKeycodes(display_, &first_, &last_);
        map_ = XGetKeyboardMapping(display_, first_, last_ - first_ + 1, &perCode_);
    }
    ~SpareKeys()
    {
        for (int code : used_)
            XChangeKeyboardMapping(display_, code, perCode_, Row(code), 1);
        XSync(display_, False);
        XFree(map_);
    }
    SpareKeys(const SpareKeys&) = delete;
    SpareKeys& operator=(const SpareKeys&) = delete;

    void Press(KeySym keysym)
    {
        int spare = last_;
        while (spare > first_ && (Row(spare)[0] != NoSymbol || IsUsed(spare)))
            --spare;
        used_.push_back(spare);
        XChangeKeyboardMapping(display_, spare, 1, &keysym, 1);
        XSync(display_, False);
        XTestFakeKeyEvent(display_, spare, True, CurrentTime);
        XTestFakeKeyEvent(display_, spare, False, CurrentTime);
        XSync(display_, False);
    }

private:
    KeySym* Row(int code) const { return map_ + (code - first_) * perCode_; }
    bool IsUsed(int code) const
    {
        return std::find(used_.begin(), used_.end(), code) != used_.end();
    }

    Display* display_;
    int first_ = 0, last_ = 0, perCode_ = 0;
    KeySym* map_ = nullptr;  // as it was before
    std::vector<int> used_;
};

void Screenshot(Wizard& wizard, const std::string& name)
{
    EXPECT_TRUE(SaveWindowPng(wizard.display(), wizard.window(), kScreenshots + "/" + name));
}

// The locale of the wizards started from now on, which inherit our environment.
void UseLanguage(const char* language)
{
    unsetenv("LC_ALL");
    unsetenv("LC_CTYPE");
    setenv("LANG", language, 1);
}

class WizardTest : public testing::Test {
protected:
    std::unique_ptr<Wizard> Start(LaunchOptions options = {})
    {
        if (options.installer.empty())
            options.installer = kSampleInstaller;
        if (!options.home && !homeUnset_)
            options.home = home_.path();
        auto wizard = std::make_unique<Wizard>(options);
        EXPECT_TRUE(wizard->Found()) << "no window titled \"Ovelo 8 Installer\"";
        return wizard;
    }

    // Page 2 reached through the Accept button, with the focus on Finish.
    std::unique_ptr<Wizard> StartOnPage2(LaunchOptions options = {})
    {
        auto wizard = Start(options);
        if (wizard->Found()) {
            wizard->ClickButton(kAcceptButton);
            EXPECT_TRUE(wizard->WaitForPage(2));
        }
        return wizard;
    }

    void ExpectInstalledAndBecamePlayer(Wizard& wizard, const std::string& destination)
    {
        ASSERT_EQ(wizard.WaitForExit(20000), std::optional<int>(0));
        EXPECT_EQ(Describe(destination), Describe(kSampleProduct));
        const auto report = PlayerReport(wizard.Output());
        EXPECT_EQ(report.at("argv0"), destination + "/ovelo");
        EXPECT_EQ(report.at("args"), "inst");
        EXPECT_EQ(report.at("cwd"), destination);
        EXPECT_EQ(report.at("pid"), std::to_string(wizard.pid())) << "exec, not fork";
        EXPECT_EQ(ReadFile(home_ / kSettingsName), kSettings);
    }

    ScratchDir home_{"wizard-test"};
    ScratchDir work_{"wizard-test"};
    bool homeUnset_ = false;
};

// ---------------------------------------------------------------- window

TEST_F(WizardTest, WindowHasItsTitleSizeAndDecorations)
{
    auto wizard = Start();
    ASSERT_TRUE(wizard->Found());
    const Box shell = Geometry(wizard->display(), wizard->window());
    EXPECT_EQ(shell.width, 489);
    EXPECT_EQ(shell.height, 350);

    Display* display = wizard->display();
    const auto hints =
        WindowProperty<long>(display, wizard->window(), "_MOTIF_WM_HINTS", AnyPropertyType);
    ASSERT_TRUE(hints);
    ASSERT_GE(hints->size(), 3u);
    EXPECT_TRUE((*hints)[0] & 2) << "decorations flagged";
    EXPECT_EQ((*hints)[2], 58) << "border, title, window menu and minimize only";

    // No window manager may offer resizing or maximizing.
    XSizeHints size{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(display, wizard->window(), &size, &supplied));
    ASSERT_EQ(size.flags & (PMinSize | PMaxSize), PMinSize | PMaxSize);
    EXPECT_EQ(std::make_pair(size.min_width, size.min_height), std::make_pair(489, 350));
    EXPECT_EQ(std::make_pair(size.max_width, size.max_height), std::make_pair(489, 350));
    EXPECT_EQ(size.flags & (PPosition | USPosition), 0) << "placed by the window manager";

    char* iconName = nullptr;
    ASSERT_TRUE(XGetIconName(display, wizard->window(), &iconName));
    EXPECT_STREQ(iconName, "Ovelo 8 Installer");
    XFree(iconName);
    const auto pid = WindowProperty<long>(display, wizard->window(), "_NET_WM_PID", XA_CARDINAL);
    ASSERT_TRUE(pid);
    ASSERT_EQ(pid->size(), 1u);
    EXPECT_EQ(pid->front(), wizard->pid());

    EXPECT_EQ(wizard->ShowingPage(), 1);
    EXPECT_EQ(wizard->Buttons().size(), 4u);
    Screenshot(*wizard, "page1-licence.png");
}

// ------------------------------------------------------------------ look

// The desktop's resources on the root window, as xrdb leaves them, for the
// wizards started while this lives; what was there before is put back.
class DesktopResources {
public:
    DesktopResources(Display* display, const char* resources)
        : display_(display), property_(XInternAtom(display, "RESOURCE_MANAGER", False))
    {
        if (auto text = WindowProperty<char>(display_, Root(), "RESOURCE_MANAGER", XA_STRING))
            saved_ = std::string(text->begin(), text->end());
        Put(resources ? std::optional<std::string>(resources) : std::nullopt);
    }
    ~DesktopResources() { Put(saved_); }
    DesktopResources(const DesktopResources&) = delete;
    DesktopResources& operator=(const DesktopResources&) = delete;

private:
    Window Root() const { return DefaultRootWindow(display_); }
    void Put(const std::optional<std::string>& resources)
    {
        if (resources)
            XChangeProperty(display_, Root(), property_, XA_STRING, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(resources->data()),
                            static_cast<int>(resources->size()));
        else
            XDeleteProperty(display_, Root(), property_);
        XSync(display_, False);
    }

    Display* display_;
    Atom property_;
    std::optional<std::string> saved_;
};

std::optional<Box> ShownAt(Wizard& wizard, int x, int y)
{
    const Box shell = Geometry(wizard.display(), wizard.window());
    for (const Box& box : wizard.Shown())
        if (box.x == shell.x + x && box.y == shell.y + y)
            return box;
    return std::nullopt;
}

struct LookCase {
    const char* name;
    const char* resources;  // the desktop's, nullptr for none
    const char* language;
    bool fontconfigFonts;   // false: fontconfig finds no font at all
    int width, height;
};

class LookTest : public WizardTest, public testing::WithParamInterface<LookCase> {};

// The 96 dpi layout scaled by Xft.dpi in quarters: the window, the logo,
// the buttons and their gaps.  The text is smoothed, in fonts of the
// client's; with the server's fonts only where fontconfig has none.  A
// Cyrillic and Chinese home folder in the list, for the pictures.
TEST_P(LookTest, ScalesWithTheDesktopAndSmoothsTheText)
{
    const LookCase& c = GetParam();
    std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(nullptr), XCloseDisplay);
    ASSERT_TRUE(display);
    DesktopResources desktop(display.get(), c.resources);
    UseLanguage(c.language);
    LaunchOptions options;
    options.home = home_ / "\xd0\x9f\xd0\xbe\xd0\xbb\xd1\x8c\xd0\xb7\xd0\xbe\xd0\xb2\xd0\xb0"
                           "\xd1\x82\xd0\xb5\xd0\xbb\xd1\x8c \xe7\x94\xa8\xe6\x88\xb7";
    fs::create_directories(*options.home);  // offered only when it is ours
    if (!c.fontconfigFonts) {
        std::ofstream(work_ / "fonts.conf") << "<?xml version=\"1.0\"?><fontconfig/>\n";
        options.environment = {"FONTCONFIG_FILE=" + work_ / "fonts.conf"};
    }
    auto wizard = Start(options);
    ASSERT_TRUE(wizard->Found());
    const Box shell = Geometry(wizard->display(), wizard->window());
    EXPECT_EQ(std::make_pair(shell.width, shell.height), std::make_pair(c.width, c.height));
    XSizeHints size{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(wizard->display(), wizard->window(), &size, &supplied));
    EXPECT_EQ(std::make_pair(size.max_width, size.max_height), std::make_pair(c.width, c.height));

    const auto scaled = [&wizard](int pixels) { return wizard->Scaled(pixels); };
    const int logoX = scaled(2) + scaled(10);
    const std::optional<Box> logo = ShownAt(*wizard, logoX, logoX);
    ASSERT_TRUE(logo) << "the logo";
    EXPECT_EQ(std::make_pair(logo->width, logo->height), std::make_pair(scaled(100), scaled(236)));

    const std::vector<Box> buttons = wizard->Buttons();  // each 75 pixels, scaled
    ASSERT_EQ(buttons.size(), 4u);
    const int rowRight = shell.x + shell.width - scaled(2) - scaled(10);
    EXPECT_EQ(buttons[kFinishButton].x + buttons[kFinishButton].width, rowRight - scaled(10));
    EXPECT_EQ(buttons[kAcceptButton].x + buttons[kAcceptButton].width,
              buttons[kFinishButton].x - scaled(20));
    EXPECT_EQ(buttons[kBackButton].x + buttons[kBackButton].width, buttons[kAcceptButton].x);
    EXPECT_EQ(buttons[kCancelButton].x + buttons[kCancelButton].width,
              buttons[kBackButton].x - scaled(20));

    const std::optional<Box> caption = ShownAt(*wizard, logoX + logo->width + scaled(10), logoX);
    ASSERT_TRUE(caption) << "the caption above the licence";
    const std::size_t colours = DistinctColours(Capture(wizard->display(), *caption).get());
    if (c.fontconfigFonts)
        EXPECT_GT(colours, 2u);
    else
        EXPECT_EQ(colours, 2u);
    Screenshot(*wizard, std::string("page1-") + c.name + ".png");

    wizard->Key(XK_Return);
    ASSERT_TRUE(wizard->WaitForPage(2));
    wizard->Click(*wizard->ComboArrow());
    EXPECT_TRUE(SaveRootRegionPng(wizard->display(), shell.x, shell.y, shell.width, shell.height,
                                  kScreenshots + "/page2-list-" + c.name + ".png"));
}

INSTANTIATE_TEST_SUITE_P(
    , LookTest,
    testing::Values(LookCase{"CWithoutXftDpi", nullptr, "C", true, 489, 350},
                    LookCase{"Utf8At96Dpi", "Xft.dpi:\t96\n", "C.UTF-8", true, 489, 350},
                    LookCase{"Utf8At120Dpi", "Xft.dpi:\t120\n", "C.UTF-8", true, 611, 438},
                    LookCase{"Utf8At192Dpi", "Xft.dpi:\t192\n", "C.UTF-8", true, 978, 700},
                    LookCase{"CAt192Dpi", "Xft.antialias:\t1\nXft.dpi:\t192\n", "C", true, 978,
                             700},
                    LookCase{"ServerFontsWhereFontconfigHasNone", nullptr, "C.UTF-8", false, 489,
                             350}),
    [](const testing::TestParamInfo<LookCase>& info) { return info.param.name; });

// An X server of the test's own with only the fonts built into it, as
// XWayland or a bare server has, until the test ends.
class BuiltInFontsServer {
public:
    BuiltInFontsServer()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-fp", "built-ins", "-screen", "0",
                   "1280x1024x24", "-nolisten", "tcp", "+extension", "XTEST", nullptr);
            _exit(127);
        }
        close(fds[1]);
        // Xvfb writes the number and its newline apart and dies if the pipe
        // is gone before the second write: read to the newline.
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (!number.empty())
            display_ = ":" + number;
    }
    ~BuiltInFontsServer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    BuiltInFontsServer(const BuiltInFontsServer&) = delete;
    BuiltInFontsServer& operator=(const BuiltInFontsServer&) = delete;

    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// The window, the open list and the error dialog, each as a picture's bytes.
std::vector<std::string> PicturesOfEachPart(Wizard& wizard, const std::string& name)
{
    const auto picture = [&wizard, &name](const Box& box, const std::string& part) {
        // The keyboard focus the wizard's, whatever the server had before:
        // a focused button is drawn with its highlight.
        XSetInputFocus(wizard.display(), wizard.window(), RevertToPointerRoot, CurrentTime);
        MovePointer(wizard.display(), 1279, 1023);
        wizard.Settle();
        const std::string path = kScreenshots + "/" + part + "-" + name + ".png";
        EXPECT_TRUE(SaveRootRegionPng(wizard.display(), box.x, box.y, box.width, box.height,
                                      path));
        return ReadFile(path);
    };
    std::vector<std::string> pictures;
    const Box shell = Geometry(wizard.display(), wizard.window());
    pictures.push_back(picture(shell, "page1"));
    wizard.Key(XK_Return);
    EXPECT_TRUE(wizard.WaitForPage(2));
    wizard.Click(*wizard.ComboArrow());
    pictures.push_back(picture(shell, "page2-list"));
    PressKey(wizard.display(), XK_Escape);
    wizard.SetDestination("");
    wizard.ClickButton(kFinishButton);
    EXPECT_TRUE(wizard.WaitUntil(
        [&wizard] { return FindTopLevel(wizard.display(), "Error").has_value(); }));
    wizard.Settle();
    const std::optional<Box> dialog = FindTopLevel(wizard.display(), "Error");
    pictures.push_back(dialog ? picture(*dialog, "error-dialog") : "");
    return pictures;
}

// The fonts are the client's: the window, its list and its dialog look the
// same on a server with its built-in fonts only as on one with every font
// package.
TEST_F(WizardTest, LooksTheSameWhateverFontsTheServerHas)
{
    BuiltInFontsServer builtIns;
    ASSERT_FALSE(builtIns.display().empty()) << "Xvfb did not start";
    std::vector<std::vector<std::string>> pictures;
    for (const std::string& display : {std::string(std::getenv("DISPLAY")), builtIns.display()}) {
        LaunchOptions options;
        options.display = display;
        auto wizard = Start(options);
        ASSERT_TRUE(wizard->Found()) << display;
        pictures.push_back(PicturesOfEachPart(
            *wizard, display == builtIns.display() ? "built-in-fonts" : "font-packages"));
    }
    const char* parts[] = {"page 1", "page 2 with the list open", "the error dialog"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_FALSE(pictures[0][i].empty()) << parts[i];
        EXPECT_TRUE(pictures[0][i] == pictures[1][i]) << parts[i];
    }
}

// --------------------------------------------------------------- navigation

TEST_F(WizardTest, FocusStartsOnAcceptSoSpaceAcceptsTheLicence)
{
    auto wizard = Start();
    ASSERT_TRUE(wizard->Found());
    wizard->Key(XK_space);
    EXPECT_TRUE(wizard->WaitForPage(2));
    EXPECT_FALSE(wizard->WaitForExit(0));
}

TEST_F(WizardTest, ReturnAndTheAKeyAndTheAcceptButtonEachShowPage2)
{
    auto wizard = Start();
    ASSERT_TRUE(wizard->Found());
    wizard->Key(XK_Return);
    EXPECT_TRUE(wizard->WaitForPage(2)) << "Return";
    Screenshot(*wizard, "page2-destination.png");
    wizard->ClickButton(kBackButton);
    ASSERT_TRUE(wizard->WaitForPage(1)) << "Back button";

    wizard->Key(XK_a);
    EXPECT_TRUE(wizard->WaitForPage(2)) << "A";
    wizard->Key(XK_b);
    ASSERT_TRUE(wizard->WaitForPage(1)) << "B";

    wizard->ClickButton(kAcceptButton);
    EXPECT_TRUE(wizard->WaitForPage(2)) << "Accept button";
    EXPECT_FALSE(wizard->WaitForExit(0));
}

// Once only: Back and then Accept, the default button of the page Back
// shows, would leave page 2 showing again.
TEST_F(WizardTest, ReturnPressesTheButtonWithTheFocus)
{
    auto wizard = StartOnPage2();
    ASSERT_TRUE(wizard->Found());
    wizard->SetDestination(work_ / "dest");  // should Finish be pressed after all
    wizard->ClickButton(kBackButton);
    wizard->ClickButton(kAcceptButton);
    ASSERT_TRUE(wizard->WaitForPage(2));
    wizard->Key(XK_Left);  // from Finish to Back
    wizard->Key(XK_Return);
    ASSERT_TRUE(wizard->WaitForPage(1));
    wizard->Settle(300);
    ASSERT_EQ(wizard->ShowingPage(), 1) << "pressed once";

    wizard->Key(XK_Tab);  // from Accept to Cancel
    wizard->Key(XK_Return);
    EXPECT_EQ(wizard->WaitForExit(5000), std::optional<int>(0));
}

// Alt with the underlined letter acts like the button of the page showing,
// from the destination field too; an insensitive button stays inactive.
TEST_F(WizardTest, AltWithAnUnderlinedLetterPressesItsButton)
{
    auto wizard = Start();
    ASSERT_TRUE(wizard->Found());
    const auto altKey = [&wizard](KeySym letter) {
        Display* display = wizard->display();
        XSetInputFocus(display, wizard->window(), RevertToPointerRoot, CurrentTime);
        const KeyCode alt = XKeysymToKeycode(display, XK_Alt_L);
        XTestFakeKeyEvent(display, alt, True, CurrentTime);
        PressKey(display, letter);
        XTestFakeKeyEvent(display, alt, False, CurrentTime);
        wizard->Settle();
    };
    altKey(XK_f);
    altKey(XK_b);
    EXPECT_EQ(wizard->ShowingPage(), 1) << "Finish and Back are insensitive on page 1";
    EXPECT_FALSE(wizard->WaitForExit(0));
    altKey(XK_a);
    ASSERT_TRUE(wizard->WaitForPage(2));
    altKey(XK_b);
    ASSERT_TRUE(wizard->WaitForPage(1));
    altKey(XK_a);
    ASSERT_TRUE(wizard->WaitForPage(2));
    const std::optional<Box> field = wizard->DestinationField();
    ASSERT_TRUE(field);
    wizard->Click(*field);
    altKey(XK_c);
    ASSERT_EQ(wizard->WaitForExit(5000), std::optional<int>(0));
    EXPECT_EQ(wizard->Output(), "") << "no player";
}

// The letters press only a button the page showing offers: F neither
// installs from the licence page nor skips it.
TEST_F(WizardTest, FAndBOnPage1AndAOnPage2ChangeNothing)
{
    auto wizard = Start();
    ASSERT_TRUE(wizard->Found());
    wizard->Key(XK_f);
    wizard->Key(XK_b);
    EXPECT_EQ(wizard->ShowingPage(), 1);
    EXPECT_FALSE(wizard->WaitForExit(300)) << "nothing installed";
    wizard->Key(XK_space);  // the focus is still on Accept
    ASSERT_TRUE(wizard->WaitForPage(2));
    wizard->Key(XK_a);
    EXPECT_EQ(wizard->ShowingPage(), 2);
}

// Tab runs from the page's content to its default button, then along the
// other sensitive buttons from the left, and round again; Shift+Tab runs
// back.  Left and Right move along the row as it reads.  Each row ends
// with the space bar, which presses the button with the focus (on the
// licence or in the field it presses nothing).
struct TraversalCase {
    const char* name;
    bool onPage2;
    std::vector<KeySym> keys;  // XK_VoidSymbol: a click into the field
    int outcome;               // the page then showing, 0: the installer ended
};

class TraversalTest : public WizardTest, public testing::WithParamInterface<TraversalCase> {};

TEST_P(TraversalTest, FollowsTheScreen)
{
    auto wizard = GetParam().onPage2 ? StartOnPage2() : Start();
    ASSERT_TRUE(wizard->Found());
    for (KeySym key : GetParam().keys) {
        if (key == XK_VoidSymbol) {
            wizard->Click(*wizard->DestinationField());
        } else if (key == XK_ISO_Left_Tab) {
            wizard->Key(XK_Tab, true);
        } else {
            wizard->Key(key);
        }
    }
    wizard->Key(XK_space);
    if (GetParam().outcome == 0) {
        EXPECT_EQ(wizard->WaitForExit(5000), std::optional<int>(0));
    } else {
        EXPECT_TRUE(wizard->WaitForPage(GetParam().outcome));
        EXPECT_FALSE(wizard->WaitForExit(0));
    }
}

constexpr KeySym kField = XK_VoidSymbol, kBackTab = XK_ISO_Left_Tab;

INSTANTIATE_TEST_SUITE_P(
    , TraversalTest,
    testing::Values(
        TraversalCase{"Page1TabFromAcceptToCancel", false, {XK_Tab}, 0},
        TraversalCase{"Page1TabOnToTheLicence", false, {XK_Tab, XK_Tab}, 1},
        TraversalCase{"Page1TabRoundToAccept", false, {XK_Tab, XK_Tab, XK_Tab}, 2},
        TraversalCase{"Page1ShiftTabBackToTheLicence", false, {kBackTab}, 1},
        TraversalCase{"Page1ShiftTabRoundToCancel", false, {kBackTab, kBackTab}, 0},
        TraversalCase{"Page1LeftFromAcceptToCancel", false, {XK_Left}, 0},
        TraversalCase{"Page2TabFromTheFieldToFinishThenLeftToBack", true,
                      {kField, XK_Tab, XK_Left}, 1},
        TraversalCase{"Page2TabFromFinishToCancel", true, {XK_Tab}, 0},
        TraversalCase{"Page2TabOnToBack", true, {XK_Tab, XK_Tab}, 1},
        TraversalCase{"Page2RightFromCancelToBack", true, {XK_Tab, XK_Right}, 1},
        TraversalCase{"Page2TabRoundToTheField", true, {XK_Tab, XK_Tab, XK_Tab}, 2},
        TraversalCase{"Page2ShiftTabFromFinishToTheField", true, {kBackTab}, 2},
        TraversalCase{"Page2ShiftTabRoundToBack", true, {kBackTab, kBackTab}, 1}),
    [](const testing::TestParamInfo<TraversalCase>& info) { return info.param.name; });

struct CancelCase {
    const char* name;
    bool onPage2;
    enum { kKey, kButton, kWindowClosed } by;
};

class CancelTest : public WizardTest, public testing::WithParamInterface<CancelCase> {};

TEST_P(CancelTest, EndsTheInstallerWithStatus0)
{
    auto wizard = Start();
    ASSERT_TRUE(wizard->Found());
    if (GetParam().onPage2) {
        wizard->Key(XK_Return);
        ASSERT_TRUE(wizard->WaitForPage(2));
    }
    switch (GetParam().by) {
    case CancelCase::kKey: wizard->Key(XK_c); break;
    case CancelCase::kButton: wizard->ClickButton(kCancelButton); break;
    case CancelCase::kWindowClosed:
        wizard->CloseByWindowManager();
        break;
    }
    ASSERT_EQ(wizard->WaitForExit(5000), std::optional<int>(0));
    EXPECT_EQ(wizard->Output(), "") << "no player";
}

INSTANTIATE_TEST_SUITE_P(
    , CancelTest,
    testing::Values(CancelCase{"CKeyOnPage1", false, CancelCase::kKey},
                    CancelCase{"ButtonOnPage1", false, CancelCase::kButton},
                    CancelCase{"WindowClosedOnPage1", false, CancelCase::kWindowClosed},
                    CancelCase{"CKeyOnPage2", true, CancelCase::kKey},
                    CancelCase{"ButtonOnPage2", true, CancelCase::kButton},
                    CancelCase{"WindowClosedOnPage2", true, CancelCase::kWindowClosed}),
    [](const testing::TestParamInfo<CancelCase>& info) { return info.param.name; });

TEST_F(WizardTest, TheDestinationFieldTakesTheLettersAndReturnDoesNotInstall)
{
    auto wizard = StartOnPage2();
    ASSERT_TRUE(wizard->Found());
    const std::string destination = work_ / "dest";
    wizard->SetDestination(destination + "/");
    wizard->Type("fabc");
    wizard->Key(XK_Return);
    EXPECT_EQ(wizard->ShowingPage(), 2);
    EXPECT_FALSE(wizard->WaitForExit(300)) << "C typed into the field must not cancel";
    EXPECT_FALSE(fs::exists(destination)) << "Return in the field must not install";
    EXPECT_EQ(wizard->DestinationText(), destination + "/fabc");
}

// Typed with no gap, as a typing tool or a fast typist's rolled keys send
// them: the letters that are accelerators elsewhere are not lost.
TEST_F(WizardTest, TheDestinationFieldTakesEveryKeyTypedWithoutAGap)
{
    auto wizard = StartOnPage2();
    ASSERT_TRUE(wizard->Found());
    const std::string destination = work_ / "dest";
    wizard->SetDestination(destination + "/");
    wizard->TypeAtOnce("abcfabcfxyzccbbaaff");
    EXPECT_FALSE(wizard->WaitForExit(300)) << "C typed into the field must not cancel";
    EXPECT_EQ(wizard->DestinationText(), destination + "/abcfabcfxyzccbbaaff");
    wizard->ClickButton(kBackButton);
    ASSERT_TRUE(wizard->WaitForPage(1)) << "the keys act again outside the field";
    wizard->Key(XK_a);
    EXPECT_TRUE(wizard->WaitForPage(2));
}

// The keys of the list reach the field past the wizard's own keys.
TEST_F(WizardTest, DownInTheFieldPostsTheListAndEscapeRestoresTheText)
{
    auto wizard = StartOnPage2();
    ASSERT_TRUE(wizard->Found());
    const std::string typed = work_ / "typed";
    wizard->SetDestination(typed);  // the focus stays in the field
    Display* display = wizard->display();
    const std::size_t before = ShownTopLevels(display).size();
    wizard->Key(XK_Down);
    EXPECT_TRUE(wizard->WaitUntil([&] { return ShownTopLevels(display).size() == before + 1; }))
        << "the list is posted";
    wizard->Key(XK_Down);  // browses to another choice
    wizard->Key(XK_Escape);
    EXPECT_TRUE(wizard->WaitUntil([&] { return ShownTopLevels(display).size() == before; }));
    EXPECT_EQ(wizard->DestinationText(), typed);
    EXPECT_EQ(wizard->ShowingPage(), 2);
}

// ------------------------------------------------------------- installation

TEST_F(WizardTest, ByMouseBackAndForthKeepsTheTextAndFinishInstalls)
{
    auto wizard = StartOnPage2();
    ASSERT_TRUE(wizard->Found());
    const std::string destination = work_ / "by mouse";
    std::filesystem::create_directories(home_.path());
    {
        std::ofstream old(home_ / kSettingsName);
        old << "Bandwidth=1\nMaxBandwidth=2\nSomethingElse=a much longer older line\n";
    }
    wizard->SetDestination(destination);
    wizard->ClickButton(kBackButton);
    ASSERT_TRUE(wizard->WaitForPage(1));
    wizard->ClickButton(kAcceptButton);
    ASSERT_TRUE(wizard->WaitForPage(2));
    EXPECT_EQ(wizard->DestinationText(), destination);
    wizard->ClickButton(kFinishButton);
    ExpectInstalledAndBecamePlayer(*wizard, destination);
}

TEST_F(WizardTest, ByKeysBackAndForthKeepsFocusOnFinishAndReturnInstalls)
{
    auto wizard = Start();
    ASSERT_TRUE(wizard->Found());
    wizard->Key(XK_Return);
    ASSERT_TRUE(wizard->WaitForPage(2));
    const std::string destination = work_ / "by keys";
    wizard->SetDestination(destination);
    wizard->ClickButton(kBackButton);
    ASSERT_TRUE(wizard->WaitForPage(1));
    wizard->Key(XK_a);
    ASSERT_TRUE(wizard->WaitForPage(2));
    wizard->Key(XK_space);  // Finish has the focus
    ExpectInstalledAndBecamePlayer(*wizard, destination);
}

TEST_F(WizardTest, FOnPage2InstallsIntoTheTypedDestination)
{
    auto wizard = StartOnPage2();
    ASSERT_TRUE(wizard->Found());
    const std::string destination = work_ / "by f";
    wizard->SetDestination(destination);
    wizard->ClickButton(kBackButton);
    wizard->ClickButton(kAcceptButton);  // the focus leaves the field
    ASSERT_TRUE(wizard->WaitForPage(2));
    wizard->Key(XK_f);
    ExpectInstalledAndBecamePlayer(*wizard, destination);
}

// Under a UTF-8 locale the letters typed reach the file system as UTF-8.
TEST_F(WizardTest, AUtf8LocaleInstallsIntoTheNameAsTyped)
{
    UseLanguage("C.UTF-8");
    auto wizard = StartOnPage2();
    ASSERT_TRUE(wizard->Found());
    wizard->SetDestination(work_.path() + "/");
    SpareKeys spareKeys(wizard->display());
    for (KeySym letter : {XK_udiaeresis, XK_n, XK_idiaeresis})
        spareKeys.Press(letter);
    wizard->Settle();
    Screenshot(*wizard, "page2-utf8-destination.png");
    wizard->ClickButton(kFinishButton);
    ExpectInstalledAndBecamePlayer(*wizard, work_ / "\xc3\xbcn\xc3\xaf");
}

// The home choice is read in the locale too: a UTF-8 HOME is one name
// (handed out as Latin-1 text through the selection), not its bytes.
TEST_F(WizardTest, AUtf8LocaleReadsTheHomeChoiceInIt)
{
    UseLanguage("C.UTF-8");
    LaunchOptions options;
    options.home = home_ / "h\xc3\xb6m\xc3\xa9";  // a home is offered only when it is ours
    std::filesystem::create_directory(*options.home);
    auto wizard = StartOnPage2(options);
    ASSERT_TRUE(wizard->Found());
    if (wizard->DestinationText() == "/usr/local/Ovelo8") {  // the home entry is second
        wizard->Click(*wizard->ComboArrow());
        const Box shell = Geometry(wizard->display(), wizard->window());
        EXPECT_TRUE(SaveRootRegionPng(wizard->display(), shell.x, shell.y, shell.width,
                                      shell.height, kScreenshots + "/page2-utf8-home.png"));
        PressKey(wizard->display(), XK_Down);
        PressKey(wizard->display(), XK_Return);
        wizard->Settle();
    }
    EXPECT_EQ(wizard->DestinationText(), home_.path() + "/h\xf6m\xe9/Ovelo8");
}

// The open list: the one window shown on the screen besides the wizard
// (the toolkit keeps one of its own mapped off the screen).
std::optional<Box> OpenList(Wizard& wizard)
{
    std::optional<Box> list;
    for (const Box& box : ShownTopLevels(wizard.display()))
        if (box.window != wizard.window() && box.x >= 0 && box.y >= 0)
            list = box;
    return list;
}

// Under a UTF-8 locale Cyrillic is drawn as Cyrillic, in the field and in
// the list, not as the Latin-1 letters that have the same codes in
// ISO 8859-5 ("уют" as "ãîâ"), as a font set of Latin-1 fonts draws it.
// Han characters, which Helvetica lacks, are drawn from a font that has
// them, each as itself, not all as one replacement box.
TEST_F(WizardTest, EachScriptIsDrawnAsItself)
{
    struct Word {
        const char* name;
        std::string bytes;
        std::vector<KeySym> keys;
        const char* language;
    };
    // Lower case both (a spare key gives a letter's lower case).  The C
    // locale's encoding is Latin-1: a name in it is drawn whole, each
    // letter as itself.
    const Word words[] = {
        {"cyrillic", "\xd1\x83\xd1\x8e\xd1\x82", {XK_Cyrillic_u, XK_Cyrillic_yu, XK_Cyrillic_te},
         "C.UTF-8"},
        {"latin1", "\xc3\xa3\xc3\xae\xc3\xa2", {XK_atilde, XK_icircumflex, XK_acircumflex},
         "C.UTF-8"},
        {"han-one", "\xe4\xb8\x80", {0x1004e00}, "C.UTF-8"},
        {"han-two", "\xe4\xba\x8c", {0x1004e8c}, "C.UTF-8"},
        {"c-locale-e-acute", "\xe9", {}, "C"},
        {"c-locale-e-grave", "\xe8", {}, "C"}};
    std::vector<std::string> fields, lists;
    for (const Word& word : words) {
        UseLanguage(word.language);
        LaunchOptions options;
        options.home = home_ / word.bytes;  // the home choice: ".../уют/Ovelo8"
        std::filesystem::create_directories(*options.home);  // offered only when ours
        auto wizard = StartOnPage2(options);
        ASSERT_TRUE(wizard->Found());
        wizard->SetDestination("/");
        {
            SpareKeys spareKeys(wizard->display());
            for (KeySym key : word.keys)
                spareKeys.Press(key);
            wizard->Settle();
        }
        // The insertion point at the start (where the same widths put it)
        // and the focus on Finish: no blinking cursor in the picture.
        wizard->Key(XK_Home);
        wizard->Key(XK_Tab);
        Display* display = wizard->display();
        const Box field = *wizard->DestinationField();
        const std::string fieldPng = kScreenshots + "/page2-field-" + word.name + ".png";
        ASSERT_TRUE(SaveRootRegionPng(display, field.x, field.y, field.width, field.height,
                                      fieldPng));
        wizard->Click(*wizard->ComboArrow());
        const std::optional<Box> list = OpenList(*wizard);
        ASSERT_TRUE(list);
        const std::string listPng = kScreenshots + "/page2-list-" + word.name + ".png";
        ASSERT_TRUE(SaveRootRegionPng(display, list->x, list->y, list->width, list->height,
                                      listPng));
        fields.push_back(ReadFile(fieldPng));
        lists.push_back(ReadFile(listPng));
    }
    EXPECT_TRUE(fields[0] != fields[1]) << "the typed destination";
    EXPECT_TRUE(lists[0] != lists[1]) << "the home choice";
    EXPECT_TRUE(fields[2] != fields[3]) << "the typed destination, Han";
    EXPECT_TRUE(lists[2] != lists[3]) << "the home choice, Han";
    EXPECT_TRUE(lists[4] != lists[5]) << "the home choice, Latin-1 in the C locale";
}

// The second screen of the test server is 640x480.  With the window near
// its bottom (placed there by -geometry, which the window keeps) the list
// opens above the field, whole and on the screen.
TEST_F(WizardTest, NearTheBottomOfASmallScreenTheListOpensAboveTheField)
{
    const std::optional<std::string> small = SmallScreenDisplay();
    if (!small)
        GTEST_SKIP() << "the X server has no second screen of 640x480";
    LaunchOptions options;
    options.arguments = {"-geometry", "+0+390"};
    options.display = *small;
    auto wizard = Start(options);
    ASSERT_TRUE(wizard->Found());
    wizard->Key(XK_Return);  // the buttons lie below the screen's edge
    ASSERT_TRUE(wizard->WaitForPage(2));
    EXPECT_EQ(Geometry(wizard->display(), wizard->window()).y, 390) << "-geometry";
    const Box field = *wizard->DestinationField();
    wizard->Key(XK_Tab, true);  // from Finish back to the field
    wizard->Key(XK_Down);       // which posts the list
    EXPECT_TRUE(SaveRootRegionPng(wizard->display(), 0, 0, 640, 480,
                                  kScreenshots + "/page2-list-small-screen.png"));
    const std::optional<Box> list = OpenList(*wizard);
    ASSERT_TRUE(list);
    EXPECT_GE(list->y, 0);
    EXPECT_LE(list->y + list->height, field.y + field.height) << "above the field";
    EXPECT_GE(list->height, 3 * 15) << "three rows at least";
    PressKey(wizard->display(), XK_Escape);
}

// Not a word on standard error in whatever locale, be it one that Xlib
// cannot serve (no X locale files: the program stays in C), up to the
// moment the window shows.
TEST_F(WizardTest, StartsWithoutWarningsInAnyLocale)
{
    const std::pair<const char*, const char*> locales[] = {
        {"C.UTF-8", nullptr}, {"C.UTF-8", "/nonexistent"}, {"xx_XX.UTF-8", nullptr},
        {"C", nullptr}};
    for (const auto& [language, localeDir] : locales) {
        UseLanguage(language);
        if (localeDir)
            setenv("XLOCALEDIR", localeDir, 1);
        else
            unsetenv("XLOCALEDIR");
        SCOPED_TRACE(std::string(language) + (localeDir ? " without X locales" : ""));
        LaunchOptions options;
        options.errorFile = work_ / "stderr";
        auto wizard = Start(options);
        EXPECT_FALSE(wizard->WaitForExit(0)) << "still running once the window shows";
        wizard.reset();
        EXPECT_EQ(ReadFile(options.errorFile), "");
    }
}

// ---------------------------------------------------------- the choices

struct ChoicesCase {
    const char* name;
    bool unprivileged;
    enum { kTemp, kUnset, kLong, kTooLong, kOpt, kForeign } home;
};

// What an earlier Motif client leaves on the root window: its key bindings
// (those a Motif client on this server left there).
// Motif then looks for HOME later than at start-up, and a long HOME must
// survive that too.  The connection returned keeps the server from
// resetting, which would take the property away.
Display* LeaveMotifBindingsOnRoot()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    static const char kBindings[] =
        "osfCancel:<Key>Escape,<Key>Cancel\nosfLeft:<Key>Left,<Key>KP_Left\n"
        "osfUp:<Key>Up,<Key>KP_Up\nosfRight:<Key>Right,<Key>KP_Right\n"
        "osfDown:<Key>Down,<Key>KP_Down\nosfEndLine:<Key>End,<Key>KP_End\n"
        "osfBeginLine:<Key>Home,<Key>Begin,<Key>KP_Home\nosfPageUp:<Key>Prior,<Key>KP_Prior\n"
        "osfPageDown:<Key>Next,<Key>KP_Next\nosfBackSpace:<Key>BackSpace\n"
        "osfDelete:<Key>Delete,<Key>KP_Delete\nosfInsert:<Key>Insert,<Key>KP_Insert\n"
        "osfSelect:<Key>Select\nosfActivate:<Key>KP_Enter,<Key>Execute";
    XChangeProperty(display, DefaultRootWindow(display),
                    XInternAtom(display, "_MOTIF_DEFAULT_BINDINGS", False), XA_STRING, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(kBindings),
                    sizeof kBindings - 1);
    XSync(display, False);
    return display;
}

class ChoicesTest : public WizardTest, public testing::WithParamInterface<ChoicesCase> {
protected:
    // Reads the field, then picks each next item of the open list with the
    // keyboard, until the choice stops changing.
    std::vector<std::string> Choices(Wizard& wizard, const std::string& screenshot)
    {
        std::vector<std::string> choices{wizard.DestinationText()};
        for (int i = 0; i < 4; ++i) {
            const std::optional<Box> arrow = wizard.ComboArrow();
            if (!arrow)
                break;
            wizard.Click(*arrow);
            if (i == 0 && !screenshot.empty()) {
                const Box shell = Geometry(wizard.display(), wizard.window());
                EXPECT_TRUE(SaveRootRegionPng(wizard.display(), shell.x, shell.y,
                                              shell.width, shell.height,
                                              kScreenshots + "/" + screenshot));
            }
            PressKey(wizard.display(), XK_Down);
            PressKey(wizard.display(), XK_Return);
            wizard.Settle();
            const std::string next = wizard.DestinationText();
            if (next == choices.back())
                break;
            choices.push_back(next);
        }
        return choices;
    }
};

// Root may write into /usr/local, and only root can run the installer as nobody.
TEST_P(ChoicesTest, OfferTheDestinationsInOrder)
{
    SKIP_UNLESS_ROOT();
    const ChoicesCase& c = GetParam();
    LaunchOptions options;
    std::string homeEntry = home_ / "Ovelo8";
    if (c.unprivileged) {
        if (c.home != ChoicesCase::kForeign)
            GiveToNobody(home_.path());
        options.unprivileged = true;
    }
    if (c.home == ChoicesCase::kUnset)
        homeUnset_ = true;
    if (c.home == ChoicesCase::kLong) {  // longer than the toolkit's own buffers
        std::string longHome = home_.path();
        for (int i = 0; i < 10; ++i)
            longHome += "/" + std::string(200, 'h');
        std::filesystem::create_directories(longHome);  // offered only when it is ours
        homeEntry = longHome + "/Ovelo8";
        options.home = longHome;
    }
    if (c.home == ChoicesCase::kTooLong)
        options.home = "/" + std::string(5000, 'h');
    if (c.home == ChoicesCase::kOpt)
        options.home = "/opt";

    std::unique_ptr<Display, int (*)(Display*)> bindingsKept(nullptr, XCloseDisplay);
    if (c.home == ChoicesCase::kLong || c.home == ChoicesCase::kTooLong)
        bindingsKept.reset(LeaveMotifBindingsOnRoot());
    auto wizard = StartOnPage2(options);
    ASSERT_TRUE(wizard->Found());
    const std::vector<std::string> choices =
        Choices(*wizard, !c.unprivileged && c.home == ChoicesCase::kTemp
                             ? "page2-combo-list-open.png" : "");

    std::vector<std::string> expected{"/usr/local/Ovelo8", "/opt/Ovelo8"};
    if (c.home == ChoicesCase::kTemp || c.home == ChoicesCase::kLong)
        expected.insert(expected.begin() + (c.unprivileged ? 0 : 1), homeEntry);
    EXPECT_EQ(choices, expected);
}

INSTANTIATE_TEST_SUITE_P(
    , ChoicesTest,
    testing::Values(ChoicesCase{"WritableUsrLocal", false, ChoicesCase::kTemp},
                    ChoicesCase{"UnwritableUsrLocal", true, ChoicesCase::kTemp},
                    ChoicesCase{"HomeUnset", false, ChoicesCase::kUnset},
                    ChoicesCase{"UnwritableUsrLocalAndHomeUnset", true, ChoicesCase::kUnset},
                    ChoicesCase{"HomeLongerThanTheToolkitExpects", false, ChoicesCase::kLong},
                    ChoicesCase{"HomeTooLongForAPath", false, ChoicesCase::kTooLong},
                    ChoicesCase{"HomeIsOpt", false, ChoicesCase::kOpt},
                    ChoicesCase{"HomeOfAnotherUser", true, ChoicesCase::kForeign}),
    [](const testing::TestParamInfo<ChoicesCase>& info) { return info.param.name; });

}  // namespace
