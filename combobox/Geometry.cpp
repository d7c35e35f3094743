// DtComboBox geometry and drawing: preferred size, layout of the row,
// shadow, focus highlight and the drawn arrow.
#include <Xm/DrawP.h>

#include <algorithm>

#include "Internal.h"

namespace dtcombo {
namespace {

constexpr Dimension kMinArrowSize = 13;

void ResizeKeepingBorder(Widget child, Dimension width, Dimension height)
{
    XtResizeWidget(child, width, height, child->core.border_width);
}

Dimension SeparatorWidth(Widget w)
{
    const DtComboBoxPart& cb = Part(w);
    if (cb.type == DtCOMBO_READ_ONLY && cb.separator)
        return cb.separator->core.width;
    return 0;
}

// y of a child of the given height centred in the inner band.
Position CentredY(short y0, short inner_height, Dimension height)
{
    short room = static_cast<short>(inner_height - height);
    return static_cast<Position>(room >= 0 ? y0 + room / 2 : y0);
}

// The arrow is 0.45 times as wide as the field is high, 13 at least.
Dimension ArrowWidth(Dimension field_height)
{
    Dimension width = static_cast<Dimension>(0.45 * field_height);
    return std::max(width, kMinArrowSize);
}

// The label takes the room it is given up to its widest item; the
// separator spans the inner height.
void SizeLabel(Widget w, Dimension room, Dimension height,
               Dimension separator_height)
{
    DtComboBoxPart& cb = Part(w);
    Dimension width = std::min(room, cb.label_max_width);
    if (cb.label->core.width != width || cb.label->core.height != height)
        ResizeKeepingBorder(cb.label, width, height);
    if (cb.separator->core.height != separator_height)
        ResizeKeepingBorder(cb.separator, cb.separator->core.width,
                            separator_height);
}

// The rectangle inside the margins of a box of the given size; margins
// wider than half the box leave it empty.
XRectangle InsideMargins(Widget w, Dimension width, Dimension height)
{
    const DtComboBoxPart& cb = Part(w);
    Dimension mw = std::min<Dimension>(cb.marginWidth, width / 2);
    Dimension mh = std::min<Dimension>(cb.marginHeight, height / 2);
    return {static_cast<short>(mw), static_cast<short>(mh),
            static_cast<Dimension>(width - 2 * mw),
            static_cast<Dimension>(height - 2 * mh)};
}

// Clears the shadow drawn at the old size, then the highlight.
void ClearShadow(Widget w)
{
    const DtComboBoxPart& cb = Part(w);
    XRectangle box = InsideMargins(w, cb.old_width, cb.old_height);
    Dimension st = std::min({Manager(w).shadow_thickness, box.width,
                             box.height});
    // st is 0 when nothing lies inside the margins: a zero width or
    // height would clear up to the window's edge.
    if (st > 0 && XtIsRealized(w)) {
        Display* dpy = XtDisplay(w);
        Window win = XtWindow(w);
        int right = box.x + box.width - st;
        int bottom = box.y + box.height - st;
        XClearArea(dpy, win, box.x, box.y, box.width, st, False);
        XClearArea(dpy, win, box.x, box.y, st, box.height, False);
        XClearArea(dpy, win, box.x, bottom, box.width, st, False);
        XClearArea(dpy, win, right, box.y, st, box.height, False);
    }
    DrawHighlight(w, true);
}

// Draws the raised shadow inside the margins, then the highlight.
void DrawShadow(Widget w)
{
    XmManagerPart& mp = Manager(w);
    XRectangle box = InsideMargins(w, w->core.width, w->core.height);
    if (mp.shadow_thickness > 0 && box.width > 0 && box.height > 0 &&
        XtIsRealized(w)) {
        _XmDrawShadows(XtDisplay(w), XtWindow(w), mp.top_shadow_GC,
                       mp.bottom_shadow_GC, box.x, box.y, box.width,
                       box.height, mp.shadow_thickness, XmSHADOW_OUT);
    }
    DrawHighlight(w, false);
}

// The half-strength stipple insensitive labels are drawn with, None while
// the button is sensitive. Give it back with XmDestroyPixmap.
Pixmap InsensitiveStipple(Widget button)
{
    if (XtIsSensitive(button))
        return None;
    Pixmap stipple = XmGetPixmapByDepth(
        XtScreen(button), const_cast<char*>("50_foreground"), 1, 0, 1);
    return stipple == XmUNSPECIFIED_PIXMAP ? None : stipple;
}

// The GC of the drawn arrow: the button's foreground, through stipple
// unless it is None.
GC ArrowGC(Widget button, Pixmap stipple)
{
    XGCValues values;
    Pixel foreground = 0;
    XtVaGetValues(button, XtNforeground, &foreground, nullptr);
    values.foreground = foreground;
    values.line_width = 0;
    values.line_style = LineSolid;
    values.fill_style = FillSolid;
    XtGCMask mask = GCForeground | GCLineWidth | GCLineStyle | GCFillStyle;
    if (stipple != None) {
        values.fill_style = FillStippled;
        values.stipple = stipple;
        mask |= GCStipple;
    }
    return XtGetGC(button, mask, &values);
}

} // namespace

// Asks the parent for the size that fits the field, the arrow and the
// bands around them. The answer is not examined.
void RequestPreferredSize(Widget w)
{
    DtComboBoxPart& cb = Part(w);
    Widget field = Field(w);
    Dimension st = Manager(w).shadow_thickness;
    Dimension fh = field->core.height;
    Dimension width = ArrowWidth(fh) + SeparatorWidth(w) + cb.arrowSpacing +
                      field->core.width + 2 * st + 2 * cb.horizontalSpacing +
                      2 * cb.marginWidth;
    Dimension height =
        fh + 2 * st + 2 * cb.verticalSpacing + 2 * cb.marginHeight;
    XtMakeResizeRequest(w, width, height, nullptr, nullptr);
    cb.old_width = w->core.width;
    cb.old_height = w->core.height;
}

// Fits the field, separator and arrow into the combo box's current size.
void SizeChildren(Widget w)
{
    DtComboBoxPart& cb = Part(w);
    Dimension st = Manager(w).shadow_thickness;
    short inner = static_cast<short>(w->core.height - 2 * st -
                                     2 * cb.marginHeight -
                                     2 * cb.verticalSpacing);
    Dimension separator_height;
    if (inner <= 0) {
        inner = 1;
        separator_height = 1;
    } else {
        separator_height = static_cast<Dimension>(inner +
                                                  2 * cb.verticalSpacing);
    }
    short room = static_cast<short>(w->core.width - 2 * st -
                                    2 * cb.marginWidth -
                                    2 * cb.horizontalSpacing);

    Dimension fh = 0;
    if (cb.type == DtCOMBO_READ_ONLY)
        fh = std::min(static_cast<Dimension>(inner), cb.label_max_height);
    else if (cb.type == DtCOMBO_EDITABLE)
        fh = cb.textField->core.height;
    Dimension aw = ArrowWidth(fh);
    room = static_cast<short>(room - (aw + SeparatorWidth(w) +
                                      cb.arrowSpacing));
    if (room <= 0)
        room = 1;

    if (cb.type == DtCOMBO_READ_ONLY)
        SizeLabel(w, static_cast<Dimension>(room), fh, separator_height);
    else if (cb.type == DtCOMBO_EDITABLE &&
             cb.textField->core.width != static_cast<Dimension>(room))
        ResizeKeepingBorder(cb.textField, static_cast<Dimension>(room),
                            cb.textField->core.height);
    if (cb.arrow->core.width != aw || cb.arrow->core.height != fh)
        ResizeKeepingBorder(cb.arrow, aw, std::max(fh, kMinArrowSize));
}

// Places the field, the separator and the arrow in one row inside the
// margins, the shadow and the spacing.
void LayoutChildren(Widget w)
{
    DtComboBoxPart& cb = Part(w);
    Dimension st = Manager(w).shadow_thickness;
    short x0 = static_cast<short>(st + cb.marginWidth + cb.horizontalSpacing);
    short y0 = static_cast<short>(st + cb.marginHeight + cb.verticalSpacing);
    short ih = static_cast<short>(w->core.height - 2 * y0);
    SizeChildren(w);

    Widget field = Field(w);
    Widget arrow = cb.arrow;
    Position field_y = CentredY(y0, ih, field->core.height);
    Position arrow_y = CentredY(y0, ih, arrow->core.height);
    bool separator = cb.type == DtCOMBO_READ_ONLY && cb.separator;
    Position separator_y = static_cast<Position>(y0 - cb.verticalSpacing);

    if (cb.orientation == DtCOMBO_ARROW_LEFT) {
        XtMoveWidget(arrow, x0, arrow_y);
        Position x = static_cast<Position>(x0 + arrow->core.width);
        if (separator) {
            XtMoveWidget(cb.separator, x, separator_y);
            x = static_cast<Position>(x + cb.separator->core.width);
        }
        x = static_cast<Position>(x + cb.arrowSpacing);
        XtMoveWidget(field, x, field_y);
    } else {
        XtMoveWidget(field, x0, field_y);
        Position x =
            static_cast<Position>(w->core.width - x0 - arrow->core.width);
        if (separator) {
            x = static_cast<Position>(x - cb.separator->core.width);
            XtMoveWidget(cb.separator, x, separator_y);
            x = static_cast<Position>(x + cb.separator->core.width);
        }
        XtMoveWidget(arrow, x, arrow_y);
    }
}

// Draws (or, with erase, clears at the old size) the focus band in the
// margins. It is drawn only while the combo box itself has the focus.
void DrawHighlight(Widget w, bool erase)
{
    if (!XtIsRealized(w))
        return;
    DtComboBoxPart& cb = Part(w);
    Dimension width = w->core.width;
    Dimension height = w->core.height;
    GC gc = Manager(w).highlight_GC;
    if (erase) {
        width = cb.old_width;
        height = cb.old_height;
        gc = Manager(w).background_GC;
    } else if (XmGetFocusWidget(w) != w) {
        return;
    }
    Dimension mw = cb.marginWidth;
    Dimension mh = cb.marginHeight;
    XRectangle bands[4] = {
        {0, 0, width, mh},
        {0, static_cast<short>(height - mh), width, mh},
        {0, 0, mw, height},
        {static_cast<short>(width - mw), 0, mw, height},
    };
    XFillRectangles(XtDisplay(w), XtWindow(w), gc, bands, 4);
}

// Lays the row out again after its content or its bands changed, asking
// the parent for the preferred size first where allowed. old is the
// widget as its shadow was last drawn (the SetValues copy, or the widget).
void Relayout(Widget old, Widget w, bool may_ask_size)
{
    ClearShadow(old);
    if (may_ask_size && Part(w).recomputeSize)
        RequestPreferredSize(w);
    LayoutChildren(w);
    DrawShadow(w);
    Part(w).old_width = w->core.width;
    Part(w).old_height = w->core.height;
}

// The drawn button's expose callback: a downward arrow with a shaft above
// a bar, in the button's foreground, stippled while it is insensitive.
void DrawArrow(Widget button, XtPointer, XtPointer)
{
    if (!XtIsRealized(button))
        return;
    int width = button->core.width;
    int cx = width / 2;
    int cy = (button->core.height - 3) / 2;

    Pixmap stipple = InsensitiveStipple(button);
    GC gc = ArrowGC(button, stipple);
    Display* dpy = XtDisplay(button);
    Window win = XtWindow(button);
    XDrawLine(dpy, win, gc, 1, cx + cy + 1, width - 2, cx + cy + 1);

    short a = static_cast<short>(0.8 * cx);
    short b = static_cast<short>(0.3 * cx);
    short x = static_cast<short>(cx);
    short y = static_cast<short>(cy);
    XPoint outline[8] = {
        {x, static_cast<short>(y + a)},
        {static_cast<short>(x - a), y},
        {static_cast<short>(x - b), y},
        {static_cast<short>(x - b), static_cast<short>(y - a)},
        {static_cast<short>(x + b), static_cast<short>(y - a)},
        {static_cast<short>(x + b), y},
        {static_cast<short>(x + a), y},
        {x, static_cast<short>(y + a)},
    };
    XDrawLines(dpy, win, gc, outline, 8, CoordModeOrigin);
    XFillPolygon(dpy, win, gc, outline, 8, Convex, CoordModeOrigin);
    XtReleaseGC(button, gc);
    if (stipple != None)
        XmDestroyPixmap(XtScreen(button), stipple);
}

// Called by the toolkit when the combo box's size changed.
void Resize(Widget w)
{
    Relayout(w, w, false);
}

// Called by the toolkit on exposure: the children draw themselves.
void Redisplay(Widget w, XEvent*, Region)
{
    DrawShadow(w);
}

// Called when a child asks for a new geometry: only the text field may
// change, and only its size; the row is then laid out again.
XtGeometryResult GeometryManager(Widget child, XtWidgetGeometry* request,
                                 XtWidgetGeometry*)
{
    Widget w = XtParent(child);
    DtComboBoxPart& cb = Part(w);
    if (child != cb.textField ||
        !(request->request_mode & (CWWidth | CWHeight)))
        return XtGeometryNo;
    if (request->request_mode & XtCWQueryOnly)
        return XtGeometryYes;
    if (request->request_mode & CWWidth)
        child->core.width = request->width;
    if (request->request_mode & CWHeight)
        child->core.height = request->height;
    Relayout(w, w, true);
    return XtGeometryYes;
}

} // namespace dtcombo
