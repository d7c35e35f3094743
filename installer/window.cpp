// The wizard window: the logo, the three pages stacked in one form, the
// invisible popup menu that carries the keyboard accelerators, and the error
// dialog.  Everything is built once, under the already realized shell,
// before the window is first mapped.
#include "state.h"

#include "ComboBox.h"

#include <Xm/DrawingA.h>
#include <Xm/Form.h>
#include <Xm/Frame.h>
#include <Xm/Label.h>
#include <Xm/MessageB.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/ScrolledW.h>
#include <Xm/Separator.h>
#include <Xm/Text.h>
#include <X11/xpm.h>

#include <string>

#include "logo.xpm"

extern const char licenceText[];  // generated from assets/licence.txt

namespace {

Pixmap logoPixmap = XmUNSPECIFIED_PIXMAP;

const char kTopCaption[] =
    "Installation and use of the Ovelo 8 requires\n"
    "acceptance of the following terms and conditions:";
const char kBottomCaption[] =
    "Click \"Accept\" to accept the terms of the license agreement\n"
    "and continue with the Ovelo 8 Setup program.";

// Colours the server cannot give exactly are replaced by the nearest it has.
void CreateLogoPixmap()
{
    XpmAttributes attributes{};
    attributes.valuemask = XpmCloseness;
    attributes.closeness = 65536;
    XpmCreatePixmapFromData(XtDisplay(toplevel), XtWindow(toplevel),
                            const_cast<char**>(ovelo_logo), &logoPixmap,
                            nullptr, &attributes);
}

// The menu is never posted; its five items exist for their accelerators,
// which act anywhere inside placeholder.  The item index is the client data.
void CreateAcceleratorMenu()
{
    static char keys[][16] = {"<Key>Return", "<Key>C", "<Key>B", "<Key>A", "<Key>F"};
    const XmString noLabel = nullptr;
    const KeySym noMnemonic = NoSymbol;
    dummypopup = XmVaCreateSimplePopupMenu(
        placeholder, const_cast<char*>("dummypopup"), AcceleratorDispatch,
        XmVaPUSHBUTTON, noLabel, noMnemonic, keys[0], noLabel,
        XmVaPUSHBUTTON, noLabel, noMnemonic, keys[1], noLabel,
        XmVaPUSHBUTTON, noLabel, noMnemonic, keys[2], noLabel,
        XmVaPUSHBUTTON, noLabel, noMnemonic, keys[3], noLabel,
        XmVaPUSHBUTTON, noLabel, noMnemonic, keys[4], noLabel,
        nullptr);
}

// A page form fills placeholder less 2 pixels on every side.
Widget CreatePage(const char* name, bool managed)
{
    Widget form = XtVaCreateWidget(
        name, xmFormWidgetClass, placeholder,
        XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 2,
        XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, 2,
        XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 2,
        XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, 2, nullptr);
    if (managed)
        XtManageChild(form);
    return form;
}

Widget CreateLogo(const char* name, Widget page)
{
    return XtVaCreateManagedWidget(
        name, xmLabelWidgetClass, page,
        XmNlabelType, XmPIXMAP, XmNlabelPixmap, logoPixmap,
        XmNmarginWidth, 0, XmNmarginHeight, 0,
        XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 10,
        XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, 10, nullptr);
}

// A caption label beside the logo; further attachments follow in code.
Widget CreateCaption(const char* name, Widget page, Widget logo, const char* text)
{
    XmString label = XmStringCreateLtoR(const_cast<char*>(text),
                                        const_cast<char*>(XmSTRING_DEFAULT_CHARSET));
    Widget caption = XtVaCreateManagedWidget(
        name, xmLabelWidgetClass, page,
        XmNlabelString, label, XmNalignment, XmALIGNMENT_BEGINNING,
        XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, logo,
        XmNleftOffset, 10, nullptr);
    XmStringFree(label);
    return caption;
}

// The rule 40 pixels below the logo and the button row 10 pixels below it.
void CreateButtonRow(const char* separatorName, const char* rowName, Widget page,
                     Widget logo, Widget* separator, Widget* row)
{
    *separator = XtVaCreateManagedWidget(
        separatorName, xmSeparatorWidgetClass, page,
        XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 10,
        XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, logo, XmNtopOffset, 40,
        XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, nullptr);
    *row = XtVaCreateManagedWidget(
        rowName, xmFormWidgetClass, page,
        XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, *separator, XmNtopOffset, 10,
        XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10,
        XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, 10,
        XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 10, nullptr);
}

// Buttons are placed from the right: the rightmost against the row's edge,
// each further one against its right-hand neighbour.
Widget CreateButton(const char* name, Widget row, Widget rightNeighbour, int gap)
{
    if (!rightNeighbour)
        return XtVaCreateManagedWidget(
            name, xmPushButtonWidgetClass, row,
            XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, gap,
            XmNtopAttachment, XmATTACH_FORM, nullptr);
    return XtVaCreateManagedWidget(
        name, xmPushButtonWidgetClass, row,
        XmNrightAttachment, XmATTACH_WIDGET, XmNrightWidget, rightNeighbour,
        XmNrightOffset, gap, XmNtopAttachment, XmATTACH_FORM, nullptr);
}

// Read-only, no insertion cursor, vertical scroll bar only; it fills the
// space between the two captions.
void CreateLicenceView()
{
    page1license = XmCreateScrolledText(page1form, const_cast<char*>("page1license"),
                                        nullptr, 0);
    XtVaSetValues(page1license, XmNeditable, False, XmNeditMode, XmMULTI_LINE_EDIT,
                  XmNcursorPositionVisible, False, nullptr);
    XmTextSetString(page1license, const_cast<char*>(licenceText));

    page1scrolledwindow = XtParent(page1license);
    Widget horizontal = nullptr;
    Widget vertical = nullptr;
    XtVaGetValues(page1scrolledwindow, XmNhorizontalScrollBar, &horizontal, nullptr);
    if (horizontal)
        XtUnmanageChild(horizontal);
    XtVaGetValues(page1scrolledwindow, XmNverticalScrollBar, &vertical, nullptr);
    XtVaSetValues(page1scrolledwindow,
                  XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, page1logo,
                  XmNleftOffset, 10,
                  XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, page1toplabel,
                  XmNrightAttachment, XmATTACH_OPPOSITE_WIDGET,
                  XmNrightWidget, page1bottomlabel,
                  XmNbottomAttachment, XmATTACH_WIDGET,
                  XmNbottomWidget, page1bottomlabel, nullptr);
    XtManageChild(page1scrolledwindow);
    XtManageChild(page1license);
    if (vertical)
        XtManageChild(vertical);
}

void BuildLicencePage()
{
    page1form = CreatePage("page1form", true);
    page1logo = CreateLogo("page1logo", page1form);
    page1toplabel = CreateCaption("page1toplabel", page1form, page1logo, kTopCaption);
    XtVaSetValues(page1toplabel,
                  XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, 10,
                  XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, nullptr);
    page1bottomlabel = CreateCaption("page1bottomlabel", page1form, page1logo,
                                     kBottomCaption);
    XtVaSetValues(page1bottomlabel,
                  XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, page1logo,
                  XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 15, nullptr);
    CreateLicenceView();

    CreateButtonRow("page1separator", "page1buttons", page1form, page1logo,
                    &page1separator, &page1buttons);
    page1finish = CreateButton("page1finish", page1buttons, nullptr, 10);
    XtVaSetValues(page1finish, XmNsensitive, False, nullptr);
    page1accept = CreateButton("page1accept", page1buttons, page1finish, 20);
    XmProcessTraversal(page1accept, XmTRAVERSE_CURRENT);
    page1back = CreateButton("page1back", page1buttons, page1accept, 0);
    page1cancel = CreateButton("page1cancel", page1buttons, page1back, 20);
    page1default = page1accept;
}

void AddChoice(const std::string& text, int position)
{
    XmString item = XmStringCreateLtoR(const_cast<char*>(text.c_str()),
                                       const_cast<char*>(XmSTRING_DEFAULT_CHARSET));
    ZEBDtComboBoxAddItem(page2dircombobox, item, position, True);
    XmStringFree(item);
}

// The destinations offered, at list positions 1, 2 and 3 (fewer when one
// is left out).
void AddDestinationChoices()
{
    int position = 0;
    for (const std::string& choice : DestinationChoices())
        AddChoice(choice, ++position);
}

void BuildDestinationPage()
{
    page2form = CreatePage("page2form", false);
    page2logo = CreateLogo("page2logo", page2form);
    page2frame1 = XtVaCreateManagedWidget(
        "page2frame1", xmFrameWidgetClass, page2form,
        XmNmarginHeight, 7, XmNmarginWidth, 7, XmNshadowType, XmSHADOW_ETCHED_IN,
        XmNheight, 45,
        XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, page2logo, XmNleftOffset, 10,
        XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, 20,
        XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, nullptr);

    Display* display = XtDisplay(toplevel);
    const int screen = XDefaultScreen(display);
    ZEBDtInitComboBox(XDefaultVisual(display, screen), XDefaultDepth(display, screen));
    page2dircombobox = XtVaCreateManagedWidget(
        "page2dircombobox", dtComboBoxWidgetClass, page2frame1,
        DtNtype, DtCOMBO_EDITABLE, DtNarrowType, DtCOMBO_ARROW_BUTTON, nullptr);
    AddDestinationChoices();

    page2dirlabel = XtVaCreateManagedWidget(
        "page2dirlabel", xmLabelWidgetClass, page2form,
        XmNtopAttachment, XmATTACH_OPPOSITE_WIDGET, XmNtopWidget, page2frame1,
        XmNtopOffset, -10,
        XmNleftAttachment, XmATTACH_OPPOSITE_WIDGET, XmNleftWidget, page2frame1,
        XmNleftOffset, 5, nullptr);
    CreateButtonRow("page2separator", "page2buttons", page2form, page2logo,
                    &page2separator, &page2buttons);
    page2finish = CreateButton("page2finish", page2buttons, nullptr, 10);
    page2next = CreateButton("page2next", page2buttons, page2finish, 20);
    page2back = CreateButton("page2back", page2buttons, page2next, 0);
    page2cancel = CreateButton("page2cancel", page2buttons, page2back, 20);
    page2default = page2finish;
}

void BuildProgressPage()
{
    page3form = CreatePage("page3form", false);
    page3logo = CreateLogo("page3logo", page3form);
    page3progresslabel = XtVaCreateManagedWidget(
        "page3progresslabel", xmLabelWidgetClass, page3form,
        XmNalignment, XmALIGNMENT_BEGINNING,
        XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, page3logo, XmNleftOffset, 10,
        XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, 10, nullptr);
    page3progressframe = XtVaCreateManagedWidget(
        "page3progressframe", xmFrameWidgetClass, page3form,
        XmNshadowType, XmSHADOW_IN, XmNshadowThickness, 1,
        XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, page3logo, XmNleftOffset, 10,
        XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, page3progresslabel,
        XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, nullptr);
    page3progressbar = XtVaCreateManagedWidget(
        "page3progressbar", xmDrawingAreaWidgetClass, page3progressframe, nullptr);
}

// Only OK remains; it takes the dialog down through the message box's own
// unmanaging.  Full-application modal: the wizard waits while it is up.
void BuildErrorDialog()
{
    ErrorDialog = XmCreateErrorDialog(toplevel, const_cast<char*>("ErrorDialog"),
                                      nullptr, 0);
    XtVaSetValues(XtParent(ErrorDialog), XmNtitle, "Error", nullptr);
    XtVaSetValues(ErrorDialog, XmNdialogStyle, XmDIALOG_FULL_APPLICATION_MODAL,
                  XmNnoResize, True, nullptr);
    XtUnmanageChild(XmMessageBoxGetChild(ErrorDialog, XmDIALOG_HELP_BUTTON));
    XtUnmanageChild(XmMessageBoxGetChild(ErrorDialog, XmDIALOG_CANCEL_BUTTON));
}

// Minimum and maximum size equal to the size the window is built at: no
// window manager then offers maximizing or resizing, which would stretch
// the button rows.  The decorations alone do not tell every manager so.
void HoldShellSize()
{
    Dimension width = 0;
    Dimension height = 0;
    XtVaGetValues(toplevel, XmNwidth, &width, XmNheight, &height, nullptr);
    XtVaSetValues(toplevel, XmNminWidth, width, XmNmaxWidth, width,
                  XmNminHeight, height, XmNmaxHeight, height, nullptr);
}

}  // namespace

void BuildWindow()
{
    CreateLogoPixmap();
    placeholder = XtVaCreateManagedWidget("placeholder", xmFormWidgetClass, toplevel,
                                          nullptr);
    CreateAcceleratorMenu();
    BuildLicencePage();
    BuildDestinationPage();
    BuildProgressPage();
    BuildErrorDialog();
    HoldShellSize();
}

// The graphics context and font the progress bar is painted with.  Without
// a matching font the context keeps the server's default one.
void CreateProgressGraphics()
{
    Display* display = XtDisplay(toplevel);
    progressGC = XCreateGC(display, XtWindow(toplevel), 0, nullptr);
    pProgressFont = XLoadQueryFont(display, "-adobe-helvetica-medium-r-*-*-14-*-*-*-*-*-*-*");
    if (pProgressFont)
        XSetFont(display, progressGC, pProgressFont->fid);
}
