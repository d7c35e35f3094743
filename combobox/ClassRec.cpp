// DtComboBox class record: resources, synthetic resources, actions,
// translations, resource validation and the class-wide methods.
#include <Xm/BaseClassP.h>

#include <climits>

#include "Internal.h"
#include "XmPrivate.h"

namespace dtcombo {

Visual* popup_visual = nullptr;
int popup_depth = 0;
XmString default_label_string = nullptr;
Boolean combo_list_button_down = False;

const char combo_translations[] =
    "<FocusIn>: ComboBoxFocusIn()\n"
    "<FocusOut>: ComboBoxFocusOut()\n"
    "<Key>osfDown: ComboBoxActivate()\n"
    "<Btn1Down>,<Btn1Up>: ComboBoxActivate()\n"
    "<Key>osfSelect: ComboBoxActivate()\n"
    "~s ~m ~a <Key>space: ComboBoxActivate()";

const char label_translations[] =
    "<Key>osfDown: ComboBoxActivate(label)\n"
    "<Btn1Down>,<Btn1Up>: ComboBoxActivate(label)\n"
    "<Key>osfSelect: ComboBoxActivate(label)\n"
    "~s ~m ~a <Key>space: ComboBoxActivate(label)";

// Added to the editable form's text field, in place of the field's own
// bindings of these keys.
const char text_translations[] =
    "<Key>osfDown: ComboBoxActivate(text)\n"
    "~s ~c ~m ~a <Key>F4: ComboBoxActivate(text)";

const char list_translations[] =
    "<Key>osfCancel: ListKbdCancel() ComboBoxKbdCancel()";

// Reports a bad resource through the toolkit's warning handler.
void CheckResources(Widget w)
{
    DtComboBoxPart& cb = Part(w);
    if (cb.alignment > XmALIGNMENT_END) {
        XtWarning("DtComboButtonWidget: Invalid alignment resource "
                  "(defaulting to XmALIGNMENT_CENTER).");
        cb.alignment = XmALIGNMENT_CENTER;
    }
    if (cb.orientation > DtCOMBO_ARROW_RIGHT) {
        XtWarning("DtComboButtonWidget: Invalid orientation resource "
                  "(defaulting to XmRIGHT).");
        cb.orientation = DtCOMBO_ARROW_RIGHT;
    }
    if (cb.itemCount < 0) {
        XtWarning("DtComboButtonWidget: Invalid itemCount resource "
                  "(defaulting to 0).");
        cb.itemCount = 0;
    }
    // The list would read a count of items from a table that is not there.
    if (cb.itemCount > 0 && !cb.items) {
        XtWarning("DtComboButtonWidget: Invalid itemCount resource "
                  "(defaulting to 0).");
        cb.itemCount = 0;
    }
    if (cb.itemCount > 0 &&
        (cb.selectedPosition < 0 || cb.selectedPosition >= cb.itemCount)) {
        XtWarning("DtComboButtonWidget: Invalid selectedPosition resource "
                  "(defaulting to 0).");
        cb.selectedPosition = 0;
    }
}

} // namespace dtcombo

namespace {

using namespace dtcombo;

// The toolkit's records take String; our names, classes and types are
// literals it never writes to.
constexpr String Name(const char* literal)
{
    return const_cast<String>(literal);
}

#define offset(field) XtOffsetOf(DtComboBoxRec, combo_box.field)

XtResource resources[] = {
    {Name(DtNshadowThickness), Name(DtCShadowThickness), XmRHorizontalDimension,
     sizeof(Dimension), XtOffsetOf(DtComboBoxRec, manager.shadow_thickness),
     XmRImmediate, reinterpret_cast<XtPointer>(1)},
    {Name(DtNactivateCallback), Name(DtCCallback), XmRCallback,
     sizeof(XtCallbackList), offset(activateCallback), XmRCallback, nullptr},
    {Name(DtNalignment), Name(DtCAlignment), XmRAlignment,
     sizeof(unsigned char), offset(alignment), XmRImmediate,
     reinterpret_cast<XtPointer>(XmALIGNMENT_BEGINNING)},
    {Name(DtNarrowSpacing), Name(DtCArrowSpacing), XmRHorizontalDimension,
     sizeof(Dimension), offset(arrowSpacing), XmRImmediate,
     reinterpret_cast<XtPointer>(0)},
    {Name(DtNarrowType), Name(DtCArrowType), Name(DtRArrowType),
     sizeof(unsigned char), offset(arrowType), XmRImmediate,
     reinterpret_cast<XtPointer>(DtCOMBO_DRAWN_ARROW)},
    {Name(DtNcolumns), Name(DtCColumns), XmRShort, sizeof(short),
     offset(columns), XmRImmediate, reinterpret_cast<XtPointer>(20)},
    {Name(DtNfocusCallback), Name(DtCCallback), XmRCallback,
     sizeof(XtCallbackList), offset(focusCallback), XmRCallback, nullptr},
    {Name(DtNhorizontalSpacing), Name(DtCHorizontalSpacing),
     XmRHorizontalDimension, sizeof(Dimension), offset(horizontalSpacing),
     XmRImmediate, reinterpret_cast<XtPointer>(65535)},
    {Name(DtNitemCount), Name(DtCItemCount), XmRInt, sizeof(int),
     offset(itemCount), XmRImmediate, reinterpret_cast<XtPointer>(0)},
    {Name(DtNitems), Name(DtCItems), XmRXmStringTable, sizeof(XmStringTable),
     offset(items), XmRImmediate, nullptr},
    {Name(DtNlabelString), Name(DtCXmString), XmRXmString, sizeof(XmString),
     offset(labelString), XmRImmediate, nullptr},
    {Name(DtNlist), Name(DtCList), XmRWidget, sizeof(Widget), offset(list),
     XmRImmediate, nullptr},
    {Name(DtNlistFontList), Name(DtCListFontList), XmRFontList,
     sizeof(XmFontList), offset(listFontList), XmRImmediate, nullptr},
    {Name(DtNlistMarginHeight), Name(DtCListMarginHeight), XmRVerticalDimension,
     sizeof(Dimension), offset(listMarginHeight), XmRImmediate,
     reinterpret_cast<XtPointer>(2)},
    {Name(DtNlistMarginWidth), Name(DtCListMarginWidth), XmRHorizontalDimension,
     sizeof(Dimension), offset(listMarginWidth), XmRImmediate,
     reinterpret_cast<XtPointer>(2)},
    {Name(DtNlistSpacing), Name(DtCListSpacing), XmRDimension,
     sizeof(Dimension), offset(listSpacing), XmRImmediate,
     reinterpret_cast<XtPointer>(0)},
    {Name(DtNlosingFocusCallback), Name(DtCCallback), XmRCallback,
     sizeof(XtCallbackList), offset(losingFocusCallback), XmRCallback, nullptr},
    {Name(DtNmarginHeight), Name(DtCMarginHeight), XmRVerticalDimension,
     sizeof(Dimension), offset(marginHeight), XmRImmediate,
     reinterpret_cast<XtPointer>(2)},
    {Name(DtNmarginWidth), Name(DtCMarginWidth), XmRHorizontalDimension,
     sizeof(Dimension), offset(marginWidth), XmRImmediate,
     reinterpret_cast<XtPointer>(2)},
    {Name(DtNmaxLength), Name(DtCMaxLength), XmRInt, sizeof(int),
     offset(maxLength), XmRImmediate, reinterpret_cast<XtPointer>(INT_MAX)},
    {Name(DtNmenuPostCallback), Name(DtCCallback), XmRCallback,
     sizeof(XtCallbackList), offset(menuPostCallback), XmRCallback, nullptr},
    {Name(DtNorientation), Name(DtCOrientation), XmROrientation,
     sizeof(unsigned char), offset(orientation), XmRImmediate,
     reinterpret_cast<XtPointer>(DtCOMBO_ARROW_RIGHT)},
    {Name(DtNpoppedUp), Name(DtCPoppedUp), XmRBoolean, sizeof(Boolean),
     offset(poppedUp), XmRImmediate, reinterpret_cast<XtPointer>(False)},
    {Name(DtNrecomputeSize), Name(DtCRecomputeSize), XmRBoolean,
     sizeof(Boolean), offset(recomputeSize), XmRImmediate,
     reinterpret_cast<XtPointer>(True)},
    {Name(DtNselectedItem), Name(DtCXmString), XmRXmString, sizeof(XmString),
     offset(selectedItem), XmRImmediate, nullptr},
    {Name(DtNselectedPosition), Name(DtCSelectedPosition), XmRInt, sizeof(int),
     offset(selectedPosition), XmRImmediate, reinterpret_cast<XtPointer>(0)},
    {Name(DtNselectionCallback), Name(DtCCallback), XmRCallback,
     sizeof(XtCallbackList), offset(selectionCallback), XmRCallback, nullptr},
    {Name(DtNtextField), Name(DtCTextField), XmRWidget, sizeof(Widget),
     offset(textField), XmRImmediate, nullptr},
    {Name(DtNtopItemPosition), Name(DtCTopItemPosition), XmRInt, sizeof(int),
     offset(topItemPosition), XmRImmediate, reinterpret_cast<XtPointer>(1)},
    {Name(DtNtype), Name(DtCType), Name(DtRType), sizeof(unsigned char),
     offset(type), XmRImmediate,
     reinterpret_cast<XtPointer>(DtCOMBO_READ_ONLY)},
    {Name(DtNupdateLabel), Name(DtCUpdateLabel), XmRBoolean, sizeof(Boolean),
     offset(updateLabel), XmRImmediate, reinterpret_cast<XtPointer>(True)},
    {Name(DtNvisibleItemCount), Name(DtCVisibleItemCount), XmRInt, sizeof(int),
     offset(visibleItemCount), XmRImmediate, reinterpret_cast<XtPointer>(10)},
    {Name(DtNverticalSpacing), Name(DtCVerticalSpacing), XmRVerticalDimension,
     sizeof(Dimension), offset(verticalSpacing), XmRImmediate,
     reinterpret_cast<XtPointer>(65535)},
};

// Values that live in the popup list are read from it at XtGetValues time.
XmSyntheticResource syn_resources[] = {
    {Name(DtNarrowSize), sizeof(Dimension), offset(arrow_size),
     _DtComboBoxGetArrowSize, SyntheticLoad},
    {Name(DtNlabelString), sizeof(XmString), offset(labelString),
     _DtComboBoxGetLabelString, SyntheticLoad},
    {Name(DtNitemCount), sizeof(int), offset(itemCount),
     _DtComboBoxGetListItemCount, SyntheticLoad},
    {Name(DtNitems), sizeof(XmStringTable), offset(items),
     _DtComboBoxGetListItems, SyntheticLoad},
    {Name(DtNlistFontList), sizeof(XmFontList), offset(listFontList),
     _DtComboBoxGetListFontList, SyntheticLoad},
    {Name(DtNlistMarginHeight), sizeof(Dimension), offset(listMarginHeight),
     _DtComboBoxGetListMarginHeight, SyntheticLoad},
    {Name(DtNlistMarginWidth), sizeof(Dimension), offset(listMarginWidth),
     _DtComboBoxGetListMarginWidth, SyntheticLoad},
    {Name(DtNlistSpacing), sizeof(Dimension), offset(listSpacing),
     _DtComboBoxGetListSpacing, SyntheticLoad},
    {Name(DtNtopItemPosition), sizeof(int), offset(topItemPosition),
     _DtComboBoxGetListTopItemPosition, SyntheticLoad},
    {Name(DtNvisibleItemCount), sizeof(int), offset(visibleItemCount),
     _DtComboBoxGetListVisibleItemCount, SyntheticLoad},
};

#undef offset

XtActionsRec actions[] = {
    {Name("ComboBoxFocusIn"), ActionFocusIn},
    {Name("ComboBoxFocusOut"), ActionFocusOut},
    {Name("ComboBoxActivate"), ActionActivate},
    {Name("ComboBoxKbdCancel"), ActionKbdCancel},
};

// Called by keyboard traversal to learn how the combo box takes focus: the
// editable form passes it on to its text field, the read-only form keeps it.
XmNavigability WidgetNavigable(Widget w)
{
    XmManagerPart& mp = Manager(w);
    if (!w->core.sensitive || !w->core.ancestor_sensitive || !mp.traversal_on)
        return XmNOT_NAVIGABLE;
    XmNavigationType nav = mp.navigation_type;
    if (nav == XmSTICKY_TAB_GROUP || nav == XmEXCLUSIVE_TAB_GROUP ||
        (nav == XmTAB_GROUP && !_XmShellIsExclusive(w))) {
        return Part(w).type == DtCOMBO_EDITABLE ? XmDESCENDANTS_TAB_NAVIGABLE
                                                : XmTAB_NAVIGABLE;
    }
    return XmDESCENDANTS_NAVIGABLE;
}

XmBaseClassExtRec base_class_extension = {
    nullptr,                   // next_extension
    NULLQUARK,                 // record_type, set in ClassInitialize
    XmBaseClassExtVersion,     // version
    sizeof(XmBaseClassExtRec), // record_size
    nullptr,                   // initializePrehook
    nullptr,                   // setValuesPrehook
    nullptr,                   // initializePosthook
    nullptr,                   // setValuesPosthook
    nullptr,                   // secondaryObjectClass
    nullptr,                   // secondaryObjectCreate
    nullptr,                   // getSecResData
    {0},                       // flags
    nullptr,                   // getValuesPrehook
    nullptr,                   // getValuesPosthook
    nullptr,                   // classPartInitPrehook
    nullptr,                   // classPartInitPosthook
    nullptr,                   // ext_resources
    nullptr,                   // compiled_ext_resources
    0,                         // num_ext_resources
    False,                     // use_sub_resources
    WidgetNavigable,           // widgetNavigable
    nullptr,                   // focusChange
    nullptr,                   // wrapperData
};

// Called once, before the first combo box is made: the Motif quark only
// exists at run time.
void ClassInitialize()
{
    base_class_extension.record_type = XmQmotif;
}

// Called when a combo box is destroyed: releases its copy of labelString
// and the text kept from the last post.
void Destroy(Widget w)
{
    XmStringFree(Part(w).labelString);
    Part(w).labelString = nullptr;
    XtFree(Part(w).posted_text);
    Part(w).posted_text = nullptr;
}

} // namespace

extern "C" {

DtComboBoxClassRec dtComboBoxClassRec = {
    {
        // core
        reinterpret_cast<WidgetClass>(&xmManagerClassRec), // superclass
        Name("DtComboBox"),                                // class_name
        sizeof(DtComboBoxRec),                             // widget_size
        ClassInitialize,                                   // class_initialize
        nullptr,                       // class_part_initialize
        False,                         // class_inited
        Initialize,                    // initialize
        nullptr,                       // initialize_hook
        XtInheritRealize,              // realize
        actions,                       // actions
        XtNumber(actions),             // num_actions
        resources,                     // resources
        XtNumber(resources),           // num_resources
        NULLQUARK,                     // xrm_class
        True,                          // compress_motion
        XtExposeCompressMaximal,       // compress_exposure
        True,                          // compress_enterleave
        False,                         // visible_interest
        Destroy,                       // destroy
        Resize,                        // resize
        Redisplay,                     // expose
        SetValues,                     // set_values
        nullptr,                       // set_values_hook
        XtInheritSetValuesAlmost,      // set_values_almost
        nullptr,                       // get_values_hook
        nullptr,                       // accept_focus
        XtVersion,                     // version
        nullptr,                       // callback_private
        XtInheritTranslations,         // tm_table
        XtInheritQueryGeometry,        // query_geometry
        XtInheritDisplayAccelerator,   // display_accelerator
        &base_class_extension,         // extension
    },
    {
        // composite
        GeometryManager,               // geometry_manager
        XtInheritChangeManaged,        // change_managed
        XtInheritInsertChild,          // insert_child
        XtInheritDeleteChild,          // delete_child
        nullptr,                       // extension
    },
    {
        // constraint
        nullptr,                       // resources
        0,                             // num_resources
        0,                             // constraint_size
        nullptr,                       // initialize
        nullptr,                       // destroy
        nullptr,                       // set_values
        nullptr,                       // extension
    },
    {
        // manager
        XtInheritTranslations,         // translations
        syn_resources,                 // syn_resources
        XtNumber(syn_resources),       // num_syn_resources
        nullptr,                       // syn_constraint_resources
        0,                             // num_syn_constraint_resources
        XmInheritParentProcess,        // parent_process
        nullptr,                       // extension
    },
    {
        // combo box
        nullptr,                       // extension
    },
};

WidgetClass dtComboBoxWidgetClass =
    reinterpret_cast<WidgetClass>(&dtComboBoxClassRec);

} // extern "C"
