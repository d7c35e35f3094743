// Start-up: a silent installation when the command line is exactly
// "-s DIRECTORY", the wizard otherwise.
#include "state.h"
#include "toolkit_home.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>

namespace {

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

    // Unmapped while it is built; border, title, window menu and minimize
    // button only (no resize handles, no maximize button).
    {
        const LongHomeHidden hidden;
        toplevel = XtVaAppInitialize(&appContext, "OveloXInstaller", nullptr, 0, &argc,
                                     argv, resources, XtNmappedWhenManaged, False,
                                     XmNmwmDecorations, 58, nullptr);
    }
    // The shell's window is the drawable of the logo pixmap and of the
    // progress graphics context, so it exists before any child.
    XtRealizeWidget(toplevel);

    BuildWindow();
    RegisterCallbacks();
    CreateProgressGraphics();
    XMapWindow(XtDisplay(toplevel), XtWindow(toplevel));

    XtAppMainLoop(appContext);
    return 0;
}
