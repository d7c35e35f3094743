// The installer's process-wide state and the routines that share it.
//
// Every variable is set once (by main, or by the routine named beside it)
// and lives until the process ends or becomes the installed player.  Only
// in the window are the widgets made: without it every widget stays null,
// and the routines that also run without it test runMode before they
// touch one.
#ifndef OVELO_INSTALLER_STATE_H
#define OVELO_INSTALLER_STATE_H

#include <Xm/Xm.h>

#include "descriptor.h"
#include "outcome.h"

#include <csignal>
#include <string>
#include <vector>

class ProductWriter;
struct InstallerFile;
typedef struct _XftFont XftFont;

// How this run meets its user.
enum class RunMode {
    kWindow,    // the wizard's window: messages in its error dialog
    kTerminal,  // the wizard in the terminal: it ends as the window's does
    kSilent,    // -s DIRECTORY: messages on standard error, nothing started
    kReport,    // --info, --list, --check, --uninstall...: a report, nothing installed
};

// Run mode and command line.
extern RunMode runMode;
extern char* pLocation;        // destination after "-s", the argument itself
extern char** pArgv;           // main's argument vector; [0] is our own file
extern bool bInstallationStarted;  // this run passed the checks: unpacking began

// Toolkit.
extern XtAppContext appContext;
extern Widget toplevel;        // application shell, realized before any child
extern Widget placeholder;     // holds the three pages and dummypopup
extern Widget dummypopup;      // never posted: carries the key accelerators

// Page 1: the licence.
extern Widget page1form, page1logo, page1toplabel, page1bottomlabel;
extern Widget page1scrolledwindow, page1license;
extern Widget page1separator, page1buttons;
extern Widget page1finish, page1accept, page1back, page1cancel;
extern Widget page1default;    // page1accept

// Page 2: the destination.
extern Widget page2form, page2logo, page2frame1, page2dircombobox;
extern Widget page2dirlabel, page2separator, page2buttons;
extern Widget page2finish, page2next, page2back, page2cancel;
extern Widget page2default;    // page2finish

// Page 3: the progress bar.
extern Widget page3form, page3logo, page3progresslabel, page3progressframe;
extern Widget page3progressbar;

extern Widget ErrorDialog;

// Progress painting.
extern GC progressGC;                  // made on the shell's window
extern XFontStruct* pProgressFont;     // the percentage without Xft; null: no match
extern float fPercentDone;             // share of the payload unpacked, 0-100

// Scale and fonts, chosen once the toolkit has opened the display.
extern float fScale;                   // Xft.dpi / 96 to a quarter, 1 at least
extern XftFont* pPercentFont;          // null where fontconfig has no font
void ChooseScaleAndFonts();            // before any widget but the shell
int Scaled(int pixels);                // a length of the 96 dpi layout, scaled

// Fallback resources handed to toolkit initialisation, null-terminated.
extern String resources[];
void UseFontSetForLabels();    // before toolkit initialisation reads them

// Installation sequence: the activate callback of page2finish and of the F key.
void Install(Widget, XtPointer, XtPointer);

// Our own file, named by the path we were started with, opened and read
// as an installer file into *file, its descriptor held by *fd; false
// after the message saying why it could not be.
bool OpenOwnInstallerFile(Descriptor* fd, InstallerFile* file);

// The destinations the wizard offers, in its order, without repeats.
std::vector<std::string> DestinationChoices();

// Unpacks the payload of our own file (opened by Install) with the writer
// Install began for destination.  Reports its own failures; returns false
// when the product is not installed, the destination put back as it was,
// so that the sequence stops there.  After a stop signal it ends the
// installer once the destination is put back.
bool Extract(const std::string& destination, ProductWriter* writer, const InstallerFile& file);

// After the settings file's message in the wizard: starts the player that
// waited for it to be read.  True when there was one (exec failed, and
// that was reported).
bool StartPendingPlayer();

// Puts the destination of an installation under way back as it was at
// once, so that the installer can end; for Cancel and C.
void StopUnpacking();

// While an installation is under way, SIGINT, SIGTERM and SIGHUP only note
// themselves here (0 until one comes); the installation then stops, puts
// the destination back and ends with status 128 + the signal.  SIGXFSZ is
// ignored meanwhile, so that a file size limit fails a write instead.
extern volatile sig_atomic_t nStopSignal;
class StopSignalsCaught {
public:
    StopSignalsCaught();
    ~StopSignalsCaught();
    StopSignalsCaught(const StopSignalsCaught&) = delete;
    StopSignalsCaught& operator=(const StopSignalsCaught&) = delete;

private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction saved_[3];
    struct sigaction savedFileSize_;
};

// FILE --uninstall DIR, without a display: the exit status.
int UninstallProduct(const char* directory);

// The face of the run for messages (errors.cpp), worded by messages.h:
// Report shows the outcome's message, more after it, and keeps its exit
// status when it is the first; Show shows a text that is no failure; both
// in the error dialog in the window, on standard error otherwise.
void Report(const Outcome& outcome, const std::string& more = std::string());
void Show(const std::string& text);
// A note for the window's next message, failure or not, said first in it;
// elsewhere shown at once.  Over the progress page the dialog is the
// installation's end: a note shown there alone would end it when dismissed.
void ShowWithNextMessage(const std::string& note);
bool NoteHeld();  // a note still waits for the window's next message
// Always on standard error, for the ends of a run that leaves its window.
void SayOnStandardError(const std::string& text);
// The exit status of the first failure reported, 0 when none was.
int ReportedStatus();

// Paints the progress bar: the expose callback of page3progressbar, and
// called by Extract as the unpacking goes on, with null client and call
// data.
void DrawProgressBar(Widget bar, XtPointer, XtPointer call_data);

// The wizard: builds every widget of the window under the realized shell,
// wires the buttons and keys, and makes the progress graphics context.
void BuildWindow();
void RegisterCallbacks();
void CreateProgressGraphics();
// The window's properties for the window manager, just before it is mapped.
void PrepareWindowForMapping();
// A label's text (resource: XmNlabelString, XmNmessageString), a line
// break for each newline.
void SetLabelText(Widget label, const char* resource, const std::string& text);

// The callback of the accelerator items of dummypopup; client data = index.
void AcceleratorDispatch(Widget, XtPointer client_data, XtPointer);

#endif
