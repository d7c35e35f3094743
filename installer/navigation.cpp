// Moving between the pages, by the buttons and by the keys Return, C, B, A
// and F.  The page showing is the managed page form; after every switch the
// keyboard focus goes to that page's default button.
#include "state.h"

#include "ComboBox.h"

#include <Xm/PushB.h>

#include <cstdlib>

namespace {

enum AcceleratorItem { kReturn = 0, kCancel = 1, kBack = 2, kAccept = 3, kFinish = 4 };

void RaiseWindowOf(Widget w)
{
    XRaiseWindow(XtDisplay(w), XtWindow(w));
}

// Page 1 is tested first: when both page forms are managed, it counts as
// the page showing.
void FocusDefaultButton()
{
    if (XtIsManaged(page1form))
        XmProcessTraversal(page1default, XmTRAVERSE_CURRENT);
    else if (XtIsManaged(page2form))
        XmProcessTraversal(page2default, XmTRAVERSE_CURRENT);
}

void ActivateDefaultButton()
{
    if (XtIsManaged(page1form))
        XtCallCallbacks(page1default, XmNactivateCallback, nullptr);
    else if (XtIsManaged(page2form))
        XtCallCallbacks(page2default, XmNactivateCallback, nullptr);
}

// The new page is managed before the old one goes.  The destination label
// overlaps the frame's top edge, so it and the button row are raised above
// the frame once the page has its windows.
void AcceptLicense(Widget, XtPointer, XtPointer)
{
    XtManageChild(page2form);
    XtUnmanageChild(page1form);
    RaiseWindowOf(page2dirlabel);
    RaiseWindowOf(page2buttons);
    FocusDefaultButton();
}

void BackToLicense(Widget, XtPointer, XtPointer)
{
    XtManageChild(page1form);
    XtUnmanageChild(page2form);
    FocusDefaultButton();
}

void ExitInstaller(Widget, XtPointer, XtPointer)
{
    StopUnpacking();
    std::exit(0);
}

// From the moment the progress page replaces the others an installation is
// under way, or has ended in the error dialog: only Cancel still acts.
bool InstallationStarted()
{
    return XtIsManaged(page3form);
}

bool FocusIsInDestinationField()
{
    Widget field = nullptr;
    XtVaGetValues(page2dircombobox, DtNtextField, &field, nullptr);
    return field && XmGetFocusWidget(toplevel) == field;
}

// Keys typed into the destination field belong to the field, Return too.
// The accelerators are off while the field has the focus (below); a key
// that reaches them all the same is handed on here.
void PassKeyToDestinationField()
{
    Widget field = nullptr;
    XtVaGetValues(page2dircombobox, DtNtextField, &field, nullptr);
    XtDispatchEventToWidget(field, XtLastEventProcessed(XtDisplay(toplevel)));
}

// While the destination field has the focus, the keys are the field's:
// the accelerators are switched off, so that letters and Return reach it
// straight.  Going through the menu would lose some: the menu drops a key
// whose time stamp and serial number equal those of the key before it, as
// happens to keys pressed within one millisecond: sent by a typing tool,
// or rolled so fast that the keyboard reports them together.
void AcceleratorsOff(Widget, XtPointer, XtPointer)
{
    XtVaSetValues(dummypopup, XmNpopupEnabled, XmPOPUP_DISABLED, nullptr);
}

void AcceleratorsOn(Widget, XtPointer, XtPointer)
{
    XtVaSetValues(dummypopup, XmNpopupEnabled, XmPOPUP_KEYBOARD, nullptr);
}

}  // namespace

// The callback of the dummypopup items; the client data is the item index.
void AcceleratorDispatch(Widget, XtPointer client_data, XtPointer)
{
    const auto item = static_cast<int>(reinterpret_cast<XtArgVal>(client_data));
    if (InstallationStarted()) {
        if (item == kCancel)
            ExitInstaller(nullptr, nullptr, nullptr);
        return;
    }
    if (FocusIsInDestinationField()) {
        PassKeyToDestinationField();
        return;
    }
    switch (item) {
    case kReturn: ActivateDefaultButton(); break;
    case kCancel: ExitInstaller(nullptr, nullptr, nullptr); break;
    case kBack: BackToLicense(nullptr, nullptr, nullptr); break;
    case kAccept: AcceptLicense(nullptr, nullptr, nullptr); break;
    case kFinish: Install(nullptr, nullptr, nullptr); break;
    default: break;
    }
}

void RegisterCallbacks()
{
    XtAddCallback(page1accept, XmNactivateCallback, AcceptLicense, nullptr);
    XtAddCallback(page1cancel, XmNactivateCallback, ExitInstaller, nullptr);
    XtAddCallback(page2back, XmNactivateCallback, BackToLicense, nullptr);
    XtAddCallback(page2cancel, XmNactivateCallback, ExitInstaller, nullptr);
    XtAddCallback(page2finish, XmNactivateCallback, Install, nullptr);
    XtAddCallback(page3progressbar, XmNexposeCallback, DrawProgressBar, nullptr);
    XtAddCallback(page2dircombobox, DtNfocusCallback, AcceleratorsOff, nullptr);
    XtAddCallback(page2dircombobox, DtNlosingFocusCallback, AcceleratorsOn, nullptr);
}
