// Preferred size, layout of the row, geometry requests from the children,
// and what the combo box draws, read back from the screen. Geometry
// requests reach the combo box only once it is realized.
#include "ComboFixture.h"

#include <X11/IntrinsicP.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/TextF.h>

#include <algorithm>

#include "TestSupport.h"

namespace {

int ExpectedArrowWidth(int field_height)
{
    return std::max(13, static_cast<int>(0.45 * field_height));
}

} // namespace

TEST_F(ComboTest, EditablePreferredSizeIsFieldAndArrowInsideSixPixels)
{
    Widget combo = MakeCombo({A(DtNtype, 1)});
    Geometry box = GeometryOf(combo);
    Geometry text = GeometryOf(Child(combo, "Text"));
    Geometry arrow = GeometryOf(Child(combo, "ComboBoxArrow"));
    EXPECT_EQ(arrow.width, ExpectedArrowWidth(text.height));
    EXPECT_EQ(arrow.height, std::max(13, text.height));
    EXPECT_EQ(box.width, text.width + arrow.width + 6);
    EXPECT_EQ(box.height, text.height + 6);
    // Arrow at the right, field at the left inside margin and shadow.
    EXPECT_EQ(text.x, 3);
    EXPECT_EQ(arrow.x, box.width - 3 - arrow.width);
}

TEST_F(ComboTest, ArrowIsNearlyHalfAsWideAsATallField)
{
    for (int margin : {1, 10}) {
        SCOPED_TRACE(margin);
        Widget combo = MakeCombo({A(DtNtype, 1)});
        Show();
        Widget text = Child(combo, "Text");
        XtVaSetValues(text, XmNmarginHeight, margin, nullptr);
        Geometry field = GeometryOf(text);
        Geometry arrow = GeometryOf(Child(combo, "ComboBoxArrow"));
        EXPECT_EQ(arrow.width, ExpectedArrowWidth(field.height));
        EXPECT_EQ(GeometryOf(combo).height, field.height + 6);
        XtDestroyWidget(combo);
    }
}

TEST_F(ComboTest, ReadOnlyFormIsDrawnWithShadowTwo)
{
    Widget combo = MakeCombo({A(XmNshadowThickness, 5)});
    EXPECT_EQ(Dim(combo, XmNshadowThickness), 2);
    Geometry box = GeometryOf(combo);
    Geometry label = GeometryOf(Child(combo, "Label"));
    Geometry separator = GeometryOf(Child(combo, "ComboBoxSeparator"));
    Geometry arrow = GeometryOf(Child(combo, "ComboBoxArrow"));
    // margins 2, shadow 2, spacing 1 across and 2 down.
    EXPECT_EQ(box.height, label.height + 12);
    EXPECT_EQ(box.width, label.width + separator.width + arrow.width + 10);
    EXPECT_EQ(separator.y, 4);
    EXPECT_EQ(separator.height, box.height - 8);
    EXPECT_EQ(arrow.x, box.width - 5 - arrow.width);
    EXPECT_EQ(separator.x, arrow.x - separator.width);
}

TEST_F(ComboTest, OrientationAndArrowSpacingPlaceTheRow)
{
    Widget right = MakeCombo({A(DtNtype, 1), A(DtNarrowSpacing, 10)});
    Geometry box = GeometryOf(right);
    Geometry text = GeometryOf(Child(right, "Text"));
    Geometry arrow = GeometryOf(Child(right, "ComboBoxArrow"));
    EXPECT_EQ(arrow.x, box.width - 3 - arrow.width);
    EXPECT_EQ(arrow.x - (text.x + text.width), 10);

    Widget left = MakeCombo({A(DtNtype, 1), A(DtNarrowSpacing, 10),
                             A(DtNorientation, 0)});
    text = GeometryOf(Child(left, "Text"));
    arrow = GeometryOf(Child(left, "ComboBoxArrow"));
    EXPECT_EQ(arrow.x, 3);
    EXPECT_EQ(text.x, 3 + arrow.width + 10);

    // Changing the orientation lays the row out again.
    XtVaSetValues(left, DtNorientation, 1, nullptr);
    EXPECT_EQ(GeometryOf(Child(left, "Text")).x, 3);
}

TEST_F(ComboTest, BandResourceChangesLayTheRowOutAgain)
{
    Widget combo = MakeCombo({A(DtNtype, 1)});
    Show();
    Dimension field_width = GeometryOf(Child(combo, "Text")).width;
    // Each change alone grows the combo box around a field of the same size.
    const char* resources[] = {DtNmarginWidth, DtNmarginHeight,
                               DtNhorizontalSpacing, DtNverticalSpacing,
                               XmNshadowThickness, DtNarrowSpacing};
    for (const char* resource : resources) {
        SCOPED_TRACE(resource);
        XtVaSetValues(combo, resource, 6, nullptr);
        Process();
        Geometry box = GeometryOf(combo);
        Geometry text = GeometryOf(Child(combo, "Text"));
        Geometry arrow = GeometryOf(Child(combo, "ComboBoxArrow"));
        int across = Dim(combo, DtNmarginWidth) +
                     Dim(combo, XmNshadowThickness) +
                     Dim(combo, DtNhorizontalSpacing);
        int down = Dim(combo, DtNmarginHeight) +
                   Dim(combo, XmNshadowThickness) +
                   Dim(combo, DtNverticalSpacing);
        EXPECT_EQ(text.width, field_width);
        EXPECT_EQ(box.width, text.width + arrow.width + 2 * across +
                                 Dim(combo, DtNarrowSpacing));
        EXPECT_EQ(box.height, text.height + 2 * down);
        EXPECT_EQ(text.x, across);
        EXPECT_EQ(text.y, down);
        EXPECT_EQ(arrow.x, box.width - across - arrow.width);
    }
}

TEST_F(ComboTest, ReadOnlyLabelFitsItsWidestAndTallestItem)
{
    Widget combo = MakeCombo({});
    AddItems(combo, {"a", "a much longer item", "b"});
    Widget label = Child(combo, "Label");
    XmFontList fonts = nullptr;
    XtVaGetValues(label, XmNfontList, &fonts, nullptr);
    Str longest("a much longer item");
    Dimension width = 0, height = 0;
    XmStringExtent(fonts, longest, &width, &height);
    EXPECT_EQ(GeometryOf(label).width, width + 4);
    EXPECT_EQ(GeometryOf(label).height, height);
    EXPECT_EQ(LabelText(combo), "a");
}

TEST_F(ComboTest, ComboShorterThanItsBordersKeepsAUsableArrow)
{
    Widget combo = MakeCombo({});
    XtResizeWidget(combo, 200, 8, 0);
    EXPECT_EQ(GeometryOf(Child(combo, "ComboBoxSeparator")).height, 1);
    EXPECT_EQ(GeometryOf(Child(combo, "ComboBoxArrow")).height, 13);
}

TEST_F(ComboTest, OnlyTheTextFieldMayAskForANewSize)
{
    Widget combo = MakeCombo({A(DtNtype, 1)});
    Widget read_only = MakeCombo({});
    Show();
    Widget text = Child(combo, "Text");
    Geometry before = GeometryOf(combo);
    Geometry field = GeometryOf(text);
    Dimension width = 0, height = 0;
    EXPECT_EQ(XtMakeResizeRequest(Child(combo, "ComboBoxArrow"), 40, 40, &width,
                                  &height),
              XtGeometryNo);
    EXPECT_EQ(XtMakeResizeRequest(text, field.width + 40, field.height, &width,
                                  &height),
              XtGeometryYes);
    EXPECT_EQ(GeometryOf(text).width, field.width + 40);
    EXPECT_EQ(GeometryOf(combo).width, before.width + 40);

    EXPECT_EQ(XtMakeResizeRequest(Child(read_only, "Label"), 300, 30, &width,
                                  &height),
              XtGeometryNo);
}

TEST_F(ComboTest, DrawnArrowFillsItsOutlineAndBar)
{
    Widget combo = MakeCombo({A(DtNtype, 1), A(DtNarrowType, 1)});
    Show();
    Widget arrow = Child(combo, "ComboBoxArrow");
    Pixel foreground = 0, background = 0;
    XtVaGetValues(arrow, XmNforeground, &foreground, XmNbackground,
                  &background, nullptr);
    ASSERT_NE(foreground, background);
    Geometry g = GeometryOf(arrow);
    int cx = g.width / 2;
    int cy = (g.height - 3) / 2;
    int a = static_cast<int>(0.8 * cx);
    int b = static_cast<int>(0.3 * cx);
    EXPECT_EQ(PixelAt(arrow, cx, cy), foreground);                // shaft
    EXPECT_EQ(PixelAt(arrow, cx, cy - a + 1), foreground);        // shaft top
    EXPECT_EQ(PixelAt(arrow, cx - a + 1, cy), foreground);        // head
    EXPECT_EQ(PixelAt(arrow, cx, cy + a - 1), foreground);        // tip
    EXPECT_EQ(PixelAt(arrow, cx - b - 1, cy - 1), background);    // beside shaft
    EXPECT_EQ(PixelAt(arrow, 1, cx + cy + 1), foreground);        // bar
    EXPECT_EQ(PixelAt(arrow, g.width - 2, cx + cy + 1), foreground);
    EXPECT_EQ(PixelAt(arrow, 0, 0), background);
}

TEST_F(ComboTest, ShadowAndFocusHighlightAreDrawnInTheirBands)
{
    Widget row = XtVaCreateManagedWidget("row", xmRowColumnWidgetClass, shell,
                                         nullptr);
    Widget combo = XtVaCreateManagedWidget("combo", dtComboBoxWidgetClass, row,
                                           nullptr);
    Widget button = XtVaCreateManagedWidget("button",
                                            xmPushButtonWidgetClass, row,
                                            nullptr);
    Show();
    XSetInputFocus(dpy, XtWindow(shell), RevertToParent, CurrentTime);
    Process();
    Pixel top = 0, bottom = 0, highlight = 0, background = 0;
    XtVaGetValues(combo, XmNtopShadowColor, &top, XmNbottomShadowColor,
                  &bottom, XmNhighlightColor, &highlight, XmNbackground,
                  &background, nullptr);
    Geometry g = GeometryOf(combo);
    EXPECT_EQ(PixelAt(combo, 2, 2), top);
    EXPECT_EQ(PixelAt(combo, g.width - 3, g.height - 3), bottom);

    XmProcessTraversal(combo, XmTRAVERSE_CURRENT);
    Process();
    EXPECT_EQ(XmGetFocusWidget(combo), combo);
    EXPECT_EQ(PixelAt(combo, 0, 0), highlight);
    EXPECT_EQ(PixelAt(combo, g.width - 1, g.height / 2), highlight);

    XmProcessTraversal(button, XmTRAVERSE_CURRENT);
    Process();
    EXPECT_EQ(PixelAt(combo, 0, 0), background);
    EXPECT_EQ(PixelAt(combo, g.width - 1, g.height / 2), background);
}

TEST_F(ComboTest, BoxSmallerThanItsMarginsDrawsNoShadowInThem)
{
    Widget combo = MakeCombo({A(DtNtype, 1), A(DtNmarginWidth, 20),
                              A(DtNmarginHeight, 20),
                              A(XmNshadowThickness, 2),
                              A(DtNrecomputeSize, False)});
    Show();
    XtResizeWidget(combo, 30, 30, 0);
    XtVaSetValues(combo, XmNshadowThickness, 3, nullptr);
    Process();
    Pixel background = 0;
    XtVaGetValues(combo, XmNbackground, &background, nullptr);
    // The children start below row 23; the rows above are margin only.
    XImage* image = XGetImage(dpy, XtWindow(combo), 0, 0, 30, 23, AllPlanes,
                              ZPixmap);
    ASSERT_NE(image, nullptr);
    int drawn = 0;
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 30; ++x)
            drawn += XGetPixel(image, x, y) != background;
    XDestroyImage(image);
    EXPECT_EQ(drawn, 0);
}

TEST_F(ComboTest, InsensitiveDrawnArrowIsStippled)
{
    Widget combo = MakeCombo({A(DtNtype, 1), A(DtNarrowType, 1)});
    Show();
    Widget arrow = Child(combo, "ComboBoxArrow");
    Pixel foreground = 0;
    XtVaGetValues(arrow, XmNforeground, &foreground, nullptr);
    Geometry g = GeometryOf(arrow);
    auto count_foreground = [&] {
        XImage* image = XGetImage(dpy, XtWindow(arrow), 0, 0, g.width,
                                  g.height, AllPlanes, ZPixmap);
        if (!image) {
            ADD_FAILURE() << "no image of the arrow";
            return 0;
        }
        int count = 0;
        for (int y = 0; y < g.height; ++y)
            for (int x = 0; x < g.width; ++x)
                count += XGetPixel(image, x, y) == foreground;
        XDestroyImage(image);
        return count;
    };
    int solid = count_foreground();
    XtSetSensitive(combo, False);
    Process();
    ASSERT_TRUE(SaveWindowPng(dpy, XtWindow(shell),
                              ScreenshotPath("editable_drawnarrow_insensitive")));
    int stippled = count_foreground();
    EXPECT_GT(stippled, solid / 4);
    EXPECT_LT(stippled, solid * 3 / 4);
    XtSetSensitive(combo, True);
    Process();
    EXPECT_EQ(count_foreground(), solid);
}
