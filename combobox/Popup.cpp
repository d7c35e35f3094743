// DtComboBox popup list: posting it by the field with the grabs,
// choosing from it, taking it down, and the class's actions.
#include <Xm/List.h>
#include <Xm/TextF.h>

#include <algorithm>
#include <cstring>

#include "Internal.h"
#include "XmPrivate.h"

namespace dtcombo {

// A newly allocated copy of the text of the first text component of
// string, or nullptr when it has none. Free it with XtFree.
char* FirstTextSegment(XmString string)
{
    XmStringContext context = nullptr;
    if (!string || !XmStringInitContext(&context, string))
        return nullptr;
    char* result = nullptr;
    for (;;) {
        char* text = nullptr;
        XmStringCharSet charset = nullptr;
        XmStringDirection direction;
        XmStringComponentType unknown_tag;
        unsigned short unknown_length = 0;
        unsigned char* unknown_value = nullptr;
        XmStringComponentType type = XmStringGetNextComponent(
            context, &text, &charset, &direction, &unknown_tag,
            &unknown_length, &unknown_value);
        XtFree(charset);
        XtFree(reinterpret_cast<char*>(unknown_value));
        if (type == XmSTRING_COMPONENT_END)
            break;
        if (type == XmSTRING_COMPONENT_TEXT ||
            type == XmSTRING_COMPONENT_LOCALE_TEXT) {
            result = text;
            break;
        }
        XtFree(text);
    }
    XmStringFreeContext(context);
    return result;
}

// Takes the shell's size, which follows the list's requests, as the
// popup's natural size.
void ReadPopupSize(Widget w)
{
    DtComboBoxPart& cb = Part(w);
    cb.popup_width = cb.shell->core.width;
    cb.popup_height = cb.shell->core.height;
}

namespace {

// Before the list shows: text typed into the field that differs from the
// selected item is reported as an activation of the field.
void CheckTextEdited(Widget w)
{
    DtComboBoxPart& cb = Part(w);
    XmStringTable items = nullptr;
    int count = 0;
    XtVaGetValues(cb.list, XmNitems, &items, XmNitemCount, &count, nullptr);
    char* value = nullptr;
    XtVaGetValues(cb.textField, XmNvalue, &value, nullptr);
    char* selected = nullptr;
    if (items && cb.selectedPosition >= 0 && cb.selectedPosition < count)
        selected = FirstTextSegment(items[cb.selectedPosition]);

    bool unchanged = (selected && value && std::strcmp(selected, value) == 0) ||
                     (!selected && !value);
    if (!unchanged) {
        XmAnyCallbackStruct data;
        data.reason = XmCR_ACTIVATE;
        data.event = nullptr;
        XtCallCallbacks(cb.textField, XmNactivateCallback, &data);
    }
    XtFree(selected);
    XtFree(value);
}

// Keeps what the editable form shows as its list is posted, for Escape.
void RememberPostedState(Widget w)
{
    DtComboBoxPart& cb = Part(w);
    XtFree(cb.posted_text);
    cb.posted_text = XmTextFieldGetString(cb.textField);
    cb.posted_position = cb.selectedPosition;
    int* positions = nullptr;
    int count = 0;
    cb.posted_list_position = 0;
    if (XmListGetSelectedPos(cb.list, &positions, &count) && count > 0)
        cb.posted_list_position = positions[0];
    XtFree(reinterpret_cast<char*>(positions));
    cb.posted_kbd_position = XmListGetKbdItemPos(cb.list);
}

// Escape undoes the browsing: the field's text, the selection and the
// list's highlight go back to what they were when the list was posted.
// A position outside the items (never set, or items deleted since)
// comes back too, with no selected item.
void RestorePostedState(Widget w)
{
    DtComboBoxPart& cb = Part(w);
    XmStringTable items = nullptr;
    int count = 0;
    XtVaGetValues(cb.list, XmNitems, &items, XmNitemCount, &count, nullptr);
    bool listed = cb.posted_position >= 0 && cb.posted_position < count;
    cb.selectedPosition = cb.posted_position;
    cb.selectedItem = listed ? items[cb.posted_position] : nullptr;
    if (cb.posted_list_position == 0)
        XmListDeselectAllItems(cb.list);
    else if (cb.posted_list_position <= count)
        XmListSelectPos(cb.list, cb.posted_list_position, False);
    if (cb.posted_kbd_position > 0 && cb.posted_kbd_position <= count)
        XmListSetKbdItemPos(cb.list, cb.posted_kbd_position);
    XmTextFieldSetString(cb.textField, cb.posted_text);
}

bool OutsideOf(Widget w, const XButtonEvent& event)
{
    return event.x < 0 || event.y < 0 || event.x >= w->core.width ||
           event.y >= w->core.height;
}

Cursor MenuCursor(Widget w)
{
    return XmGetMenuCursor(XtDisplay(w));
}

// The width of a popup whose list asks for asked, placed at x: as wide as
// the combo box at least, narrowed where the screen ends. Placing the
// popup and checking its width later both go by it, so a placed popup
// is never placed again.
int PopupWidth(Widget w, int asked, int x)
{
    int room = WidthOfScreen(XtScreen(w)) - x;
    // A combo box lying off the screen still gets a list it can show.
    return std::max(1, std::min(std::max<int>(asked, w->core.width), room));
}

// The height a popup of height asked needs to show three rows (all of
// them when it shows no more): less the rows it shows beyond three, a row
// being the step from one item to the next.
int HeightForThreeRows(Widget w, int asked)
{
    Widget list = Part(w).list;
    int visible = 0;
    int top = 0;
    XtVaGetValues(list, XmNvisibleItemCount, &visible, XmNtopItemPosition, &top, nullptr);
    Position x = 0, first = 0, second = 0;
    Dimension width = 0, height = 0;
    if (visible <= 3 || !XmListPosToBounds(list, top, &x, &first, &width, &height) ||
        !XmListPosToBounds(list, top + 1, &x, &second, &width, &height))
        return asked;
    return std::max(1, asked - (visible - 3) * (second - first));
}

// Where the popup goes and how high it is: under the field, shortened
// where the screen ends, unless that leaves less than three rows; then
// above the field, shortened where the screen begins.  Either way it lies
// on the screen, even for a combo box that does not.
void PopupRows(Widget w, int asked, int ry, int* y, int* height)
{
    const int screen_height = HeightOfScreen(XtScreen(w));
    const int margin = Part(w).marginHeight;
    // The list covers the combo box's bottom (or top) margin band.
    const int below = ry + w->core.height - margin;
    const int above = ry + margin;
    const int wanted = std::min(asked, HeightForThreeRows(w, asked));
    if (screen_height - below >= wanted || screen_height - below >= above) {
        *y = below;
        *height = std::min(asked, screen_height - below);
    } else {
        *height = std::min(asked, above);
        *y = above - *height;
    }
    *height = std::clamp(*height, 1, screen_height);
    *y = std::clamp(*y, 0, screen_height - *height);
}

// Puts the popup shell by the field, as wide as the combo box at least,
// narrowed where the screen ends.
void PlacePopup(Widget w)
{
    DtComboBoxPart& cb = Part(w);
    Position rx = 0, ry = 0;
    XtTranslateCoords(w, 0, 0, &rx, &ry);
    const int screen_width = WidthOfScreen(XtScreen(w));
    const int x = std::clamp<int>(rx, 0, screen_width - 1);
    const int width = PopupWidth(w, cb.popup_width, x);
    int y = 0, height = 1;
    PopupRows(w, cb.popup_height, ry, &y, &height);
    XtVaSetValues(cb.shell, XtNx, static_cast<Position>(x), XtNy, static_cast<Position>(y),
                  XtNwidth, static_cast<Dimension>(width), XtNheight,
                  static_cast<Dimension>(height), nullptr);
}

bool IsWheel(const XEvent& event)
{
    return event.xbutton.button == Button4 || event.xbutton.button == Button5;
}

// The wheel scrolls the open list, three rows a notch, and leaves it up.
void ScrollList(Widget w, const XButtonEvent& event)
{
    Widget list = Part(w).list;
    int top = 1, count = 0, visible = 1;
    XtVaGetValues(list, XmNtopItemPosition, &top, XmNitemCount, &count,
                  XmNvisibleItemCount, &visible, nullptr);
    const int step = event.button == Button4 ? -3 : 3;
    const int last_top = std::max(1, count - visible + 1);
    XmListSetPos(list, std::clamp(top + step, 1, last_top));
}

} // namespace

// The arrow's activate callback and the ComboBoxActivate action: posts the
// list with the pointer and keyboard grabbed, after telling the
// application. A combo box without items, or whose list is up already,
// posts nothing.
void PostPopup(Widget, XtPointer client_data, XtPointer)
{
    Widget w = static_cast<Widget>(client_data);
    DtComboBoxPart& cb = Part(w);
    // A second grab would outlive the list's one pop-down.
    if (cb.poppedUp)
        return;
    XmStringTable items = nullptr;
    XtVaGetValues(cb.list, XmNitems, &items, nullptr);
    if (cb.type == DtCOMBO_EDITABLE)
        CheckTextEdited(w);
    if (!items)
        return;
    if (XtHasCallbacks(w, DtNmenuPostCallback) == XtCallbackHasSome) {
        ComboBoxCallbackData data = {DtCR_MENU_POST, nullptr, nullptr, 0};
        XtCallCallbacks(w, DtNmenuPostCallback, &data);
    }
    // After the callback, which may have set the text Escape goes back to.
    if (cb.type == DtCOMBO_EDITABLE)
        RememberPostedState(w);
    PlacePopup(w);
    cb.poppedUp = True;
    XtPopup(cb.shell, XtGrabNone);
    _XmGrabPointer(cb.shell, True, ButtonPressMask, GrabModeAsync,
                   GrabModeAsync, None, MenuCursor(w), CurrentTime);
    _XmGrabKeyboard(cb.list, False, GrabModeAsync, GrabModeAsync,
                    CurrentTime);
    _XmAddGrab(cb.shell, True, True);
    XDefineCursor(XtDisplay(w), XtWindow(cb.shell), MenuCursor(w));
}

// Takes the list down and gives the text field the focus back.
void PopdownPopup(Widget w)
{
    DtComboBoxPart& cb = Part(w);
    cb.poppedUp = False;
    XtPopdown(cb.shell);
    XtUngrabPointer(cb.shell, CurrentTime);
    XtUngrabKeyboard(cb.list, CurrentTime);
    _XmRemoveGrab(cb.shell);
    if (cb.type == DtCOMBO_EDITABLE)
        XmProcessTraversal(cb.textField, XmTRAVERSE_CURRENT);
}

// The list's browse and default-action callbacks: the field follows the
// list; the application hears of the choice once the list is down.
void ListSelectionHandler(Widget list, XtPointer client_data,
                          XtPointer call_data)
{
    Widget w = static_cast<Widget>(client_data);
    DtComboBoxPart& cb = Part(w);
    auto* data = static_cast<XmListCallbackStruct*>(call_data);
    cb.selectedPosition = data->item_position - 1;
    if (cb.type == DtCOMBO_EDITABLE)
        ShowSelectionInText(w, data->item);
    else
        ShowSelectionInLabel(w, data->item, false);
    if (data->reason == XmCR_DEFAULT_ACTION)
        PopdownPopup(w);
    if (cb.poppedUp)
        return;
    ComboBoxCallbackData selection = {DtCR_SELECT, data->event, data->item,
                                      cb.selectedPosition};
    // The field holds the toolkit's own form of the list, which is what
    // XtCallCallbackList takes.
    if (cb.selectionCallback)
        XtCallCallbackList(list, cb.selectionCallback, &selection);
}

// Runs before the list's own translations: takes the list down on a
// button release and keeps the grabs on the list while it is up.
void ListEventHandler(Widget list, XtPointer client_data, XEvent* event,
                      Boolean* continue_to_dispatch)
{
    Widget w = static_cast<Widget>(client_data);
    DtComboBoxPart& cb = Part(w);
    if ((event->type == ButtonPress || event->type == ButtonRelease) && IsWheel(*event)) {
        if (event->type == ButtonPress && cb.poppedUp)
            ScrollList(w, event->xbutton);
        *continue_to_dispatch = False;
        return;
    }
    switch (event->type) {
    case ButtonPress:
        // Once the pointer has left the list, the pointer grab is the
        // list's, so a click anywhere outside lands here. It closes the
        // list like any other click outside; the list must not start a
        // selection whose release it would never see.
        if (cb.poppedUp && OutsideOf(list, event->xbutton)) {
            PopdownPopup(w);
            *continue_to_dispatch = False;
            break;
        }
        combo_list_button_down = True;
        break;
    // The list reports its browse selection after this, with the list
    // down, so the choice reaches the application.
    case ButtonRelease:
        PopdownPopup(w);
        combo_list_button_down = False;
        break;
    // Only the pointer's own moves count: taking or dropping the grab here
    // makes crossing events too, which would answer each other forever.
    case EnterNotify:
        if (event->xcrossing.mode == NotifyNormal && !combo_list_button_down)
            XtUngrabPointer(cb.shell, CurrentTime);
        break;
    case LeaveNotify:
        if (event->xcrossing.mode == NotifyNormal && cb.poppedUp &&
            !combo_list_button_down)
            _XmGrabPointer(list, True, ButtonPressMask, GrabModeAsync,
                           GrabModeAsync, None, MenuCursor(w), CurrentTime);
        break;
    case FocusOut:
        if (cb.poppedUp) {
            _XmGrabKeyboard(list, False, GrabModeAsync, GrabModeAsync,
                            CurrentTime);
            XtSetKeyboardFocus(list, None);
        }
        break;
    default:
        break;
    }
}

// A button press in the popup shell outside the list and its scroll bars
// takes the list down without a choice.
void ShellButtonHandler(Widget, XtPointer client_data, XEvent* event,
                        Boolean*)
{
    Widget w = static_cast<Widget>(client_data);
    DtComboBoxPart& cb = Part(w);
    Widget horizontal = nullptr;
    Widget vertical = nullptr;
    XtVaGetValues(XtParent(cb.list), XmNhorizontalScrollBar, &horizontal,
                  XmNverticalScrollBar, &vertical, nullptr);
    Window inside[3] = {XtWindow(cb.list), None, None};
    if (horizontal && XtIsRealized(horizontal))
        inside[1] = XtWindow(horizontal);
    if (vertical && XtIsRealized(vertical))
        inside[2] = XtWindow(vertical);
    // A wheel turn never takes the list down: the list scrolls for the
    // turns that reach it (ListEventHandler), and one that reaches the
    // shell instead is left alone.
    if (IsWheel(*event))
        return;
    Window target = event->xany.window;
    if (cb.poppedUp && target != inside[0] && target != inside[1] &&
        target != inside[2])
        PopdownPopup(w);
}

// The shell follows the list's geometry requests, which may come after
// the list was placed (items set while it is up, items with line breaks):
// a list that asks for less than the combo box's width is placed again.
void KeepPopupWidth(Widget shell, XtPointer client_data, XEvent* event,
                    Boolean*)
{
    Widget w = static_cast<Widget>(client_data);
    if (event->type != ConfigureNotify || !Part(w).poppedUp)
        return;
    int width = shell->core.width;
    if (width < PopupWidth(w, width, shell->core.x)) {
        ReadPopupSize(w);
        PlacePopup(w);
        return;
    }
    // A list that will not be narrowed to the room left at the screen's
    // edge is moved in from it instead.
    int overhang = shell->core.x + width - WidthOfScreen(XtScreen(w));
    if (overhang > 0)
        XtVaSetValues(shell, XtNx, static_cast<Position>(std::max(0, shell->core.x - overhang)),
                      nullptr);
}

void ActionFocusIn(Widget w, XEvent*, String*, Cardinal*)
{
    DrawHighlight(w, false);
}

void ActionFocusOut(Widget w, XEvent*, String*, Cardinal*)
{
    DrawHighlight(w, true);
}

// Bound on the combo box and, with a parameter, on its label and its text
// field.
void ActionActivate(Widget w, XEvent*, String*, Cardinal* num_params)
{
    Widget combo = *num_params > 0 ? XtParent(w) : w;
    PostPopup(combo, combo, nullptr);
}

// Bound on the list after the list's own cancel action: the list goes
// down and the editable form shows again what it showed before.
void ActionKbdCancel(Widget list, XEvent*, String*, Cardinal*)
{
    XtPointer combo = nullptr;
    XtVaGetValues(list, XmNuserData, &combo, nullptr);
    if (!combo)
        return;
    Widget w = static_cast<Widget>(combo);
    PopdownPopup(w);
    if (Part(w).type == DtCOMBO_EDITABLE && Part(w).posted_text)
        RestorePostedState(w);
}

} // namespace dtcombo
