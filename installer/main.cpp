// Start-up: a silent installation when the command line is exactly
// "-s DIRECTORY", the wizard otherwise.
#include "state.h"
#include "toolkit_home.h"

#include <Xm/XmP.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

namespace {

// The toolkit's own warning handler, which ours hands warnings on to.
XtErrorMsgHandler toolkitWarning = nullptr;

// A standard descriptor left closed by whoever started us would be taken
// by the next file we open, and tar inherits them: each closed one gets
// /dev/null.
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

bool IsSilentCommandLine(int argc, char** argv)
{
    return argc == 3 && std::strcmp(argv[1], "-s") == 0;
}

// Never returns: exits 0 when the product was installed, 1 after a reported failure.
[[noreturn]] void InstallSilently(char* destination)
{
    bIsSilent = 1;
    pLocation = destination;
    Install(nullptr, nullptr, nullptr);
    std::exit(nErrorsReported == 0 ? 0 : 1);
}

}  // namespace

int main(int argc, char** argv)
{
    pArgv = argv;
    OpenStandardDescriptors();
    // Decided on the command line as we received it, before the toolkit
    // takes its own options out of it.
    if (IsSilentCommandLine(argc, argv))
        InstallSilently(argv[2]);

    XtSetLanguageProc(nullptr, SetLocaleFromEnvironment, nullptr);
    // Unmapped while it is built; border, title, window menu and minimize
    // button only (no resize handles, no maximize button).
    {
        const LongHomeHidden hidden;
        toplevel = XtVaAppInitialize(&appContext, "OveloXInstaller", nullptr, 0, &argc,
                                     argv, resources, XtNmappedWhenManaged, False,
                                     XmNmwmDecorations, 58, nullptr);
        // Motif looks for the home directory at start-up only when the
        // display has no key bindings yet (an earlier Motif client leaves
        // them on the root window); otherwise at its first icon lookup,
        // with HOME back.  Asked now, it keeps what it finds here.
        XmeGetHomeDirName();
    }
    toolkitWarning = XtAppSetWarningMsgHandler(appContext, WarnUnlessMissingCharsets);
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
