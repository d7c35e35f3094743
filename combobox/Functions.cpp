// DtComboBox public functions, the field's display of the selection and the
// get procedures of the synthetic resources.
#include <Xm/List.h>
#include <Xm/TextF.h>

#include <algorithm>

#include "Internal.h"

namespace dtcombo {
namespace {

// Index of the first item equal to item among the list's items, or -1.
int FindItem(Widget w, XmString item)
{
    XmStringTable items = nullptr;
    int count = 0;
    XtVaGetValues(Part(w).list, XmNitems, &items, XmNitemCount, &count,
                  nullptr);
    if (!item || !items)
        return -1;
    for (int i = 0; i < count; ++i) {
        if (XmStringCompare(item, items[i]))
            return i;
    }
    return -1;
}

// Where the selection moves when the item at the 0-based index deleted
// leaves the list with count items: it stays on the same item, or on the
// item that took the deleted one's place.
int PositionAfterDelete(int selected, int deleted, int count)
{
    if (count <= 0)
        return 0;
    if (deleted < selected)
        --selected;
    return std::clamp(selected, 0, count - 1);
}

} // namespace

// Copies into the combo box the values the list holds for it.
void SyncFromList(Widget w)
{
    DtComboBoxPart& cb = Part(w);
    XtVaGetValues(cb.list, XmNitemCount, &cb.itemCount, XmNitems, &cb.items,
                  XmNfontList, &cb.listFontList, XmNlistMarginHeight,
                  &cb.listMarginHeight, XmNlistMarginWidth,
                  &cb.listMarginWidth, XmNlistSpacing, &cb.listSpacing,
                  XmNtopItemPosition, &cb.topItemPosition,
                  XmNvisibleItemCount, &cb.visibleItemCount, nullptr);
}

// Sizes the label for its widest and its tallest item (or for labelString
// when it does not follow the list).
void MeasureLabel(Widget w)
{
    DtComboBoxPart& cb = Part(w);
    XmFontList fonts = nullptr;
    XtVaGetValues(cb.label, XmNfontList, &fonts, nullptr);
    Dimension width = 0;
    Dimension height = 0;
    if (cb.items && cb.itemCount > 0 && cb.updateLabel) {
        for (int i = 0; i < cb.itemCount; ++i) {
            Dimension item_width = 0, item_height = 0;
            XmStringExtent(fonts, cb.items[i], &item_width, &item_height);
            width = std::max(width, item_width);
            height = std::max(height, item_height);
        }
    } else {
        XmString text = cb.labelString ? cb.labelString : default_label_string;
        XmStringExtent(fonts, text, &width, &height);
    }
    cb.label_max_width = static_cast<Dimension>(width + 4);
    // An empty or missing item has no height, but a window must have one.
    cb.label_max_height = std::max<Dimension>(height, 1);
    XtResizeWidget(cb.label, cb.label_max_width, cb.label_max_height,
                   cb.label->core.border_width);
}

// Shows item in the label: labelString when the label does not follow the
// selection, else item or, without one, the selected list item.
void ShowSelectionInLabel(Widget w, XmString item, bool keep_label)
{
    DtComboBoxPart& cb = Part(w);
    XmStringTable items = nullptr;
    int count = 0;
    XtVaGetValues(cb.list, XmNitems, &items, XmNitemCount, &count, nullptr);
    if (keep_label || !cb.updateLabel) {
        item = cb.labelString ? cb.labelString : default_label_string;
    } else {
        if (!item) {
            bool valid = items && cb.selectedPosition >= 0 &&
                         cb.selectedPosition < count;
            item = valid ? items[cb.selectedPosition] : default_label_string;
        }
        if (item != cb.labelString) {
            XmStringFree(cb.labelString);
            cb.labelString = XmStringCopy(item);
        }
    }
    cb.selectedItem = item;
    XtVaSetValues(cb.label, XmNlabelString, item, nullptr);
}

// Shows the text of item (or of the selected list item) in the text field.
void ShowSelectionInText(Widget w, XmString item)
{
    DtComboBoxPart& cb = Part(w);
    XmStringTable items = nullptr;
    int count = 0;
    XtVaGetValues(cb.list, XmNitemCount, &count, XmNitems, &items, nullptr);
    if (!item && items && count > 0) {
        if (cb.selectedPosition >= count || cb.selectedPosition < 0)
            return;
        item = items[cb.selectedPosition];
    }
    if (!item) {
        cb.selectedItem = nullptr;
        XtVaSetValues(cb.textField, XmNvalue, "", nullptr);
        return;
    }
    cb.selectedItem = item;
    // A string without text leaves the field as it is.
    if (char* text = FirstTextSegment(item)) {
        XtVaSetValues(cb.textField, XmNvalue, text, nullptr);
        XtFree(text);
    }
}

// A value given for a synthetic resource is stored in its field.
XmImportOperator SyntheticLoad(Widget, int, XtArgVal*)
{
    return XmSYNTHETIC_LOAD;
}

} // namespace dtcombo

namespace {

using namespace dtcombo;

// Shows the item at selectedPosition in whichever field the form has.
void ShowSelection(Widget w)
{
    if (Part(w).type == DtCOMBO_EDITABLE)
        ShowSelectionInText(w, nullptr);
    else
        ShowSelectionInLabel(w, nullptr, false);
}

// After the list changed: the label is measured again and the read-only
// form laid out for it.
void RelayoutLabel(Widget w)
{
    DtComboBoxPart& cb = Part(w);
    if (!cb.label)
        return;
    MeasureLabel(w);
    if (cb.type == DtCOMBO_READ_ONLY)
        Relayout(w, w, true);
}

// Moves the selected position to the first list item that equals item
// and shows that item in the text field or the label. When no item
// equals it, passes warning to XtWarning and returns false.
bool ShowListItem(Widget w, XmString item, const char* warning)
{
    int index = FindItem(w, item);
    if (index < 0) {
        XtWarning(warning);
        return false;
    }
    Part(w).selectedPosition = index;
    ShowSelection(w);
    return true;
}

// A value the popup list keeps for the combo box, widened for XtGetValues.
template <typename T>
XtArgVal ListValue(Widget w, String resource)
{
    T value{};
    XtVaGetValues(Part(w).list, resource, &value, nullptr);
    return (XtArgVal)value;
}

} // namespace

using namespace dtcombo;

extern "C" {

void ZEBDtInitComboBox(Visual* visual, int depth)
{
    popup_visual = visual;
    popup_depth = depth;
}

Widget ZEBDtCreateComboBox(Widget parent, String name, ArgList args,
                           Cardinal num_args)
{
    return XtCreateWidget(name, dtComboBoxWidgetClass, parent, args,
                          num_args);
}

void ZEBDtComboBoxAddItem(Widget combo, XmString item, int position,
                          Boolean unique)
{
    if (item && unique && FindItem(combo, item) >= 0)
        return;
    XmListAddItem(Part(combo).list, item, position);
    SyncFromList(combo);
    RelayoutLabel(combo);
    ShowSelection(combo);
}

void ZEBDtComboBoxDeletePos(Widget combo, int position)
{
    DtComboBoxPart& cb = Part(combo);
    int count = 0;
    XtVaGetValues(cb.list, XmNitemCount, &count, nullptr);
    int deleted = (position == 0 ? count : position) - 1;
    XmListDeletePos(cb.list, position);
    SyncFromList(combo);
    RelayoutLabel(combo);
    if (deleted >= 0 && deleted < count)
        cb.selectedPosition =
            PositionAfterDelete(cb.selectedPosition, deleted, cb.itemCount);
    ShowSelection(combo);
}

void ZEBDtComboBoxSetItem(Widget combo, XmString item)
{
    if (!ShowListItem(combo, item,
                      "DtComboBoxWidget: Unable to find item to set "
                      "(DtComboBoxSetItem)."))
        return;
    XmListSetItem(Part(combo).list, item);
    SyncFromList(combo);
}

void ZEBDtComboBoxSelectItem(Widget combo, XmString item)
{
    if (!ShowListItem(combo, item,
                      "DtComboBoxWidget: Unable to find item to select "
                      "(XmComboBoxSelectItem)."))
        return;
    XmListDeselectAllItems(Part(combo).list);
    XmListSelectItem(Part(combo).list, item, False);
    SyncFromList(combo);
}

void _DtComboBoxGetArrowSize(Widget w, int, XtArgVal* value)
{
    *value = static_cast<XtArgVal>(Part(w).arrow->core.height);
}

void _DtComboBoxGetLabelString(Widget w, int, XtArgVal* value)
{
    XmString label = Part(w).labelString;
    *value = reinterpret_cast<XtArgVal>(label ? XmStringCopy(label) : nullptr);
}

void _DtComboBoxGetListItemCount(Widget w, int, XtArgVal* value)
{
    *value = ListValue<int>(w, XmNitemCount);
}

void _DtComboBoxGetListItems(Widget w, int, XtArgVal* value)
{
    *value = ListValue<XmStringTable>(w, XmNitems);
}

void _DtComboBoxGetListFontList(Widget w, int, XtArgVal* value)
{
    *value = ListValue<XmFontList>(w, XmNfontList);
}

void _DtComboBoxGetListMarginHeight(Widget w, int, XtArgVal* value)
{
    *value = ListValue<Dimension>(w, XmNlistMarginHeight);
}

void _DtComboBoxGetListMarginWidth(Widget w, int, XtArgVal* value)
{
    *value = ListValue<Dimension>(w, XmNlistMarginWidth);
}

void _DtComboBoxGetListSpacing(Widget w, int, XtArgVal* value)
{
    *value = ListValue<Dimension>(w, XmNlistSpacing);
}

void _DtComboBoxGetListTopItemPosition(Widget w, int, XtArgVal* value)
{
    *value = ListValue<int>(w, XmNtopItemPosition);
}

void _DtComboBoxGetListVisibleItemCount(Widget w, int, XtArgVal* value)
{
    *value = ListValue<int>(w, XmNvisibleItemCount);
}

} // extern "C"
