// Drives a real packaged installer's wizard from outside, as a user would:
// starts it with a chosen environment, finds its window on $DISPLAY, tells
// which page shows from the window tree, presses keys and clicks through
// XTEST, and reads the destination field back through the PRIMARY
// selection.  No window manager runs, so the driver gives the wizard the
// keyboard focus itself.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct LaunchOptions {
    std::string installer;                 // the packaged file to run
    std::string display;                   // the wizard's and the driver's; empty: $DISPLAY
    std::optional<std::string> home;       // nullopt: HOME unset
    std::string pathPrefix;                // put before $PATH when not empty
    std::vector<std::string> environment;  // VARIABLE=value, added to the child's
    bool unprivileged = false;             // run as nobody (uid/gid 65534)
    std::string errorFile;                 // standard error goes here when not empty
    std::vector<std::string> arguments;    // after the installer's name
};

// A window's place on the screen, in root coordinates.
struct Box {
    Window window = None;
    int x = 0, y = 0, width = 0, height = 0;
    int CentreX() const { return x + width / 2; }
    int CentreY() const { return y + height / 2; }
};

class Wizard {
public:
    explicit Wizard(const LaunchOptions& options);
    ~Wizard();  // kills the process if it still runs
    Wizard(const Wizard&) = delete;
    Wizard& operator=(const Wizard&) = delete;

    Display* display() const { return display_; }
    pid_t pid() const { return pid_; }
    Window window() const { return window_; }   // the application shell
    bool Found() const { return window_ != None; }
    // The window's width against the 489 pixels of the 96 dpi layout, and
    // a length of that layout at this scale.
    double scale() const { return scale_; }
    int Scaled(int pixels) const { return static_cast<int>(std::lround(pixels * scale_)); }

    // 1, 2 or 3 from the mapped widgets; 0 when none is recognised.
    int ShowingPage();
    bool WaitForPage(int page, int timeoutMs = 5000);
    // Polls condition until it holds; false when it never did in time.
    bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
    // The 75-pixel push buttons (scaled) that can be seen, from left to right:
    // Cancel, Back, Accept or Next, Finish.
    std::vector<Box> Buttons();
    std::vector<Box> Shown();  // every window of the wizard that can be seen
    bool Page2Viewable();   // the destination frame can be seen
    std::optional<Box> ProgressBar();
    std::optional<Box> DestinationField();
    std::optional<Box> ComboArrow();

    // A key or a click returns once what it changed on the screen (the
    // page, a window of its own, the end of the process) has settled, or
    // after the pause of Settle() when nothing changed that can be seen.
    void Key(unsigned long keysym, bool shift = false);
    void Type(const std::string& text);
    // Lower-case letters and digits, all sent in one go with no gap, as a
    // typing tool does: most share one server time stamp.
    void TypeAtOnce(const std::string& text);
    void Click(const Box& box);
    void ClickButton(int index);  // index into Buttons()
    // Replaces the field's text with text (select all, type over it).
    void SetDestination(const std::string& text);
    std::string DestinationText();  // selects the field's text and reads it
    void Settle(int ms = 150);      // lets the installer catch up
    void CloseByWindowManager();    // sends WM_DELETE_WINDOW, as a window manager does

    // Exit status once the process has ended, nullopt on timeout.
    std::optional<int> WaitForExit(int timeoutMs = 10000);
    std::string Output();  // everything the process wrote on standard output

private:
    // What input may change that can be seen from outside.
    struct Look {
        int page = 0;
        std::vector<Window> topLevels;  // windows of the screen, dialogs too
        bool exited = false;
        bool operator==(const Look& other) const
        {
            return page == other.page && topLevels == other.topLevels &&
                   exited == other.exited;
        }
        bool operator!=(const Look& other) const { return !(*this == other); }
    };
    Look Now();
    void AwaitChangeFrom(const Look& before);
    void AwaitSteadyLook(int timeoutMs);
    std::vector<Box> Viewable(Window root);
    std::optional<Box> DestinationFrame();
    std::vector<Box> ComboParts();
    void FocusWindow();
    void SelectLine(const Box& field, Window holder = None);
    Display* display_ = nullptr;
    pid_t pid_ = -1;
    int outputFd_ = -1;
    Window window_ = None;
    double scale_ = 1;
    std::optional<int> status_;
};

// Dialog shell of the error dialog while it is up.
std::optional<Box> FindTopLevel(Display* display, const std::string& title);
// The windows at the top of the screen that can be seen: the wizards, their
// dialogs and popups.
std::vector<Box> ShownTopLevels(Display* display);
std::string WindowTitle(Display* display, Window window);
Box Geometry(Display* display, Window window);

// The name of the test server's second screen, of 640x480, for what must
// fit a small screen; nullopt when the server has no such screen.
std::optional<std::string> SmallScreenDisplay();

// What a window shows, pixel by pixel; empty when it can not be read.
struct ImageDeleter {
    void operator()(XImage* image) const { XDestroyImage(image); }
};
using Image = std::unique_ptr<XImage, ImageDeleter>;
Image Capture(Display* display, const Box& box);
// How many pixel values an image holds (0 for none): a text smoothed at its
// edges shows shades between its colour and the background's.
std::size_t DistinctColours(XImage* image);

// The items of a window's property, read as Item (char for 8-bit ones,
// long for 32-bit ones, as Xlib hands them out); nullopt when the window
// has no such property, no items when it is of another type.
template <typename Item>
std::optional<std::vector<Item>> WindowProperty(Display* display, Window window,
                                                const char* name, Atom type);

// Runs a command line through /bin/sh; true when it exits with status 0.
bool Run(const std::string& command);
std::string Quote(const std::string& text);  // for the shell
