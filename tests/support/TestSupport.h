// Helpers for tests that drive real X clients on a real X server.
//
// Screenshots:
//   SaveWindowPng(dpy, window, path)    writes the window's current contents
//                                       (pass DefaultRootWindow for the screen)
//   SaveRootRegionPng(dpy, x, y, w, h, path)
//                                       writes a rectangle of the screen, so
//                                       override-redirect popups show too
//   Both return false (and write nothing) when the image cannot be read or the
//   file cannot be written. Missing parent directories are created.
//
// Input through XTEST (every call ends with XSync, so the server has the
// events queued when it returns):
//   MovePointer(dpy, x, y)              root coordinates
//   ClickAt(dpy, x, y, button)          move, press and release
//   ClickWidget(w, button)              click at the centre of a realized widget
//   WidgetCentre(w, &x, &y)             that centre in root coordinates
//   PressKey(dpy, keysym, shift)        press and release one key
//   TypeText(dpy, text)                 types printable ASCII
//
// Event processing for in-process Xt tests:
//   ProcessUntilIdle(app)               dispatches events until the server
//                                       has had nothing new for quiet_ms;
//                                       each look follows an XSync, so every
//                                       event the input caused is in by then
//
// Scratch space:
//   ScratchDir dir("name")              a new folder /tmp/name-XXXXXX that
//                                       every user may enter (for tests run as
//                                       an unprivileged user), removed with its
//                                       content; path() is empty if it could
//                                       not be made; what is in it goes as
//                                       well when the test is interrupted
//
// Cases that need root (they run the installer as nobody, hand folders to
// another owner or expect /usr/local writable) begin with
//   SKIP_UNLESS_ROOT();                 reported as skipped for anybody else
#pragma once

#include <X11/Intrinsic.h>
#include <X11/Xlib.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#define SKIP_UNLESS_ROOT()                 \
    do {                                   \
        if (geteuid() != 0)                \
            GTEST_SKIP() << "needs root";  \
    } while (false)

bool SaveWindowPng(Display* dpy, Window window, const std::string& path);
bool SaveRootRegionPng(Display* dpy, int x, int y, unsigned width,
                       unsigned height, const std::string& path);

void MovePointer(Display* dpy, int x, int y);
void ClickAt(Display* dpy, int x, int y, unsigned button = 1);
void WidgetCentre(Widget w, int* x, int* y);
void ClickWidget(Widget w, unsigned button = 1);
void PressKey(Display* dpy, KeySym keysym, bool shift = false);
void TypeText(Display* dpy, const std::string& text);

void ProcessUntilIdle(XtAppContext app, int quiet_ms = 10);

class ScratchDir {
public:
    explicit ScratchDir(const std::string& name);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};
