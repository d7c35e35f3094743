// Start-up: the command lines of options.cpp (a silent installation with
// exactly "-s DIRECTORY", an uninstall with "--uninstall DIRECTORY"), the
// wizard otherwise: in its window, or in the terminal when no display can
// be opened.
#include "messages.h"
#include "options.h"
#include "state.h"
#include "terminal.h"
#include "toolkit_home.h"

#include <Xm/XmP.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

// The toolkit's own warning handler, which ours hands warnings on to.
XtErrorMsgHandler toolkitWarning = nullptr;

// A standard descriptor left closed by whoever started us would be taken
// by the next file we open, and our messages would go into it: each closed
// one gets /dev/null.
void OpenStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1)
            open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);  // the lowest free: fd
    }
}

bool IsPlainLocale(const char* name)
{
    return std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0;
}

// The toolkit's language procedure: the locale named by the environment
// (or by the xnlLanguage resource), so that typed text and the names built
// from HOME are read in the user's encoding.  Where Xlib cannot serve that
// locale, as on a machine without the X locale files, the program quietly
// stays in C, as the toolkit's own procedure would after a warning.  It
// runs before the fallback resources are read.
String SetLocaleFromEnvironment(Display*, String language, XtPointer)
{
    if (!std::setlocale(LC_ALL, language) || !XSupportsLocale())
        std::setlocale(LC_ALL, "C");
    XSetLocaleModifiers("");
    // The character set is LC_CTYPE's alone, whatever the other categories say.
    if (!IsPlainLocale(std::setlocale(LC_CTYPE, nullptr)))
        UseFontSetForLabels();
    return std::setlocale(LC_ALL, nullptr);
}

// The labels are drawn with a font set, so that names read in the locale's
// encoding show as such.  In a locale of many character sets (UTF-8) a
// server may lack fonts for some (one with its built-in fonts only has
// Latin-1 alone); the set takes every one there is, so the warning that
// lists the others is left out.
void WarnUnlessMissingCharsets(String name, String type, String cls, String text,
                               String* params, Cardinal* count)
{
    if (std::strcmp(name, "missingCharsetList") != 0)
        toolkitWarning(name, type, cls, text, params, count);
}

// While the toolkit starts, and no longer: a run that goes on in the
// terminal needs HOME back.
std::optional<LongHomeHidden> longHomeHidden;

// The toolkit's message, in its own wording and form.
void PrintToolkitError(String text, String* params, Cardinal* count)
{
    std::string message = text;
    const std::size_t slot = message.find("%s");
    if (slot != std::string::npos)
        message.replace(slot, 2, params && count && *count > 0 ? Shown(params[0]) : "");
    SayOnStandardError("Error: " + message);
}

// Without a display the toolkit reports it and ends the process; its start
// cannot be resumed, so the run goes on from here and never returns: in the
// terminal when someone at it can answer, otherwise with the toolkit's
// message and a word on the ways that need no display.  Standard input is
// not read then.  Any other error is left to the toolkit.
[[noreturn]] void ContinueWithoutDisplay(String name, String type, String cls, String text,
                                         String* params, Cardinal* count)
{
    if (std::strcmp(name, "invalidDisplay") != 0) {
        XtSetErrorMsgHandler(nullptr);
        XtErrorMsg(name, type, cls, text, params, count);  // ends the process
    }
    longHomeHidden.reset();
    runMode = RunMode::kReport;  // no window to show a message in
    if (isatty(STDIN_FILENO) && isatty(STDOUT_FILENO)) {
        Show(Words(Found(Fault::kNoDisplayTerminal)));
        std::exit(RunTerminalWizard());
    }
    PrintToolkitError(text, params, count);
    Report(Found(Fault::kNoDisplay));
    std::exit(ReportedStatus());
}

}  // namespace

int main(int argc, char** argv)
{
    pArgv = argv;
    OpenStandardDescriptors();
    // Names are shown in the user's encoding (Shown), so the runs without
    // a window read it from the environment too; the window's language
    // procedure sets the whole locale later.
    std::setlocale(LC_CTYPE, "");
    // Decided on the command line as we received it, before the toolkit
    // takes its own options out of it.
    if (const std::optional<int> status = RunCommandLineOption(argc, argv))
        return *status;

    XtSetLanguageProc(nullptr, SetLocaleFromEnvironment, nullptr);
    // The toolkit's error handlers are process-wide, so this one is in
    // place before there is an application context.
    XtSetErrorMsgHandler(ContinueWithoutDisplay);
    // Unmapped while it is built; border, title, window menu and minimize
    // button only (no resize handles, no maximize button).
    longHomeHidden.emplace();
    toplevel = XtVaAppInitialize(&appContext, "OveloXInstaller", nullptr, 0, &argc,
                                 argv, resources, XtNmappedWhenManaged, False,
                                 XmNmwmDecorations, 58, nullptr);
    XtSetErrorMsgHandler(nullptr);
    // Motif looks for the home directory at start-up only when the
    // display has no key bindings yet (an earlier Motif client leaves
    // them on the root window); otherwise at its first icon lookup,
    // with HOME back.  Asked now, it keeps what it finds here.
    XmeGetHomeDirName();
    longHomeHidden.reset();
    toolkitWarning = XtAppSetWarningMsgHandler(appContext, WarnUnlessMissingCharsets);
    ChooseScaleAndFonts();
    // The shell's window is the drawable of the logo pixmap and of the
    // progress graphics context, so it exists before any child.
    XtRealizeWidget(toplevel);

    BuildWindow();
    RegisterCallbacks();
    CreateProgressGraphics();
    PrepareWindowForMapping();
    XMapWindow(XtDisplay(toplevel), XtWindow(toplevel));

    XtAppMainLoop(appContext);
    return 0;
}
