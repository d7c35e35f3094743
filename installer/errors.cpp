// Failure reports: the error dialog in the wizard, standard error when silent.
#include "state.h"
#include "terminal.h"

#include <cstdio>

int nErrorsReported = 0;

void ReportError(const char* text)
{
    ++nErrorsReported;
    if (bIsSilent) {
        EraseProgressLine();
        std::fprintf(stderr, "%s\n", text);
        return;
    }
    // Each newline of the text becomes a line break in the dialog.
    XmString message = XmStringCreateLtoR(const_cast<char*>(text),
                                          const_cast<char*>(XmFONTLIST_DEFAULT_TAG));
    XtVaSetValues(ErrorDialog, XmNmessageString, message, nullptr);
    XmStringFree(message);
    XtManageChild(ErrorDialog);
}
