// Moving between the pages, by the buttons, by the keys Return, C, B, A and
// F, and by Alt with a button's underlined letter; the ways the wizard ends
// short of an installation.  The page showing is the managed page form;
// after every switch the keyboard focus goes to that page's default button.
#include "state.h"

#include "ComboBox.h"

#include <Xm/Protocols.h>
#include <Xm/PushB.h>
#include <X11/keysym.h>

#include <cstdlib>
#include <vector>

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

// Return presses the button that has the keyboard focus, as the space bar
// does; anywhere else it presses the page's default button.
void ActivateFocusedOrDefaultButton()
{
    Widget focus = XmGetFocusWidget(toplevel);
    if (focus && XmIsPushButton(focus) && XtIsSensitive(focus))
        XtCallCallbacks(focus, XmNactivateCallback, nullptr);
    else
        ActivateDefaultButton();
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

// Every way out of the wizard: an unpacker still running would otherwise
// go on writing into the destination after we are gone.
[[noreturn]] void EndInstaller(int status)
{
    StopUnpacking();
    std::exit(status);
}

void ExitInstaller(Widget, XtPointer, XtPointer)
{
    EndInstaller(0);
}

// From the moment the progress page replaces the others an installation is
// under way, or has ended in the error dialog: only Cancel still acts.
bool InstallationStarted()
{
    return XtIsManaged(page3form);
}

// Once the progress page shows, an error in the dialog means the product
// could not be installed: there is nothing left to do on that page.
bool InstallationFailed()
{
    return InstallationStarted() && XtIsManaged(ErrorDialog);
}

// Whenever the error dialog goes away, by OK or by the window manager.
void EndAfterFailedInstallation(Widget, XtPointer, XtPointer)
{
    if (InstallationStarted() && !StartPendingPlayer())
        EndInstaller(1);
}

// Closing the window through the window manager is Cancel, on any page;
// over a failed installation it ends as dismissing its message does.
void CloseWindow(Widget, XtPointer, XtPointer)
{
    if (InstallationFailed())
        EndInstaller(1);
    ExitInstaller(nullptr, nullptr, nullptr);
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

std::vector<Widget> ChildrenOf(Widget row)
{
    WidgetList children = nullptr;
    Cardinal count = 0;
    XtVaGetValues(row, XmNchildren, &children, XmNnumChildren, &count, nullptr);
    return std::vector<Widget>(children, children + count);
}

KeySym LowerCase(KeySym key)
{
    KeySym lower = NoSymbol;
    KeySym upper = NoSymbol;
    XConvertCase(key, &lower, &upper);
    return lower;
}

KeySym MnemonicOf(Widget button)
{
    KeySym mnemonic = NoSymbol;
    XtVaGetValues(button, XmNmnemonic, &mnemonic, nullptr);
    return LowerCase(mnemonic);
}

Widget ShowingButtonRow()
{
    if (XtIsManaged(page1form))
        return page1buttons;
    if (XtIsManaged(page2form))
        return page2buttons;
    return nullptr;
}

// Alt with a button's underlined letter acts like the button, wherever the
// keyboard focus is in the window (the destination field included).  Once
// the installation has started the grab still brings Alt with C here,
// where it means what C alone means: Cancel.
void MnemonicKey(Widget, XtPointer, XEvent* event, Boolean*)
{
    if (event->type != KeyPress || !(event->xkey.state & Mod1Mask))
        return;
    const KeySym key = LowerCase(XLookupKeysym(&event->xkey, 0));
    if (InstallationStarted()) {
        if (key == MnemonicOf(page2cancel))
            ExitInstaller(nullptr, nullptr, nullptr);
        return;
    }
    Widget row = ShowingButtonRow();
    if (!row)
        return;
    for (Widget button : ChildrenOf(row))
        if (MnemonicOf(button) == key && XtIsSensitive(button)) {
            XtCallCallbacks(button, XmNactivateCallback, nullptr);
            return;
        }
}

// The modifier bit that Num Lock sets on this keyboard, 0 when none does.
Modifiers NumLockMask(Display* display)
{
    const KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
    XModifierKeymap* map = XGetModifierMapping(display);
    Modifiers mask = 0;
    for (int i = 0; numLock != 0 && i < 8 * map->max_keypermod; ++i)
        if (map->modifiermap[i] == numLock)
            mask = 1u << (i / map->max_keypermod);
    XFreeModifiermap(map);
    return mask;
}

// The keys reach placeholder, not the widget with the focus, through a
// grab, as the accelerators do; with Caps Lock and Num Lock too.
void GrabMnemonicKeys()
{
    Display* display = XtDisplay(placeholder);
    const Modifiers numLock = NumLockMask(display);
    const Modifiers locks[] = {0, LockMask, numLock, LockMask | numLock};
    for (Widget row : {page1buttons, page2buttons})
        for (Widget button : ChildrenOf(row)) {
            const KeySym mnemonic = MnemonicOf(button);
            const KeyCode code = mnemonic == NoSymbol ? 0 : XKeysymToKeycode(display, mnemonic);
            if (code == 0)
                continue;
            for (Modifiers lock : locks)
                XtGrabKey(placeholder, code, Mod1Mask | lock, False, GrabModeAsync,
                          GrabModeAsync);
        }
    XtAddEventHandler(placeholder, KeyPressMask, False, MnemonicKey, nullptr);
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
    case kReturn: ActivateFocusedOrDefaultButton(); break;
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
    XtAddCallback(ErrorDialog, XmNunmapCallback, EndAfterFailedInstallation, nullptr);
    XtVaSetValues(toplevel, XmNdeleteResponse, XmDO_NOTHING, nullptr);
    const Atom deleteWindow = XmInternAtom(XtDisplay(toplevel),
                                           const_cast<char*>("WM_DELETE_WINDOW"), False);
    XmAddWMProtocolCallback(toplevel, deleteWindow, CloseWindow, nullptr);
    GrabMnemonicKeys();
}
