/*
 * DtComboBox: a one-line field with an arrow beside it. The arrow (or, in
 * the read-only form, the field itself) drops a scrolled list in a popup
 * shell under the field (above it where fewer than three rows would fit
 * below; always on the screen; the mouse wheel scrolls it); the item
 * chosen there becomes the field's content.
 *
 * Two forms, chosen by DtNtype:
 *   DtCOMBO_READ_ONLY (0)  an XmLabel showing the selected item, with a
 *                          vertical separator between it and the arrow
 *   DtCOMBO_EDITABLE  (1)  an XmTextField named "Text" the user types into
 *
 * Resources (besides those of XmManager):
 *
 * Name                 Class              RepType              Default
 * ------------------------------------------------------------------------
 * shadowThickness      ShadowThickness    HorizontalDimension  1
 * activateCallback     Callback           Callback             NULL
 * alignment            Alignment          Alignment            0
 * arrowSpacing         ArrowSpacing       HorizontalDimension  0
 * arrowType            ArrowType          ArrowType            1
 * columns              Columns            Short                20
 * focusCallback        Callback           Callback             NULL
 * horizontalSpacing    HorizontalSpacing  HorizontalDimension  65535 (form's)
 * itemCount            ItemCount          Int                  0
 * items                Items              XmStringTable        NULL
 * labelString          XmString           XmString             NULL
 * list                 List               Widget               NULL (get only)
 * listFontList         ListFontList       FontList             NULL
 * listMarginHeight     ListMarginHeight   VerticalDimension    2
 * listMarginWidth      ListMarginWidth    HorizontalDimension  2
 * listSpacing          ListSpacing        Dimension            0
 * losingFocusCallback  Callback           Callback             NULL
 * marginHeight         MarginHeight       VerticalDimension    2
 * marginWidth          MarginWidth        HorizontalDimension  2
 * maxLength            MaxLength          Int                  2147483647
 * menuPostCallback     Callback           Callback             NULL
 * orientation          Orientation        Orientation          1 (arrow right)
 * poppedUp             PoppedUp           Boolean              False
 * recomputeSize        RecomputeSize      Boolean              True
 * selectedItem         XmString           XmString             NULL
 * selectedPosition     SelectedPosition   Int                  0 (0-based)
 * selectionCallback    Callback           Callback             NULL
 * textField            TextField          Widget               NULL (get only)
 * topItemPosition      TopItemPosition    Int                  1
 * type                 Type               Type                 0
 * updateLabel          UpdateLabel        Boolean              True
 * visibleItemCount     VisibleItemCount   Int                  10
 * verticalSpacing      VerticalSpacing    VerticalDimension    65535 (form's)
 * arrowSize            (get only: the arrow's current height)
 *
 * type and arrowType have no string converter: give them in argument lists.
 *
 * Bindings (besides those of the children themselves):
 *
 * Where               Event                           Action
 * ------------------------------------------------------------------------
 * combo box, label    osfDown, osfSelect (with any    posts the list
 *                     modifiers), space (without
 *                     Shift, Meta or Alt), Btn1 click
 * text field          osfDown (with any modifiers),   posts the list
 *                     F4 (without modifiers)
 * list                osfCancel (Escape)              takes the list down;
 *                                                     the editable form shows
 *                                                     again the text and the
 *                                                     selection it had when
 *                                                     the list was posted
 *
 * The text field's bindings extend the usual ones of a combo box; osfDown
 * there no longer moves the focus on (the field's own traverse-next).
 */
#ifndef DT_COMBOBOX_H
#define DT_COMBOBOX_H

#include <Xm/Xm.h>

#ifdef __cplusplus
extern "C" {
#endif

extern WidgetClass dtComboBoxWidgetClass;
extern struct _DtComboBoxClassRec dtComboBoxClassRec;

typedef struct _DtComboBoxClassRec* DtComboBoxWidgetClass;
typedef struct _DtComboBoxRec* DtComboBoxWidget;

#define DtIsComboBox(w) XtIsSubclass((w), dtComboBoxWidgetClass)

/* Values of DtNtype and DtNarrowType. */
#define DtCOMBO_READ_ONLY 0
#define DtCOMBO_EDITABLE 1
#define DtCOMBO_ARROW_BUTTON 0
#define DtCOMBO_DRAWN_ARROW 1

/* Values of DtNorientation. */
#define DtCOMBO_ARROW_LEFT 0
#define DtCOMBO_ARROW_RIGHT 1

/* Reasons of the combo box's own callbacks. */
#define DtCR_SELECT 128
#define DtCR_MENU_POST 129

/* Resource names. */
#define DtNshadowThickness "shadowThickness"
#define DtNactivateCallback "activateCallback"
#define DtNalignment "alignment"
#define DtNarrowSize "arrowSize"
#define DtNarrowSpacing "arrowSpacing"
#define DtNarrowType "arrowType"
#define DtNcolumns "columns"
#define DtNfocusCallback "focusCallback"
#define DtNhorizontalSpacing "horizontalSpacing"
#define DtNitemCount "itemCount"
#define DtNitems "items"
#define DtNlabelString "labelString"
#define DtNlist "list"
#define DtNlistFontList "listFontList"
#define DtNlistMarginHeight "listMarginHeight"
#define DtNlistMarginWidth "listMarginWidth"
#define DtNlistSpacing "listSpacing"
#define DtNlosingFocusCallback "losingFocusCallback"
#define DtNmarginHeight "marginHeight"
#define DtNmarginWidth "marginWidth"
#define DtNmaxLength "maxLength"
#define DtNmenuPostCallback "menuPostCallback"
#define DtNorientation "orientation"
#define DtNpoppedUp "poppedUp"
#define DtNrecomputeSize "recomputeSize"
#define DtNselectedItem "selectedItem"
#define DtNselectedPosition "selectedPosition"
#define DtNselectionCallback "selectionCallback"
#define DtNtextField "textField"
#define DtNtopItemPosition "topItemPosition"
#define DtNtype "type"
#define DtNupdateLabel "updateLabel"
#define DtNvisibleItemCount "visibleItemCount"
#define DtNverticalSpacing "verticalSpacing"

/* Resource classes. */
#define DtCShadowThickness "ShadowThickness"
#define DtCCallback "Callback"
#define DtCAlignment "Alignment"
#define DtCArrowSpacing "ArrowSpacing"
#define DtCArrowType "ArrowType"
#define DtCColumns "Columns"
#define DtCHorizontalSpacing "HorizontalSpacing"
#define DtCItemCount "ItemCount"
#define DtCItems "Items"
#define DtCXmString "XmString"
#define DtCList "List"
#define DtCListFontList "ListFontList"
#define DtCListMarginHeight "ListMarginHeight"
#define DtCListMarginWidth "ListMarginWidth"
#define DtCListSpacing "ListSpacing"
#define DtCMarginHeight "MarginHeight"
#define DtCMarginWidth "MarginWidth"
#define DtCMaxLength "MaxLength"
#define DtCOrientation "Orientation"
#define DtCPoppedUp "PoppedUp"
#define DtCRecomputeSize "RecomputeSize"
#define DtCSelectedPosition "SelectedPosition"
#define DtCTextField "TextField"
#define DtCTopItemPosition "TopItemPosition"
#define DtCType "Type"
#define DtCUpdateLabel "UpdateLabel"
#define DtCVisibleItemCount "VisibleItemCount"
#define DtCVerticalSpacing "VerticalSpacing"

/* Representation types of this class (no string converters). */
#define DtRArrowType "ArrowType"
#define DtRType "Type"

/* Call data of selectionCallback (reason DtCR_SELECT) and menuPostCallback
 * (reason DtCR_MENU_POST, which fills only reason and event). */
typedef struct {
    int reason;
    XEvent* event;
    XmString item;      /* the chosen item, valid during the call */
    int item_position;  /* its 0-based position */
} ComboBoxCallbackData;

/* Sets the visual and depth of the popup list of every combo box made
 * afterwards. Call it once, before the first combo box is created. */
extern void ZEBDtInitComboBox(Visual* visual, int depth);

/* Creates an unmanaged combo box. */
extern Widget ZEBDtCreateComboBox(Widget parent, String name, ArgList args,
                                  Cardinal num_args);

/* Adds item at the list's 1-based position (0: at the end); with unique
 * True an item equal to one already in the list is not added. */
extern void ZEBDtComboBoxAddItem(Widget combo, XmString item, int position,
                                 Boolean unique);

/* Deletes the item at the 1-based position (0: the last item). */
extern void ZEBDtComboBoxDeletePos(Widget combo, int position);

/* Shows item in the field and scrolls the list to it, leaving the list's
 * own selection alone. Warns when item is not in the list. */
extern void ZEBDtComboBoxSetItem(Widget combo, XmString item);

/* Shows item in the field and selects it in the list. Warns when item is
 * not in the list. */
extern void ZEBDtComboBoxSelectItem(Widget combo, XmString item);

#ifdef __cplusplus
}
#endif

#endif /* DT_COMBOBOX_H */
