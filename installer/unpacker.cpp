// Running tar: started directly (no shell), fed through a pipe, waited for
// without ever blocking the window, and stopped with its whole process
// group when the user cancels.
#include "unpacker.h"

#include "state.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int kPipeCapacity = 1024 * 1024;  // fewer switches to tar
// Xt timers are served at least this often while we wait for tar.
constexpr int kLookMs = 50;

pid_t nUnpackerPid = -1;  // in the wizard also the process group of tar and its children

// Variables that would change what tar unpacks or where it puts it.
bool IsUnpackerOption(const char* variable)
{
    return std::strncmp(variable, "TAR_OPTIONS=", 12) == 0 ||
           std::strncmp(variable, "GZIP=", 5) == 0;
}

std::vector<char*> UnpackerEnvironment()
{
    std::vector<char*> environment;
    for (char** variable = environ; *variable; ++variable)
        if (!IsUnpackerOption(*variable))
            environment.push_back(*variable);
    environment.push_back(nullptr);
    return environment;
}

// Standard input from the pipe, the default actions of the signals we
// change for ourselves, and in the wizard a process group of its own for
// Cancel to stop.  A silent run keeps it in ours, so that an interrupt
// from the terminal stops both.
int Spawn(int input)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, 0);
    posix_spawnattr_init(&attributes);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, (bIsSilent ? 0 : POSIX_SPAWN_SETPGROUP) |
                                              POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    static char tar[] = "tar", extract[] = "-xf", standardInput[] = "-";
    char* argv[] = {tar, extract, standardInput, nullptr};
    std::vector<char*> environment = UnpackerEnvironment();
    const int error = posix_spawnp(&nUnpackerPid, tar, &actions, &attributes, argv,
                                   environment.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        nUnpackerPid = -1;
    return error;
}

// Waits until fd is ready for events, serving the window meanwhile (for a
// while at most, for its timers); in a silent run simply until fd is ready.
void WaitFor(int fd, short events)
{
    if (bIsSilent) {
        pollfd ready{fd, events, 0};
        poll(&ready, 1, -1);
        return;
    }
    ServeWindowEventsNow();
    pollfd ready[2] = {{fd, events, 0}, {ConnectionNumber(XtDisplay(toplevel)), POLLIN, 0}};
    poll(ready, 2, fd < 0 ? 10 : kLookMs);
}

// The child's status once it has ended; a pidfd makes its end something to
// poll for (kernels without one are looked at every 10 ms).
int WaitForChild(pid_t pid)
{
    int status = -1;  // a failure unless waitpid tells otherwise
    if (bIsSilent) {
        while (waitpid(pid, &status, 0) == -1 && errno == EINTR) {
        }
        return status;
    }
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    for (;;) {
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid || (ended == -1 && errno != EINTR))
            break;
        WaitFor(pidfd, POLLIN);
    }
    if (pidfd >= 0)
        close(pidfd);
    return status;
}

}  // namespace

int StartUnpacker(std::string* reason)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        *reason = std::strerror(errno);
        return -1;
    }
    const int error = Spawn(ends[0]);
    close(ends[0]);
    if (error != 0) {
        close(ends[1]);
        *reason = std::strerror(error);
        return -1;
    }
    fcntl(ends[1], F_SETPIPE_SZ, kPipeCapacity);  // the default serves if refused
    fcntl(ends[1], F_SETFL, O_NONBLOCK);
    return ends[1];
}

bool FeedUnpacker(int pipe, const char* data, std::size_t count)
{
    while (count > 0) {
        const ssize_t written = write(pipe, data, count);
        if (written > 0) {
            data += written;
            count -= written;
        } else if (errno == EAGAIN) {
            WaitFor(pipe, POLLOUT);
        } else if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool FinishUnpacker(int pipe)
{
    close(pipe);
    const int status = WaitForChild(nUnpackerPid);
    nUnpackerPid = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Killed at once, in the wizard with its whole group, so that nothing more
// is written.
void StopUnpacking()
{
    if (nUnpackerPid <= 0)
        return;
    kill(bIsSilent ? nUnpackerPid : -nUnpackerPid, SIGKILL);
    waitpid(nUnpackerPid, nullptr, 0);
    nUnpackerPid = -1;
}

// Timers and other sources are served without XtAppNextEvent, which would
// wait for an X event after them.
void ServeWindowEventsNow()
{
    while (const XtInputMask pending = XtAppPending(appContext)) {
        if (pending & XtIMXEvent) {
            XEvent event;
            XtAppNextEvent(appContext, &event);
            XtDispatchEvent(&event);
        } else {
            XtAppProcessEvent(appContext, pending);
        }
    }
}

// Asking the server for events costs two system calls; a look every few
// milliseconds keeps the window as lively.
void ServeWindowEventsSometimes()
{
    static std::chrono::steady_clock::time_point nextLook;
    const auto now = std::chrono::steady_clock::now();
    if (now < nextLook)
        return;
    nextLook = now + std::chrono::milliseconds(5);
    ServeWindowEventsNow();
}
