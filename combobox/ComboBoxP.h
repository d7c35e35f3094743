/*
 * DtComboBox private header: the class and instance records, for the
 * widget's own sources and for subclasses.
 */
#ifndef DT_COMBOBOXP_H
#define DT_COMBOBOXP_H

#include <Xm/ManagerP.h>

#include "ComboBox.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    XtPointer extension;
} DtComboBoxClassPart;

typedef struct _DtComboBoxClassRec {
    CoreClassPart core_class;
    CompositeClassPart composite_class;
    ConstraintClassPart constraint_class;
    XmManagerClassPart manager_class;
    DtComboBoxClassPart combo_box_class;
} DtComboBoxClassRec;

extern DtComboBoxClassRec dtComboBoxClassRec;

typedef struct {
    /* private state */
    Widget arrow;       /* XmArrowButton or XmDrawnButton */
    Widget shell;       /* the popup shell */
    Widget frame;       /* the XmFrame inside the popup shell */
    Widget label;       /* NULL until the read-only form is first used */
    Widget separator;   /* made with the label */
    Dimension old_width, old_height;        /* size at the last layout */
    Dimension label_max_width, label_max_height;
    Dimension popup_width, popup_height;    /* natural size of the popup */
    /* what the editable form showed when its list was posted, for Escape */
    char* posted_text;                      /* owned */
    int posted_position;                    /* selectedPosition then */
    int posted_list_position;               /* 1-based, 0: none selected */
    int posted_kbd_position;                /* the list's location cursor */

    /* resources */
    XtCallbackList activateCallback;
    unsigned char alignment;
    Dimension arrow_size;   /* takes a value set for arrowSize; unread */
    Dimension arrowSpacing;
    unsigned char arrowType;
    short columns;
    XtCallbackList focusCallback;
    Dimension horizontalSpacing;
    int itemCount;
    XmStringTable items;
    XmString labelString;   /* owned copy */
    Widget list;
    XmFontList listFontList;
    Dimension listMarginHeight;
    Dimension listMarginWidth;
    Dimension listSpacing;
    XtCallbackList losingFocusCallback;
    Dimension marginHeight;
    Dimension marginWidth;
    int maxLength;
    XtCallbackList menuPostCallback;
    unsigned char orientation;
    Boolean poppedUp;
    Boolean recomputeSize;
    XmString selectedItem;  /* not owned: the item last shown */
    int selectedPosition;   /* 0-based */
    XtCallbackList selectionCallback;
    Widget textField;       /* NULL until the editable form is first used */
    int topItemPosition;
    unsigned char type;
    Boolean updateLabel;
    Dimension verticalSpacing;
    int visibleItemCount;
} DtComboBoxPart;

typedef struct _DtComboBoxRec {
    CorePart core;
    CompositePart composite;
    ConstraintPart constraint;
    XmManagerPart manager;
    DtComboBoxPart combo_box;
} DtComboBoxRec;

/* Get procedures of the synthetic resources: each writes the value that
 * XtGetValues reports through value. */
extern void _DtComboBoxGetArrowSize(Widget w, int offset, XtArgVal* value);
extern void _DtComboBoxGetLabelString(Widget w, int offset, XtArgVal* value);
extern void _DtComboBoxGetListItemCount(Widget w, int offset, XtArgVal* value);
extern void _DtComboBoxGetListItems(Widget w, int offset, XtArgVal* value);
extern void _DtComboBoxGetListFontList(Widget w, int offset, XtArgVal* value);
extern void _DtComboBoxGetListMarginHeight(Widget w, int offset,
                                           XtArgVal* value);
extern void _DtComboBoxGetListMarginWidth(Widget w, int offset,
                                          XtArgVal* value);
extern void _DtComboBoxGetListSpacing(Widget w, int offset, XtArgVal* value);
extern void _DtComboBoxGetListTopItemPosition(Widget w, int offset,
                                              XtArgVal* value);
extern void _DtComboBoxGetListVisibleItemCount(Widget w, int offset,
                                               XtArgVal* value);

#ifdef __cplusplus
}
#endif

#endif /* DT_COMBOBOXP_H */
