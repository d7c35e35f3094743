// Screenshots with libpng and synthetic input with XTEST.
#include "TestSupport.h"

#include <X11/StringDefs.h>
#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <png.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

// Position of the lowest set bit and the width of a colour mask, so that
// a pixel of any TrueColor layout can be scaled to 8 bits a channel.
unsigned Channel(unsigned long pixel, unsigned long mask)
{
    if (mask == 0)
        return 0;
    int shift = 0;
    while (!(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    unsigned long value = (pixel >> shift) & mask;
    return static_cast<unsigned>(value * 255 / mask);
}

bool WriteRgbPng(const std::string& path, unsigned width, unsigned height,
                 const std::vector<unsigned char>& rgb)
{
    std::filesystem::path p(path);
    std::error_code ec;
    if (p.has_parent_path())
        std::filesystem::create_directories(p.parent_path(), ec);
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr,
                                              nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (unsigned y = 0; y < height; ++y)
        png_write_row(png, const_cast<png_bytep>(&rgb[y * width * 3]));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool SaveDrawablePng(Display* dpy, Window window, int x, int y,
                     unsigned width, unsigned height, const std::string& path)
{
    XWindowAttributes attrs;
    if (!XGetWindowAttributes(dpy, window, &attrs) || width == 0 || height == 0)
        return false;
    XImage* image = XGetImage(dpy, window, x, y, width, height, AllPlanes,
                              ZPixmap);
    if (!image)
        return false;
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
    Visual* visual = attrs.visual;
    for (unsigned row = 0; row < height; ++row) {
        for (unsigned col = 0; col < width; ++col) {
            unsigned long pixel = XGetPixel(image, col, row);
            unsigned char* out = &rgb[(row * width + col) * 3];
            out[0] = Channel(pixel, visual->red_mask);
            out[1] = Channel(pixel, visual->green_mask);
            out[2] = Channel(pixel, visual->blue_mask);
        }
    }
    XDestroyImage(image);
    return WriteRgbPng(path, width, height, rgb);
}

} // namespace

bool SaveWindowPng(Display* dpy, Window window, const std::string& path)
{
    XWindowAttributes attrs;
    if (!XGetWindowAttributes(dpy, window, &attrs))
        return false;
    return SaveDrawablePng(dpy, window, 0, 0, attrs.width, attrs.height, path);
}

bool SaveRootRegionPng(Display* dpy, int x, int y, unsigned width,
                       unsigned height, const std::string& path)
{
    return SaveDrawablePng(dpy, DefaultRootWindow(dpy), x, y, width, height,
                           path);
}

void MovePointer(Display* dpy, int x, int y)
{
    XTestFakeMotionEvent(dpy, DefaultScreen(dpy), x, y, CurrentTime);
    XSync(dpy, False);
}

void ClickAt(Display* dpy, int x, int y, unsigned button)
{
    MovePointer(dpy, x, y);
    XTestFakeButtonEvent(dpy, button, True, CurrentTime);
    XTestFakeButtonEvent(dpy, button, False, CurrentTime);
    XSync(dpy, False);
}

void WidgetCentre(Widget w, int* x, int* y)
{
    Dimension width = 0, height = 0;
    XtVaGetValues(w, XtNwidth, &width, XtNheight, &height, nullptr);
    Position rx = 0, ry = 0;
    XtTranslateCoords(w, static_cast<Position>(width / 2),
                      static_cast<Position>(height / 2), &rx, &ry);
    *x = rx;
    *y = ry;
}

void ClickWidget(Widget w, unsigned button)
{
    int x = 0, y = 0;
    WidgetCentre(w, &x, &y);
    ClickAt(XtDisplay(w), x, y, button);
}

void PressKey(Display* dpy, KeySym keysym, bool shift)
{
    KeyCode code = XKeysymToKeycode(dpy, keysym);
    KeyCode shift_code = XKeysymToKeycode(dpy, XK_Shift_L);
    if (code == 0)
        return;
    if (shift)
        XTestFakeKeyEvent(dpy, shift_code, True, CurrentTime);
    XTestFakeKeyEvent(dpy, code, True, CurrentTime);
    XTestFakeKeyEvent(dpy, code, False, CurrentTime);
    if (shift)
        XTestFakeKeyEvent(dpy, shift_code, False, CurrentTime);
    XSync(dpy, False);
}

void TypeText(Display* dpy, const std::string& text)
{
    for (char c : text) {
        KeySym keysym = static_cast<unsigned char>(c);
        if (c == ' ')
            keysym = XK_space;
        KeyCode code = XKeysymToKeycode(dpy, keysym);
        // The keysym needs Shift when it is not the key's first symbol.
        bool shift = code != 0 && XkbKeycodeToKeysym(dpy, code, 0, 0) != keysym;
        PressKey(dpy, keysym, shift);
    }
}

void ProcessUntilIdle(XtAppContext app, int quiet_ms)
{
    using Clock = std::chrono::steady_clock;
    Display* dpy = nullptr;
    Display** displays = nullptr;
    Cardinal count = 0;
    XtGetDisplays(app, &displays, &count);
    if (count > 0)
        dpy = displays[0];
    XtFree(reinterpret_cast<char*>(displays));

    auto quiet_since = Clock::now();
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        if (dpy)
            XSync(dpy, False);
        if (XtAppPending(app)) {
            XtAppProcessEvent(app, XtIMAll);
            quiet_since = Clock::now();
            continue;
        }
        if (Clock::now() - quiet_since >= std::chrono::milliseconds(quiet_ms))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
