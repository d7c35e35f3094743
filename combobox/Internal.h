// Procedures and state shared by the combo box's source files.
#pragma once

#include <Xm/XmP.h>

#include "ComboBoxP.h"

namespace dtcombo {

inline DtComboBoxPart& Part(Widget w)
{
    return reinterpret_cast<DtComboBoxWidget>(w)->combo_box;
}

inline XmManagerPart& Manager(Widget w)
{
    return reinterpret_cast<DtComboBoxWidget>(w)->manager;
}

// The field child: the text field of the editable form, else the label.
inline Widget Field(Widget w)
{
    return Part(w).type == DtCOMBO_EDITABLE ? Part(w).textField
                                            : Part(w).label;
}

// Shared by every combo box of the process.
extern Visual* popup_visual;
extern int popup_depth;
extern XmString default_label_string;
extern Boolean combo_list_button_down;

// Translation tables.
extern const char combo_translations[];
extern const char label_translations[];
extern const char text_translations[];
extern const char list_translations[];

// Class methods and children (Create.cpp, ClassRec.cpp).
void CheckResources(Widget w);
void Initialize(Widget request, Widget w, ArgList args, Cardinal* num_args);
Boolean SetValues(Widget current, Widget request, Widget w, ArgList args,
                  Cardinal* num_args);

// Sizes, layout and drawing (Geometry.cpp).
void RequestPreferredSize(Widget w);
void SizeChildren(Widget w);
void LayoutChildren(Widget w);
void Relayout(Widget old, Widget w, bool may_ask_size);
void DrawHighlight(Widget w, bool erase);
void DrawArrow(Widget button, XtPointer client_data, XtPointer call_data);
void Resize(Widget w);
void Redisplay(Widget w, XEvent* event, Region region);
XtGeometryResult GeometryManager(Widget child, XtWidgetGeometry* request,
                                 XtWidgetGeometry* reply);

// The list and the field (Functions.cpp).
void SyncFromList(Widget w);
void MeasureLabel(Widget w);
void ShowSelectionInLabel(Widget w, XmString item, bool keep_label);
void ShowSelectionInText(Widget w, XmString item);
XmImportOperator SyntheticLoad(Widget w, int offset, XtArgVal* value);

// The popup list (Popup.cpp).
char* FirstTextSegment(XmString string);
void ReadPopupSize(Widget w);
void PostPopup(Widget arrow, XtPointer client_data, XtPointer call_data);
void PopdownPopup(Widget w);
void ListSelectionHandler(Widget list, XtPointer client_data,
                          XtPointer call_data);
void ListEventHandler(Widget list, XtPointer client_data, XEvent* event,
                      Boolean* continue_to_dispatch);
void ShellButtonHandler(Widget shell, XtPointer client_data, XEvent* event,
                        Boolean* continue_to_dispatch);
void KeepPopupWidth(Widget shell, XtPointer client_data, XEvent* event,
                    Boolean* continue_to_dispatch);
void ActionFocusIn(Widget w, XEvent* event, String* params,
                   Cardinal* num_params);
void ActionFocusOut(Widget w, XEvent* event, String* params,
                    Cardinal* num_params);
void ActionActivate(Widget w, XEvent* event, String* params,
                    Cardinal* num_params);
void ActionKbdCancel(Widget w, XEvent* event, String* params,
                     Cardinal* num_params);

} // namespace dtcombo
