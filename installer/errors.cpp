// The face of the run for its messages: the error dialog in the window,
// standard error everywhere else, behind a progress line when one is drawn.
#include "bytes.h"
#include "messages.h"
#include "progress_line.h"
#include "state.h"

#include <string>
#include <unistd.h>

namespace {

int nReportedStatus = 0;  // of the first failure reported
std::string heldNote;     // said in the dialog before the next message

void ShowInDialog(const std::string& shown)
{
    const std::string text = heldNote + (heldNote.empty() || shown.empty() ? "" : "\n") + shown;
    heldNote.clear();
    SetLabelText(ErrorDialog, XmNmessageString, text);
    XtManageChild(ErrorDialog);
}

}  // namespace

void SayOnStandardError(const std::string& text)
{
    EraseProgressLine();
    const std::string line = text + "\n";
    WriteAll(STDERR_FILENO, line);
}

void Show(const std::string& text)
{
    if (runMode == RunMode::kWindow && ErrorDialog)
        ShowInDialog(text);
    else
        SayOnStandardError(text);
}

void ShowWithNextMessage(const std::string& note)
{
    if (runMode == RunMode::kWindow && ErrorDialog)
        heldNote = note;
    else
        Show(note);
}

bool NoteHeld()
{
    return !heldNote.empty();
}

void Report(const Outcome& outcome, const std::string& more)
{
    if (nReportedStatus == 0)
        nReportedStatus = StatusOf(outcome.fault);
    Show(Words(outcome) + more);
}

int ReportedStatus()
{
    return nReportedStatus;
}
