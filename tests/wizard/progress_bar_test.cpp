// The progress bar, painted into a real drawing area on the X server and
// read back pixel by pixel.
#include <gtest/gtest.h>  // before the X headers and their macros

#include "WizardDriver.h"
#include "state.h"

#include <Xm/DrawingA.h>
#include <X11/Xft/Xft.h>

#include <algorithm>

namespace {

constexpr int kWidth = 300;
constexpr int kHeight = 30;
constexpr unsigned long kBlue = 0x3131ce;
constexpr unsigned long kGrey = 0xd0d0d0;
constexpr unsigned long kWhite = 0xffffff;
constexpr unsigned long kMarker = 0xff0000;  // painted by the test, never by the bar

String fallbacks[] = {
    const_cast<char*>("ProgressBarTest*page3progressbar.foreground: #3131ce"),
    const_cast<char*>("ProgressBarTest*page3progressbar.background: #D0D0D0"),
    nullptr,
};

// One shell with the bar for the whole suite, as the wizard has one bar.
class ProgressBarTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "progress-bar-test";
        static char* argv[] = {name, nullptr};
        toplevel = XtVaAppInitialize(&appContext, "ProgressBarTest", nullptr, 0, &argc,
                                     argv, fallbacks, nullptr);
        page3progressbar = XtVaCreateManagedWidget(
            "page3progressbar", xmDrawingAreaWidgetClass, toplevel,
            XmNwidth, kWidth, XmNheight, kHeight, nullptr);
        XtAddCallback(page3progressbar, XmNexposeCallback, DrawProgressBar, nullptr);
        XtRealizeWidget(toplevel);
        display = XtDisplay(toplevel);
        progressGC = XCreateGC(display, XtWindow(toplevel), 0, nullptr);
        pProgressFont =
            XLoadQueryFont(display, "-adobe-helvetica-medium-r-*-*-14-*-*-*-*-*-*-*");
        ASSERT_NE(pProgressFont, nullptr) << "the 75 or 100 dpi fonts are missing";
        XSetFont(display, progressGC, pProgressFont->fid);
        markerGC = XCreateGC(display, XtWindow(toplevel), 0, nullptr);
        XSetForeground(display, markerGC, kMarker);
        Settle();
    }

    // Lets the server and the toolkit finish whatever is pending, exposes
    // included.
    static void Settle()
    {
        for (int quiet = 0; quiet < 3;) {
            XSync(display, False);
            if (XtAppPending(appContext)) {
                XtAppProcessEvent(appContext, XtIMAll);
                quiet = 0;
            } else {
                ++quiet;
            }
        }
    }

    void SetUp() override
    {
        Settle();
        XFillRectangle(display, Window(), markerGC, 0, 0, kWidth, kHeight);
        XSync(display, False);
    }

    static ::Window Window() { return XtWindow(page3progressbar); }

    static void PaintAt(float percent, XtPointer call_data = nullptr)
    {
        fPercentDone = percent;
        DrawProgressBar(page3progressbar, nullptr, call_data);
        XSync(display, False);
    }

    static Image Capture() { return ::Capture(display, {Window(), 0, 0, kWidth, kHeight}); }

    // The first and last columns from column from on that hold ink of the
    // colour (white: the label over the filled part).
    static std::pair<int, int> InkColumns(XImage* image, unsigned long ink = kWhite,
                                          int from = 0)
    {
        int first = kWidth;
        int last = -1;
        for (int y = 0; y < kHeight; ++y)
            for (int x = from; x < kWidth; ++x)
                if (XGetPixel(image, x, y) == ink) {
                    first = std::min(first, x);
                    last = std::max(last, x);
                }
        return {first, last};
    }

    static XtAppContext appContext;
    static Display* display;
    static GC markerGC;
};

XtAppContext ProgressBarTest::appContext;
Display* ProgressBarTest::display;
GC ProgressBarTest::markerGC;

TEST_F(ProgressBarTest, PaintsNothingAtZeroPercentEvenOnExpose)
{
    PaintAt(0.0f);
    XmDrawingAreaCallbackStruct expose{};
    expose.reason = XmCR_EXPOSE;
    PaintAt(0.0f, &expose);
    const Image image = Capture();
    for (int x = 0; x < kWidth; x += 7)
        for (int y = 0; y < kHeight; y += 5)
            ASSERT_EQ(XGetPixel(image.get(), x, y), kMarker) << x << "," << y;
}

TEST_F(ProgressBarTest, FillsUpToTheWidthAndLeavesTheGapColumnAlone)
{
    PaintAt(50.0f);  // 150 of 300 pixels
    const Image image = Capture();
    for (int y : {0, 2, kHeight - 1}) {
        for (int x = 0; x < 150; ++x)
            ASSERT_EQ(XGetPixel(image.get(), x, y), kBlue) << x << "," << y;
        EXPECT_EQ(XGetPixel(image.get(), 150, y), kMarker) << "gap column, row " << y;
        for (int x = 151; x < kWidth; ++x)
            ASSERT_EQ(XGetPixel(image.get(), x, y), kGrey) << x << "," << y;
    }
}

TEST_F(ProgressBarTest, FullBarIsBlueWithTheWhiteLabelCentred)
{
    PaintAt(100.0f);
    const Image image = Capture();
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const unsigned long pixel = XGetPixel(image.get(), x, y);
            ASSERT_TRUE(pixel == kBlue || pixel == kWhite) << x << "," << y;
        }
    // "100%" centred: the glyphs' ink lies within the text's advance width.
    const int textWidth = XTextWidth(pProgressFont, "100%", 4);
    const int left = (kWidth - textWidth) / 2;
    const auto [first, last] = InkColumns(image.get());
    EXPECT_GE(first, left);
    EXPECT_LE(first, left + 3);
    EXPECT_LE(last, left + textWidth);
    EXPECT_GE(last, left + textWidth - 4);
}

// White over the filled part, the bar's blue over the grey rest.
TEST_F(ProgressBarTest, TheLabelReadsOverBothParts)
{
    PaintAt(25.0f);  // 75 pixels: the label lies over the rest
    Image image = Capture();
    EXPECT_EQ(InkColumns(image.get()).second, -1) << "no white on grey";
    const int textWidth = XTextWidth(pProgressFont, "25%", 3);
    const auto [first, last] = InkColumns(image.get(), kBlue, 76);
    EXPECT_GE(first, (kWidth - textWidth) / 2);
    EXPECT_LE(last, (kWidth + textWidth) / 2);
    EXPECT_GT(last - first, textWidth / 2) << "blue glyphs where the label stands";

    PaintAt(50.0f);  // 150 pixels: the label straddles the edge
    image = Capture();
    const auto [firstWhite, lastWhite] = InkColumns(image.get());
    EXPECT_LT(firstWhite, 145);
    EXPECT_EQ(lastWhite, 149);
    EXPECT_GE(InkColumns(image.get(), kBlue, 151).first, 151);
    EXPECT_LT(InkColumns(image.get(), kBlue, 151).first, 155);
}

TEST_F(ProgressBarTest, DirectCallsPaintOnlyWhenTheFilledWidthChanges)
{
    PaintAt(40.0f);  // 120 pixels
    XFillRectangle(display, Window(), markerGC, 0, 0, kWidth, kHeight);
    PaintAt(40.0f);
    PaintAt(40.2f);  // still 120 pixels
    EXPECT_EQ(XGetPixel(Capture().get(), 10, 1), kMarker);
    PaintAt(41.0f);  // 123 pixels
    const Image image = Capture();
    EXPECT_EQ(XGetPixel(image.get(), 10, 1), kBlue);
    EXPECT_EQ(XGetPixel(image.get(), 122, 1), kBlue);
    EXPECT_EQ(XGetPixel(image.get(), 124, 1), kGrey);
}

TEST_F(ProgressBarTest, ExposeRepaintsTheWholeBar)
{
    PaintAt(75.0f);  // 225 pixels
    XFillRectangle(display, Window(), markerGC, 0, 0, kWidth, kHeight);
    XClearArea(display, Window(), 0, 0, 0, 0, True);  // the server sends an expose
    Settle();
    const Image image = Capture();
    EXPECT_EQ(XGetPixel(image.get(), 0, 1), kBlue);
    EXPECT_EQ(XGetPixel(image.get(), 224, 1), kBlue);
    EXPECT_EQ(XGetPixel(image.get(), 226, 1), kGrey);
    EXPECT_EQ(XGetPixel(image.get(), kWidth - 1, kHeight - 1), kGrey);
    EXPECT_NE(InkColumns(image.get()).second, -1) << "the label is repainted too";
}

TEST_F(ProgressBarTest, WithoutTheFontTheLabelStartsAtTheCentre)
{
    XFontStruct* font = pProgressFont;
    GC gc = progressGC;
    pProgressFont = nullptr;
    progressGC = XCreateGC(display, Window(), 0, nullptr);  // the server's default font
    PaintAt(30.0f);
    const auto [first, last] = InkColumns(Capture().get(), kBlue, 91);  // past the fill
    XFreeGC(display, progressGC);
    progressGC = gc;
    pProgressFont = font;
    EXPECT_GE(first, kWidth / 2);
    EXPECT_LE(first, kWidth / 2 + 3);
    EXPECT_GT(last, first);
}

// With a client-side font (fontconfig's Helvetica) the percentage is
// smoothed at its edges and centred as the font measures it.
TEST_F(ProgressBarTest, TheClientSideFontSmoothsThePercentageAndCentresIt)
{
    pPercentFont = XftFontOpen(display, DefaultScreen(display), XFT_FAMILY, XftTypeString,
                               "Helvetica", XFT_PIXEL_SIZE, XftTypeDouble, 14.0, nullptr);
    ASSERT_NE(pPercentFont, nullptr) << "fontconfig has no font";
    PaintAt(100.0f);
    const Image image = Capture();
    const std::size_t colours = DistinctColours(image.get());
    XGlyphInfo extents{};
    XftTextExtentsUtf8(display, pPercentFont, reinterpret_cast<const FcChar8*>("100%"), 4,
                       &extents);
    XftFontClose(display, pPercentFont);
    pPercentFont = nullptr;
    EXPECT_GT(colours, 3u) << "blue, white and the shades between";
    int first = kWidth, last = -1;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if (XGetPixel(image.get(), x, y) != kBlue) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
    const int left = (kWidth - extents.xOff) / 2;
    EXPECT_GE(first, left - 1);
    EXPECT_LE(last, left + extents.xOff + 1);
    EXPECT_NEAR(first + last, kWidth, 4) << "centred";
}

}  // namespace
