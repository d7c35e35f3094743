// DtComboBox creation and resource changes: Initialize, SetValues and the
// children they make.
#include <Xm/ArrowB.h>
#include <Xm/DrawnB.h>
#include <Xm/Frame.h>
#include <Xm/Label.h>
#include <Xm/List.h>
#include <Xm/Separator.h>
#include <Xm/TextF.h>
#include <X11/Shell.h>

#include "Internal.h"

namespace dtcombo {
namespace {

// The spacing resources' default: the form gives the value.
constexpr Dimension kUnsetSpacing = 65535;

// Passes the text field's activate, focus and losing-focus callbacks on to
// the combo box's lists of the same name, with the combo box as widget.
void ForwardCallback(Widget, XtPointer client_data, XtPointer call_data)
{
    Widget combo = static_cast<Widget>(client_data);
    auto* data = static_cast<XmAnyCallbackStruct*>(call_data);
    const char* name = nullptr;
    switch (data->reason) {
    case XmCR_ACTIVATE:
        name = DtNactivateCallback;
        break;
    case XmCR_FOCUS:
        name = DtNfocusCallback;
        break;
    case XmCR_LOSING_FOCUS:
        name = DtNlosingFocusCallback;
        break;
    default:
        return;
    }
    if (XtHasCallbacks(combo, name) == XtCallbackHasSome)
        XtCallCallbacks(combo, name, call_data);
}

// The text field: "Text" at creation, "ComboBoxTextField" when the form
// changes later (then left unmanaged for the caller to manage).
void CreateTextField(Widget w, bool at_creation)
{
    DtComboBoxPart& cb = Part(w);
    Arg args[5];
    Cardinal n = 0;
    XtSetArg(args[n], XmNcolumns, cb.columns); ++n;
    XtSetArg(args[n], XmNmaxLength, cb.maxLength); ++n;
    Dimension margin = at_creation ? 1 : 2;
    XtSetArg(args[n], XmNmarginWidth, margin); ++n;
    XtSetArg(args[n], XmNmarginHeight, margin); ++n;
    if (at_creation) {
        XtSetArg(args[n], XmNblinkRate, 0); ++n;
        cb.textField = XtCreateManagedWidget("Text", xmTextFieldWidgetClass,
                                             w, args, n);
    } else {
        cb.textField = XtCreateWidget("ComboBoxTextField",
                                      xmTextFieldWidgetClass, w, args, n);
    }
    XtOverrideTranslations(cb.textField,
                           XtParseTranslationTable(text_translations));
    XtAddCallback(cb.textField, XmNlosingFocusCallback, ForwardCallback, w);
    XtAddCallback(cb.textField, XmNactivateCallback, ForwardCallback, w);
    XtAddCallback(cb.textField, XmNfocusCallback, ForwardCallback, w);
}

// The label and its separator: "Label" at creation, "ComboBoxLabel" with
// both unmanaged when the form changes later.
void CreateLabel(Widget w, bool at_creation)
{
    DtComboBoxPart& cb = Part(w);
    XtTranslations table = XtParseTranslationTable(label_translations);
    Arg args[8];
    Cardinal n = 0;
    XtSetArg(args[n], XmNalignment, cb.alignment); ++n;
    XtSetArg(args[n], XmNrecomputeSize, False); ++n;
    XtSetArg(args[n], XmNmarginLeft, 2); ++n;
    XtSetArg(args[n], XmNmarginRight, 2); ++n;
    XtSetArg(args[n], XmNmarginWidth, 0); ++n;
    XtSetArg(args[n], XmNmarginHeight, 0); ++n;
    XtSetArg(args[n], XmNstringDirection, Manager(w).string_direction); ++n;
    if (at_creation) {
        XtSetArg(args[n], XmNlabelString, default_label_string); ++n;
        cb.label = XtCreateManagedWidget("Label", xmLabelWidgetClass, w, args,
                                         n);
    } else {
        cb.label = XtCreateWidget("ComboBoxLabel", xmLabelWidgetClass, w, args,
                                  n);
    }
    XtOverrideTranslations(cb.label, table);
}

void CreateSeparator(Widget w, bool at_creation)
{
    Arg args[1];
    XtSetArg(args[0], XmNorientation, XmVERTICAL);
    Part(w).separator =
        at_creation ? XtCreateManagedWidget("ComboBoxSeparator",
                                            xmSeparatorWidgetClass, w, args, 1)
                    : XtCreateWidget("ComboBoxSeparator",
                                     xmSeparatorWidgetClass, w, args, 1);
}

// The arrow: an XmArrowButton for arrowType 0, else a drawn button whose
// arrow DrawArrow paints.
void CreateArrow(Widget w)
{
    DtComboBoxPart& cb = Part(w);
    Arg args[5];
    Cardinal n = 0;
    XtSetArg(args[n], XmNtraversalOn, False); ++n;
    XtSetArg(args[n], XmNhighlightThickness, 0); ++n;
    XtSetArg(args[n], XmNshadowThickness, 0); ++n;
    if (cb.arrowType == DtCOMBO_ARROW_BUTTON) {
        XtSetArg(args[n], XmNarrowDirection, XmARROW_DOWN); ++n;
        XtSetArg(args[n], XmNforeground, w->core.background_pixel); ++n;
        cb.arrow = XtCreateManagedWidget("ComboBoxArrow",
                                         xmArrowButtonWidgetClass, w, args, n);
    } else {
        cb.arrow = XtCreateManagedWidget("ComboBoxArrow",
                                         xmDrawnButtonWidgetClass, w, args, n);
        XtAddCallback(cb.arrow, XmNexposeCallback, DrawArrow, w);
    }
    XtAddCallback(cb.arrow, XmNactivateCallback, PostPopup, w);
}

// The popup shell with its frame and scrolled list, unrealized.
void CreatePopup(Widget w)
{
    DtComboBoxPart& cb = Part(w);
    Arg args[13];
    Cardinal n = 0;
    XtSetArg(args[n], XtNoverrideRedirect, True); ++n;
    XtSetArg(args[n], XtNallowShellResize, True); ++n;
    XtSetArg(args[n], XtNsaveUnder, True); ++n;
    if (popup_visual) {
        XtSetArg(args[n], XtNvisual, popup_visual); ++n;
    }
    if (popup_depth > 0) {
        XtSetArg(args[n], XtNdepth, popup_depth); ++n;
    }
    cb.shell = XtCreatePopupShell("ComboBoxMenuShell", topLevelShellWidgetClass,
                                  w, args, n);
    cb.frame = XtCreateManagedWidget("ComboBoxRowColumn", xmFrameWidgetClass,
                                     cb.shell, nullptr, 0);

    n = 0;
    XtSetArg(args[n], XmNuserData, w); ++n;
    if (cb.listFontList) {
        XtSetArg(args[n], XmNfontList, cb.listFontList); ++n;
    }
    XtSetArg(args[n], XmNitemCount, cb.itemCount); ++n;
    XtSetArg(args[n], XmNitems, cb.items); ++n;
    XtSetArg(args[n], XmNlistMarginHeight, cb.listMarginHeight); ++n;
    XtSetArg(args[n], XmNlistMarginWidth, cb.listMarginWidth); ++n;
    XtSetArg(args[n], XmNlistSpacing, cb.listSpacing); ++n;
    XtSetArg(args[n], XmNstringDirection, Manager(w).string_direction); ++n;
    XtSetArg(args[n], XmNtopItemPosition, cb.topItemPosition); ++n;
    XtSetArg(args[n], XmNvisibleItemCount, cb.visibleItemCount); ++n;
    XtSetArg(args[n], XmNlistSizePolicy, XmRESIZE_IF_POSSIBLE); ++n;
    cb.list = XmCreateScrolledList(cb.frame, const_cast<char*>("List"), args,
                                   n);
    XtOverrideTranslations(cb.list,
                           XtParseTranslationTable(list_translations));
}

// Connects the list's selection callbacks and the handlers that watch the
// pointer and the keyboard while the list is up.
void WatchList(Widget w)
{
    DtComboBoxPart& cb = Part(w);
    XtAddCallback(cb.list, XmNdefaultActionCallback, ListSelectionHandler, w);
    XtAddCallback(cb.list, XmNbrowseSelectionCallback, ListSelectionHandler,
                  w);
    XtInsertEventHandler(cb.list,
                         ButtonPressMask | ButtonReleaseMask |
                             EnterWindowMask | LeaveWindowMask |
                             FocusChangeMask,
                         True, ListEventHandler, w, XtListHead);
    XtInsertEventHandler(cb.shell, ButtonPressMask, True, ShellButtonHandler,
                         w, XtListHead);
    XtAddEventHandler(cb.shell, StructureNotifyMask, False, KeepPopupWidth,
                      w);
}

// The form switches of SetValues. SwitchToLabel reports whether it made
// the label.
void SwitchToText(Widget current, Widget w)
{
    DtComboBoxPart& cb = Part(w);
    const DtComboBoxPart& old = Part(current);
    if (!cb.textField) {
        CreateTextField(w, false);
        if (cb.horizontalSpacing == old.horizontalSpacing)
            cb.horizontalSpacing = 0;
        if (cb.verticalSpacing == old.verticalSpacing)
            cb.verticalSpacing = 0;
    }
    if (cb.separator)
        XtUnmanageChild(cb.separator);
    if (cb.label)
        XtUnmanageChild(cb.label);
    XtManageChild(cb.textField);
}

bool SwitchToLabel(Widget current, Widget w)
{
    DtComboBoxPart& cb = Part(w);
    const DtComboBoxPart& old = Part(current);
    bool made = false;
    if (!cb.label) {
        CreateLabel(w, false);
        if (cb.horizontalSpacing == old.horizontalSpacing)
            cb.horizontalSpacing = 1;
        if (cb.verticalSpacing == old.verticalSpacing)
            cb.verticalSpacing = 2;
        made = true;
    } else if (Manager(w).string_direction !=
               Manager(current).string_direction) {
        XtVaSetValues(cb.label, XmNstringDirection,
                      Manager(w).string_direction, nullptr);
    }
    if (cb.textField)
        XtUnmanageChild(cb.textField);
    XtManageChild(cb.label);
    // Other type values show the label alone, as at creation; a label
    // made for one of them has no separator yet.
    if (cb.type == DtCOMBO_READ_ONLY && !cb.separator)
        CreateSeparator(w, false);
    if (cb.type == DtCOMBO_READ_ONLY)
        XtManageChild(cb.separator);
    else if (cb.separator)
        XtUnmanageChild(cb.separator);
    return made;
}

// A new itemCount without a new table applies to the list's own items: it
// may shorten the list but not reach past its end. Reports a correction.
bool CountBeyondList(Widget current, Widget w)
{
    DtComboBoxPart& cb = Part(w);
    if (cb.items != Part(current).items ||
        cb.itemCount == Part(current).itemCount)
        return false;
    int count = 0;
    XtVaGetValues(cb.list, XmNitemCount, &count, nullptr);
    if (cb.itemCount <= count)
        return false;
    XtWarning("DtComboButtonWidget: Invalid itemCount resource "
              "(defaulting to the list's item count).");
    cb.itemCount = count;
    return true;
}

// Sends the list the resources that changed.
void UpdateList(Widget current, Widget w)
{
    DtComboBoxPart& cb = Part(w);
    const DtComboBoxPart& old = Part(current);
    Arg args[10];
    Cardinal n = 0;
    if (cb.itemCount != old.itemCount) {
        XtSetArg(args[n], XmNitemCount, cb.itemCount); ++n;
    }
    if (cb.items != old.items) {
        XtSetArg(args[n], XmNitems, cb.items); ++n;
        if (cb.itemCount == old.itemCount) {
            XtSetArg(args[n], XmNitemCount, cb.itemCount); ++n;
        }
    }
    if (cb.listFontList != old.listFontList) {
        XtSetArg(args[n], XmNfontList, cb.listFontList); ++n;
    }
    if (cb.listMarginHeight != old.listMarginHeight) {
        XtSetArg(args[n], XmNlistMarginHeight, cb.listMarginHeight); ++n;
    }
    if (cb.listMarginWidth != old.listMarginWidth) {
        XtSetArg(args[n], XmNlistMarginWidth, cb.listMarginWidth); ++n;
    }
    if (cb.listSpacing != old.listSpacing) {
        XtSetArg(args[n], XmNlistSpacing, cb.listSpacing); ++n;
    }
    if (Manager(w).string_direction != Manager(current).string_direction) {
        XtSetArg(args[n], XmNstringDirection, Manager(w).string_direction);
        ++n;
    }
    if (cb.topItemPosition != old.topItemPosition) {
        XtSetArg(args[n], XmNtopItemPosition, cb.topItemPosition); ++n;
    }
    if (cb.visibleItemCount != old.visibleItemCount) {
        XtSetArg(args[n], XmNvisibleItemCount, cb.visibleItemCount); ++n;
    }
    if (n > 0) {
        XtSetValues(cb.list, args, n);
        ReadPopupSize(w);
    }
}

void ReplaceArrow(Widget current, Widget w)
{
    DtComboBoxPart& cb = Part(w);
    Widget old_arrow = cb.arrow;
    XtRemoveCallback(old_arrow, XmNactivateCallback, PostPopup, w);
    if (Part(current).arrowType != DtCOMBO_ARROW_BUTTON)
        XtRemoveCallback(old_arrow, XmNexposeCallback, DrawArrow, w);
    XtDestroyWidget(old_arrow);
    CreateArrow(w);
}

// The children the combo box made stay its own.
void KeepChildren(Widget current, Widget w)
{
    DtComboBoxPart& cb = Part(w);
    const DtComboBoxPart& old = Part(current);
    if (cb.textField != old.textField) {
        XtWarning("DtComboButtonWidget: Unable to set textField resource.");
        cb.textField = old.textField;
    }
    if (cb.list != old.list) {
        XtWarning("DtComboButtonWidget: Unable to set list resource.");
        cb.list = old.list;
    }
}

// Manages the field of the new type and gives the form its shadow unless
// the caller set one. Reports whether the label was made.
bool SwitchForm(Widget current, Widget w)
{
    DtComboBoxPart& cb = Part(w);
    if (cb.type == Part(current).type)
        return false;
    bool label_made = false;
    if (cb.type == DtCOMBO_EDITABLE)
        SwitchToText(current, w);
    else
        label_made = SwitchToLabel(current, w);
    if (Manager(w).shadow_thickness == Manager(current).shadow_thickness)
        Manager(w).shadow_thickness = cb.type == DtCOMBO_EDITABLE ? 1 : 2;
    return label_made;
}

void UpdateTextField(Widget current, Widget w)
{
    DtComboBoxPart& cb = Part(w);
    const DtComboBoxPart& old = Part(current);
    if (!cb.textField || cb.textField != old.textField)
        return;
    Arg args[2];
    Cardinal n = 0;
    if (cb.columns != old.columns) {
        XtSetArg(args[n], XmNcolumns, cb.columns); ++n;
    }
    if (cb.maxLength != old.maxLength) {
        XtSetArg(args[n], XmNmaxLength, cb.maxLength); ++n;
    }
    if (n > 0)
        XtSetValues(cb.textField, args, n);
}

// Passes a new alignment on and measures the label again when the items
// changed. Reports whether it measured.
bool UpdateLabel(Widget current, Widget w, bool label_made)
{
    DtComboBoxPart& cb = Part(w);
    const DtComboBoxPart& old = Part(current);
    if (!cb.label)
        return false;
    if (cb.alignment != old.alignment)
        XtVaSetValues(cb.label, XmNalignment, cb.alignment, nullptr);
    if (cb.items == old.items && cb.itemCount == old.itemCount && !label_made)
        return false;
    MeasureLabel(w);
    return true;
}

// Takes a copy of a new labelString. A new label with the same items is
// shown instead of the selection.
bool TakeLabelString(Widget current, Widget w)
{
    DtComboBoxPart& cb = Part(w);
    const DtComboBoxPart& old = Part(current);
    if (cb.labelString == old.labelString)
        return false;
    cb.labelString = cb.labelString ? XmStringCopy(cb.labelString) : nullptr;
    XmStringFree(old.labelString);
    return cb.items == old.items;
}

bool SelectionMayHaveChanged(Widget current, Widget w)
{
    const DtComboBoxPart& cb = Part(w);
    const DtComboBoxPart& old = Part(current);
    return cb.items != old.items || cb.alignment != old.alignment ||
           cb.type != old.type || cb.itemCount != old.itemCount ||
           cb.selectedPosition != old.selectedPosition ||
           cb.selectedItem != old.selectedItem || cb.label != old.label ||
           cb.updateLabel != old.updateLabel ||
           cb.labelString != old.labelString;
}

// Selects a newly given item (or the position) in the list and shows it.
void ShowNewSelection(Widget current, Widget w, bool keep_label)
{
    DtComboBoxPart& cb = Part(w);
    if (cb.selectedItem && cb.selectedItem != Part(current).selectedItem)
        ZEBDtComboBoxSelectItem(w, cb.selectedItem);
    else
        XmListSelectPos(cb.list, cb.selectedPosition + 1, False);
    if (cb.type == DtCOMBO_EDITABLE)
        ShowSelectionInText(w, nullptr);
    else
        ShowSelectionInLabel(w, nullptr, keep_label);
}

bool RowChanged(Widget current, Widget w, bool remeasured)
{
    const DtComboBoxPart& cb = Part(w);
    const DtComboBoxPart& old = Part(current);
    return cb.type != old.type || cb.arrowType != old.arrowType ||
           cb.marginHeight != old.marginHeight ||
           cb.marginWidth != old.marginWidth ||
           cb.horizontalSpacing != old.horizontalSpacing ||
           cb.verticalSpacing != old.verticalSpacing ||
           Manager(w).shadow_thickness != Manager(current).shadow_thickness ||
           cb.orientation != old.orientation ||
           cb.arrowSpacing != old.arrowSpacing ||
           (cb.type == DtCOMBO_READ_ONLY && remeasured);
}

// The widget owns its labelString from creation on: showing the selection
// may free and replace it. Reports whether the label keeps showing it (a
// label given without items).
bool TakeInitialLabel(Widget w)
{
    DtComboBoxPart& cb = Part(w);
    bool keep_label = false;
    if (!cb.labelString)
        cb.labelString = default_label_string;
    else if (!cb.items)
        keep_label = true;
    cb.labelString = XmStringCopy(cb.labelString);
    return keep_label;
}

// The field of the form at creation, with the spacing of the form where
// none was given. Other type values get the label alone.
void CreateField(Widget w)
{
    DtComboBoxPart& cb = Part(w);
    bool editable = cb.type == DtCOMBO_EDITABLE;
    if (editable) {
        CreateTextField(w, true);
    } else {
        Manager(w).shadow_thickness = 2;
        CreateLabel(w, true);
        if (cb.type == DtCOMBO_READ_ONLY)
            CreateSeparator(w, true);
    }
    if (cb.horizontalSpacing == kUnsetSpacing)
        cb.horizontalSpacing = editable ? 0 : 1;
    if (cb.verticalSpacing == kUnsetSpacing)
        cb.verticalSpacing = editable ? 0 : 2;
}

} // namespace

// Called by the toolkit when a combo box is created: builds the field, the
// arrow and the popup list, shows the selection and takes its size.
void Initialize(Widget, Widget w, ArgList, Cardinal*)
{
    DtComboBoxPart& cb = Part(w);
    XtOverrideTranslations(w, XtParseTranslationTable(combo_translations));
    if (!default_label_string)
        default_label_string =
            XmStringCreateSimple(const_cast<char*>("ComboBox"));

    bool keep_label = TakeInitialLabel(w);
    cb.textField = nullptr;
    cb.label = nullptr;
    cb.separator = nullptr;
    cb.old_width = 0;
    cb.old_height = 0;
    cb.posted_text = nullptr;
    CheckResources(w);
    CreateField(w);
    CreateArrow(w);
    CreatePopup(w);

    if (cb.selectedItem)
        ZEBDtComboBoxSelectItem(w, cb.selectedItem);
    else
        XmListSelectPos(cb.list, cb.selectedPosition + 1, False);
    SyncFromList(w);
    XtManageChild(cb.list);
    XtRealizeWidget(cb.shell);
    ReadPopupSize(w);
    WatchList(w);

    if (cb.type == DtCOMBO_EDITABLE) {
        ShowSelectionInText(w, nullptr);
    } else {
        MeasureLabel(w);
        ShowSelectionInLabel(w, nullptr, keep_label);
    }
    RequestPreferredSize(w);
    LayoutChildren(w);
}

// Called by the toolkit on XtSetValues: passes list resources on to the
// list, switches forms and arrows, and lays the row out again when its
// geometry changed. Draws what it needs itself.
Boolean SetValues(Widget current, Widget, Widget w, ArgList, Cardinal*)
{
    CheckResources(w);
    KeepChildren(current, w);
    if (CountBeyondList(current, w))
        CheckResources(w);  // the selection against the corrected count
    UpdateList(current, w);
    if (Part(w).arrowType != Part(current).arrowType)
        ReplaceArrow(current, w);
    bool label_made = SwitchForm(current, w);
    UpdateTextField(current, w);
    bool remeasured = UpdateLabel(current, w, label_made);
    bool keep_label = TakeLabelString(current, w);
    if (SelectionMayHaveChanged(current, w))
        ShowNewSelection(current, w, keep_label);
    if (RowChanged(current, w, remeasured))
        Relayout(current, w, true);
    SyncFromList(w);
    return False;
}

} // namespace dtcombo
