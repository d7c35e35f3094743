// The progress bar on page 3: a filled part in the bar's foreground colour,
// the rest in its background colour, and the percentage across the middle.
#include "state.h"

#include <X11/IntrinsicP.h>
#include <X11/Xft/Xft.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#ifdef OVELO8_COUNT_PAINTS
#include <cstdio>
#endif

namespace {

int nLastBarWidth = 0;  // filled width in pixels at the last painting

struct BarLook {
    Dimension width = 0;
    Dimension height = 0;
    Pixel foreground = 0;
    Pixel background = 0;
};

BarLook ReadBarLook(Widget bar)
{
    BarLook look;
    XtVaGetValues(bar, XmNwidth, &look.width, XmNheight, &look.height,
                  XmNforeground, &look.foreground,
                  XmNbackground, &look.background, nullptr);
    return look;
}

// Column x itself is left alone: the filled width only grows, so it keeps
// the background colour of the painting before.
void PaintBar(Display* display, Window window, const BarLook& look, int x)
{
    XSetForeground(display, progressGC, look.background);
    XFillRectangle(display, window, progressGC, x + 1, 0, look.width, look.height);
    XSetForeground(display, progressGC, look.foreground);
    XFillRectangle(display, window, progressGC, 0, 0, x, look.height);
}

// Draws text clipped to the columns [left, right) of the bar.
void DrawTextWithin(Display* display, Window window, const BarLook& look, int left,
                    int right, const std::string& text, int x, int y)
{
    XRectangle part{static_cast<short>(left), 0,
                    static_cast<unsigned short>(std::max(right - left, 0)), look.height};
    XSetClipRectangles(display, progressGC, 0, 0, &part, 1, Unsorted);
    XDrawString(display, window, progressGC, x, y, text.c_str(),
                static_cast<int>(text.size()));
}

// The colour of a pixel for Xft, asked of the server once for each pixel.
XftColor XftColourOf(Widget bar, Pixel pixel)
{
    static std::vector<XftColor> known;
    for (const XftColor& colour : known)
        if (colour.pixel == pixel)
            return colour;
    Display* display = XtDisplay(bar);
    XColor exact{};
    exact.pixel = pixel;
    XQueryColor(display, bar->core.colormap, &exact);
    XftColor colour{};
    colour.pixel = pixel;
    colour.color = {exact.red, exact.green, exact.blue, 0xffff};
    known.push_back(colour);
    return colour;
}

// Client-side and smoothed: the text in each colour clipped to its columns.
void PaintXftLabel(Widget bar, const BarLook& look, int filled, const std::string& text)
{
    static XftDraw* draw = nullptr;
    Display* display = XtDisplay(bar);
    if (!draw || XftDrawDrawable(draw) != XtWindow(bar)) {
        if (draw)
            XftDrawDestroy(draw);
        draw = XftDrawCreate(display, XtWindow(bar), DefaultVisualOfScreen(XtScreen(bar)),
                             bar->core.colormap);
    }
    const auto* bytes = reinterpret_cast<const FcChar8*>(text.c_str());
    const int length = static_cast<int>(text.size());
    XGlyphInfo extents{};
    XftTextExtentsUtf8(display, pPercentFont, bytes, length, &extents);
    const int left = (look.width - extents.xOff) / 2;
    const int baseline =
        pPercentFont->ascent + (look.height - pPercentFont->ascent - pPercentFont->descent) / 2;
    const std::pair<int, Pixel> parts[] = {{0, WhitePixelOfScreen(XtScreen(bar))},
                                           {filled, look.foreground}};
    for (const auto& [from, pixel] : parts) {
        const int to = from == 0 ? filled : look.width;
        XRectangle part{static_cast<short>(from), 0,
                        static_cast<unsigned short>(std::max(to - from, 0)), look.height};
        XftDrawSetClipRectangles(draw, 0, 0, &part, 1);
        const XftColor colour = XftColourOf(bar, pixel);
        XftDrawStringUtf8(draw, &colour, pPercentFont, left, baseline, bytes, length);
    }
    XftDrawSetClip(draw, nullptr);
}

// Centred with the progress font; without it the text starts at the centre.
// White over the filled part and in the bar's colour over the rest, so
// that it reads at every value.
void PaintLabel(Widget bar, const BarLook& look, int filled)
{
    const std::string text = std::to_string(static_cast<int>(fPercentDone)) + "%";
    if (pPercentFont) {
        PaintXftLabel(bar, look, filled, text);
        return;
    }
    const int length = static_cast<int>(text.size());
    int left = look.width / 2;
    int baseline = look.height / 2;
    if (pProgressFont) {
        const int ascent = pProgressFont->ascent;
        const int descent = pProgressFont->descent;
        baseline = ascent + (look.height - ascent - descent) / 2;
        left = (look.width - XTextWidth(pProgressFont, text.c_str(), length)) / 2;
    }
    Display* display = XtDisplay(bar);
    const Window window = XtWindow(bar);
    XSetForeground(display, progressGC, WhitePixelOfScreen(XtScreen(bar)));
    DrawTextWithin(display, window, look, 0, filled, text, left, baseline);
    XSetForeground(display, progressGC, look.foreground);
    DrawTextWithin(display, window, look, filled, look.width, text, left, baseline);
    XSetClipMask(display, progressGC, None);
}

}  // namespace

// Called by Extract as the unpacking goes on (call_data null) and by the
// toolkit as the bar's expose callback (call_data set).  A direct call
// paints only when the filled width has changed; an expose repaints
// whatever was lost.
void DrawProgressBar(Widget bar, XtPointer, XtPointer call_data)
{
    // Many calls change nothing: the width is taken straight from the
    // widget, the colours are fetched only for a painting.
    const int x = static_cast<int>(fPercentDone * bar->core.width / 100.0);
    const bool exposed = call_data != nullptr;
    if (x == 0 || (x == nLastBarWidth && !exposed))
        return;
    nLastBarWidth = x;
    const BarLook look = ReadBarLook(bar);
    if (!XtIsRealized(bar))
        return;
    PaintBar(XtDisplay(bar), XtWindow(bar), look, x);
    PaintLabel(bar, look, x);
#ifdef OVELO8_COUNT_PAINTS
    // Benchmark builds report every painting, so that a run can be held
    // against the bar's width; repaints for an expose are told apart.
    std::fprintf(stderr, "bar painted: %d of %d pixels%s\n", x, look.width,
                 exposed ? " (expose)" : "");
#endif
}
