// Unpacking in the wizard keeps serving the toolkit while it copies: a timer
// that falls due when no X event is coming must not stall the copy loop.
#include <gtest/gtest.h>  // before the X headers and their macros

#include "TestSupport.h"
#include "installer_file.h"
#include "state.h"
#include "writer.h"

#include <Xm/DrawingA.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

int nTimerCalls = 0;
bool bServedInTheCheck = false;  // before the first byte was unpacked

void CountTimer(XtPointer, XtIntervalId*)
{
    ++nTimerCalls;
    bServedInTheCheck = fPercentDone == 0.0f;
}

void DispatchQueuedEvents()
{
    XSync(XtDisplay(toplevel), False);
    while (XtAppPending(appContext) & XtIMXEvent) {
        XEvent event;
        XtAppNextEvent(appContext, &event);
        XtDispatchEvent(&event);
    }
}

// Run in a child: a progress bar on the screen, every X event handled, a
// timer due at once, then the copy loop.  0 when the tree was unpacked and
// the timer served already while the seal was checked, as a Cancel is.
int UnpackWithTimerDue(std::string installer, std::string destination)
{
    static char name[] = "extract-events-test";
    int argc = 1;
    char* argv[] = {name, nullptr};
    toplevel = XtVaAppInitialize(&appContext, "OveloXInstaller", nullptr, 0, &argc, argv,
                                 nullptr, nullptr);
    page3progressbar = XtVaCreateManagedWidget("page3progressbar", xmDrawingAreaWidgetClass,
                                               toplevel, XmNwidth, 200, XmNheight, 30, nullptr);
    XtRealizeWidget(toplevel);
    progressGC = XCreateGC(XtDisplay(toplevel), XtWindow(toplevel), 0, nullptr);
    DispatchQueuedEvents();

    XtAppAddTimeOut(appContext, 0, CountTimer, nullptr);
    char* start[] = {installer.data(), nullptr};
    pArgv = start;
    ProductWriter writer;
    if (!writer.BeginExisting(open(destination.c_str(), O_RDONLY | O_DIRECTORY)).ok())
        return 1;
    InstallerFile file;
    if (!ReadInstallerFile(open(installer.c_str(), O_RDONLY), &file).ok())
        return 1;
    const bool unpacked = Extract(destination, &writer, file);
    return unpacked && nTimerCalls == 1 && bServedInTheCheck ? 0 : 1;
}

}  // namespace

TEST(ExtractInTheWizard, ServesATimerDueWhileNoXEventComes)
{
    const ScratchDir scratch("ovelo8-events");
    ASSERT_FALSE(scratch.path().empty());
    const fs::path destination = scratch / "dest";
    fs::create_directory(destination);

    const pid_t pid = fork();
    ASSERT_NE(pid, -1);
    if (pid == 0) {
        setenv("HOME", scratch.path().c_str(), 1);
        _exit(UnpackWithTimerDue(SAMPLE_INSTALLER, destination.string()));
    }
    int status = 0;
    bool ended = false;
    for (int tries = 0; tries < 200 && !ended; ++tries) {
        ended = waitpid(pid, &status, WNOHANG) == pid;
        if (!ended)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    ASSERT_TRUE(ended) << "the copy loop waits for an X event that never comes";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(fs::is_regular_file(destination / "ovelo"));
}
