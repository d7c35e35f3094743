// xshot: saves a window, or the whole screen, of the X display to a PNG file.
//
//   xshot [-id WINDOW] OUTPUT.png
//
// WINDOW is a window id in decimal or 0x hexadecimal; without -id the root
// window is saved. The display is taken from $DISPLAY.
#include "TestSupport.h"

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: xshot [-id WINDOW] OUTPUT.png\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    Window window = None;
    std::string output;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-id") == 0 && i + 1 < argc) {
            char* end = nullptr;
            window = std::strtoul(argv[++i], &end, 0);
            if (*end != '\0' || window == None)
                return Usage();
        } else if (argv[i][0] == '-' || !output.empty()) {
            return Usage();
        } else {
            output = argv[i];
        }
    }
    if (output.empty())
        return Usage();

    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "xshot: cannot open display\n");
        return 1;
    }
    if (window == None)
        window = DefaultRootWindow(dpy);
    bool saved = SaveWindowPng(dpy, window, output);
    XCloseDisplay(dpy);
    if (!saved) {
        std::fprintf(stderr, "xshot: cannot save window 0x%lx to %s\n",
                     window, output.c_str());
        return 1;
    }
    return 0;
}
