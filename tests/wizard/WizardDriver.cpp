#include "WizardDriver.h"

#include "TestSupport.h"

#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>

extern char** environ;

namespace {

constexpr char kTitle[] = "Ovelo 8 Installer";
// The layout at 96 dpi; the window scales it as a whole.
constexpr int kWindowWidth = 489;
constexpr int kButtonWidth = 75;
constexpr int kBarHeight = 30;
constexpr int kPauseMs = 150;  // time enough for the installer to answer input
constexpr int kPollMs = 10;

using Clock = std::chrono::steady_clock;

void Sleep(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The environment of the child: ours, with HOME, PATH and DISPLAY as
// asked, and the variables added.
std::vector<std::string> ChildEnvironment(const LaunchOptions& options)
{
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        const std::string variable = *entry;
        if (variable.rfind("HOME=", 0) == 0 ||
            (variable.rfind("DISPLAY=", 0) == 0 && !options.display.empty()))
            continue;
        if (variable.rfind("PATH=", 0) == 0 && !options.pathPrefix.empty()) {
            env.push_back("PATH=" + options.pathPrefix + ":" + variable.substr(5));
            continue;
        }
        env.push_back(variable);
    }
    if (options.home)
        env.push_back("HOME=" + *options.home);
    if (!options.display.empty())
        env.push_back("DISPLAY=" + options.display);
    env.insert(env.end(), options.environment.begin(), options.environment.end());
    return env;
}

std::vector<Window> Children(Display* display, Window window)
{
    Window root = None, parent = None;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<Window> result;
    if (XQueryTree(display, window, &root, &parent, &children, &count)) {
        result.assign(children, children + count);
        XFree(children);
    }
    return result;
}

Window Parent(Display* display, Window window)
{
    Window root = None, parent = None;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count))
        return None;
    if (children)
        XFree(children);
    return parent;
}

bool IsShown(Display* display, Window window)
{
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) &&
           attributes.map_state == IsViewable;
}

// Windows come and go while we look at them; a vanished one is no error.
int IgnoreXError(Display*, XErrorEvent*)
{
    return 0;
}

std::vector<Box> ViewableChildren(Display* display, Window window)
{
    std::vector<Box> boxes;
    for (Window child : Children(display, window))
        if (IsShown(display, child))
            boxes.push_back(Geometry(display, child));
    return boxes;
}

}  // namespace

Box Geometry(Display* display, Window window)
{
    XWindowAttributes attributes;
    XGetWindowAttributes(display, window, &attributes);
    Box box;
    box.window = window;
    box.width = attributes.width;
    box.height = attributes.height;
    Window child = None;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &box.x,
                          &box.y, &child);
    return box;
}

std::string WindowTitle(Display* display, Window window)
{
    char* name = nullptr;
    std::string title;
    if (XFetchName(display, window, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

std::optional<Box> FindTopLevel(Display* display, const std::string& title)
{
    for (Window child : Children(display, DefaultRootWindow(display)))
        if (IsShown(display, child) && WindowTitle(display, child) == title)
            return Geometry(display, child);
    return std::nullopt;
}

std::vector<Box> ShownTopLevels(Display* display)
{
    return ViewableChildren(display, DefaultRootWindow(display));
}

std::optional<std::string> SmallScreenDisplay()
{
    std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    display = display.substr(0, display.find('.', display.rfind(':'))) + ".1";
    Display* second = XOpenDisplay(display.c_str());
    if (!second)
        return std::nullopt;
    const bool small = DisplayWidth(second, 1) == 640 && DisplayHeight(second, 1) == 480;
    XCloseDisplay(second);
    return small ? std::optional<std::string>(display) : std::nullopt;
}

Image Capture(Display* display, const Box& box)
{
    return Image(XGetImage(display, box.window, 0, 0, box.width, box.height, AllPlanes,
                           ZPixmap));
}

std::size_t DistinctColours(XImage* image)
{
    std::set<unsigned long> colours;
    for (int y = 0; image && y < image->height; ++y)
        for (int x = 0; x < image->width; ++x)
            colours.insert(XGetPixel(image, x, y));
    return colours.size();
}

template <typename Item>
std::optional<std::vector<Item>> WindowProperty(Display* display, Window window,
                                                const char* name, Atom type)
{
    Atom actual = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1 << 20,
                           False, type, &actual, &format, &count, &after, &data) != Success ||
        !data)
        return std::nullopt;
    const Item* items = reinterpret_cast<const Item*>(data);
    std::vector<Item> result(items, items + count);
    XFree(data);
    return result;
}

template std::optional<std::vector<char>> WindowProperty(Display*, Window, const char*, Atom);
template std::optional<std::vector<long>> WindowProperty(Display*, Window, const char*, Atom);

bool Run(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

Wizard::Wizard(const LaunchOptions& options)
{
    display_ = XOpenDisplay(options.display.empty() ? nullptr : options.display.c_str());
    if (!display_)
        return;
    XSetErrorHandler(IgnoreXError);
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return;
    std::vector<std::string> env = ChildEnvironment(options);
    std::vector<char*> envp;
    for (std::string& variable : env)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::vector<std::string> args;
    if (options.unprivileged)
        args = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    args.push_back(options.installer);
    args.insert(args.end(), options.arguments.begin(), options.arguments.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        if (!options.errorFile.empty()) {
            const int errors = open(options.errorFile.c_str(),
                                    O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (errors < 0 || dup2(errors, STDERR_FILENO) < 0)
                _exit(127);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(pipeFds[1]);
    outputFd_ = pipeFds[0];

    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (Clock::now() < deadline && !WaitForExit(0)) {
        if (const std::optional<Box> shell = FindTopLevel(display_, kTitle)) {
            window_ = shell->window;
            // The window scales the layout by quarters.
            scale_ = std::round(4.0 * shell->width / kWindowWidth) / 4;
            WaitForPage(1, 5000);
            return;
        }
        Sleep(20);
    }
}

Wizard::~Wizard()
{
    if (pid_ > 0 && !status_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (outputFd_ >= 0)
        close(outputFd_);
    if (display_)
        XCloseDisplay(display_);
}

std::vector<Box> Wizard::Viewable(Window top)
{
    std::vector<Box> boxes;
    std::vector<Window> pending{top};
    while (!pending.empty()) {
        const Window window = pending.back();
        pending.pop_back();
        for (Window child : Children(display_, window))
            if (IsShown(display_, child)) {
                boxes.push_back(Geometry(display_, child));
                pending.push_back(child);
            }
    }
    return boxes;
}

std::vector<Box> Wizard::Shown()
{
    return Viewable(window_);
}

std::vector<Box> Wizard::Buttons()
{
    std::vector<Box> buttons;
    for (const Box& box : Viewable(window_))
        if (box.width == Scaled(kButtonWidth))
            buttons.push_back(box);
    std::sort(buttons.begin(), buttons.end(),
              [](const Box& a, const Box& b) { return a.x < b.x; });
    return buttons;
}

// The etched frame of page 2 holds just the combo box.
std::optional<Box> Wizard::DestinationFrame()
{
    for (const Box& box : Viewable(window_))
        if (box.width > Scaled(300) && box.height >= Scaled(40) && box.height <= Scaled(60) &&
            ViewableChildren(display_, box.window).size() == 1)
            return box;
    return std::nullopt;
}

bool Wizard::Page2Viewable()
{
    return DestinationFrame().has_value();
}

// The bar is the one child of its frame (a caption of two lines may be as
// high).
std::optional<Box> Wizard::ProgressBar()
{
    for (const Box& box : Viewable(window_))
        if (box.height == Scaled(kBarHeight) && box.width > Scaled(300) &&
            ViewableChildren(display_, Parent(display_, box.window)).size() == 1)
            return box;
    return std::nullopt;
}

int Wizard::ShowingPage()
{
    if (Page2Viewable())  // first: a font set's taller field looks like the bar
        return 2;
    if (ProgressBar())
        return 3;
    return Buttons().size() == 4 ? 1 : 0;
}

bool Wizard::WaitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (Clock::now() >= deadline)
            return false;
        Sleep(20);
    }
    return true;
}

bool Wizard::WaitForPage(int page, int timeoutMs)
{
    if (!WaitUntil([this, page] { return ShowingPage() == page; }, timeoutMs))
        return false;
    AwaitSteadyLook(kPauseMs);
    return true;
}

// The combo box in the frame holds the field and the arrow, the field
// being the wider of the two.
std::vector<Box> Wizard::ComboParts()
{
    const std::optional<Box> frame = DestinationFrame();
    if (!frame)
        return {};
    const std::vector<Box> combo = ViewableChildren(display_, frame->window);
    std::vector<Box> parts = ViewableChildren(display_, combo.front().window);
    std::sort(parts.begin(), parts.end(),
              [](const Box& a, const Box& b) { return a.width > b.width; });
    return parts;
}

std::optional<Box> Wizard::DestinationField()
{
    const std::vector<Box> parts = ComboParts();
    return parts.empty() ? std::nullopt : std::optional<Box>(parts.front());
}

std::optional<Box> Wizard::ComboArrow()
{
    const std::vector<Box> parts = ComboParts();
    return parts.size() < 2 ? std::nullopt : std::optional<Box>(parts.back());
}

void Wizard::FocusWindow()
{
    const Box shell = Geometry(display_, window_);
    MovePointer(display_, shell.x + 4, shell.y + 4);
    XSetInputFocus(display_, window_, RevertToPointerRoot, CurrentTime);
    XSync(display_, False);
}

Wizard::Look Wizard::Now()
{
    Look look;
    look.page = ShowingPage();
    for (Window child : Children(display_, DefaultRootWindow(display_)))
        if (IsShown(display_, child))
            look.topLevels.push_back(child);
    look.exited = WaitForExit(0).has_value();
    return look;
}

// A change counts once two looks in a row agree on it: a page is unmapped
// a moment before the next one is mapped.
void Wizard::AwaitChangeFrom(const Look& before)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(kPauseMs);
    Look last = before;
    while (Clock::now() < deadline) {
        Sleep(kPollMs);
        const Look now = Now();
        if (now != before && now == last)
            return;
        last = now;
    }
}

void Wizard::AwaitSteadyLook(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Look last = Now();
    while (Clock::now() < deadline) {
        Sleep(kPollMs);
        const Look now = Now();
        if (now == last)
            return;
        last = now;
    }
}

void Wizard::Key(unsigned long keysym, bool shift)
{
    FocusWindow();
    const Look before = Now();
    PressKey(display_, keysym, shift);
    AwaitChangeFrom(before);
}

// A key at a time, a few milliseconds apart, as a person types: the
// toolkit's menus drop a key whose time stamp and serial number equal
// those of the key before, so the letters that act as accelerators need
// the gap anywhere outside the destination field.
void Wizard::Type(const std::string& text)
{
    FocusWindow();
    for (char c : text) {
        TypeText(display_, std::string(1, c));
        Sleep(15);
    }
    Settle();
}

void Wizard::TypeAtOnce(const std::string& text)
{
    FocusWindow();
    for (char c : text) {
        const KeyCode code = XKeysymToKeycode(display_, static_cast<unsigned char>(c));
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
        XTestFakeKeyEvent(display_, code, False, CurrentTime);
    }
    Settle();
}

void Wizard::Click(const Box& box)
{
    const Look before = Now();
    ClickAt(display_, box.CentreX(), box.CentreY());
    AwaitChangeFrom(before);
}

void Wizard::ClickButton(int index)
{
    const std::vector<Box> buttons = Buttons();
    if (index < static_cast<int>(buttons.size()))
        Click(buttons[index]);
}

// Three clicks, each within the multi-click time of the one before,
// select the whole line; keys typed next reach the field after them.
// Given a holder, the selection is taken from the field just before the
// last click: the field owns it again once it has handled that click.
void Wizard::SelectLine(const Box& field, Window holder)
{
    for (int i = 0; i < 3; ++i) {
        if (i > 0)
            Sleep(60);
        if (i == 2 && holder != None)
            XSetSelectionOwner(display_, XA_PRIMARY, holder, CurrentTime);
        ClickAt(display_, field.x + 5, field.CentreY());
    }
}

// What is typed over the selected line replaces it.  The field takes
// keys sent without a gap.
void Wizard::SetDestination(const std::string& text)
{
    const std::optional<Box> field = DestinationField();
    if (!field)
        return;
    SelectLine(*field);
    if (text.empty())
        PressKey(display_, XK_BackSpace);
    TypeText(display_, text);
    Settle();
}

std::string Wizard::DestinationText()
{
    const std::optional<Box> field = DestinationField();
    if (!field)
        return "";
    const Window requestor = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0,
                                                 0, 1, 1, 0, 0, 0);
    SelectLine(*field, requestor);
    const auto selected = Clock::now() + std::chrono::seconds(2);
    while (XGetSelectionOwner(display_, XA_PRIMARY) == requestor && Clock::now() < selected)
        Sleep(kPollMs);
    if (XGetSelectionOwner(display_, XA_PRIMARY) == requestor) {  // nothing to select
        XDestroyWindow(display_, requestor);
        return "";
    }
    const Atom property = XInternAtom(display_, "WIZARD_TEST_SELECTION", False);
    XConvertSelection(display_, XA_PRIMARY, XA_STRING, property, requestor, CurrentTime);
    XFlush(display_);
    std::string text;
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    XEvent event;
    while (Clock::now() < deadline) {
        if (!XCheckTypedWindowEvent(display_, requestor, SelectionNotify, &event)) {
            Sleep(10);
            continue;
        }
        if (event.xselection.property != None)
            if (const auto chars = WindowProperty<char>(display_, requestor,
                                                        "WIZARD_TEST_SELECTION", AnyPropertyType))
                text.assign(chars->begin(), chars->end());
        break;
    }
    XDestroyWindow(display_, requestor);
    return text;
}

void Wizard::Settle(int ms)
{
    XSync(display_, False);
    Sleep(ms);
}

void Wizard::CloseByWindowManager()
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window_;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window_, False, NoEventMask, &event);
    XSync(display_, False);
}

std::optional<int> Wizard::WaitForExit(int timeoutMs)
{
    if (status_)
        return status_;
    if (pid_ <= 0)  // never started: waitpid(-1) would answer for no child at all
        return std::nullopt;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return status_;
        }
        if (timeoutMs > 0)
            Sleep(10);
    } while (Clock::now() < deadline);
    return std::nullopt;
}

std::string Wizard::Output()
{
    std::string output;
    char buffer[4096];
    ssize_t count;
    while ((count = read(outputFd_, buffer, sizeof buffer)) > 0)
        output.append(buffer, count);
    return output;
}
