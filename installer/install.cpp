// The installation sequence: check the destination and our own file, make
// the destination if it is missing, unpack into it, and become the player.
//
// Root may well install into a folder other users can write to.  So no
// name is trusted twice: our own file is the one this process runs, and the
// destination is entered through a descriptor, never through a link that
// another user planted, and a folder we made must still be that folder.
#include "format.h"
#include "state.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool bInstalling = false;  // under way: the copy loop's events may call us again

struct stat madeDestination;  // the folder MakeDestination made, while bMadeDestination

// A file descriptor, closed when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&&) = delete;
    ~Descriptor()
    {
        if (fd_ != -1)
            close(fd_);
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ != -1; }

private:
    int fd_;
};

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The text of the combo box's field, copied so that the toolkit's copy can
// be freed at once.
std::string ChosenDestination()
{
    Widget field = nullptr;
    XtVaGetValues(page2dircombobox, "textField", &field, nullptr);
    char* value = nullptr;
    XtVaGetValues(field, XmNvalue, &value, nullptr);
    std::string destination = value ? value : "";
    XtFree(value);
    return destination;
}

Descriptor CannotFind(const char* start)
{
    ReportError(FormatText("unable to find location of executable %s to self-extract.  "
                           "Please run \n%s with an absolute path (e.g. ./%s)\n",
                           start, start, start).c_str());
    return Descriptor();
}

Descriptor CannotRead(const char* start)
{
    ReportError(FormatText("unable to read %s.  Please do chmod 0500 %s and try again\n",
                           start, start).c_str());
    return Descriptor();
}

Descriptor NotRegular(const char* start)
{
    ReportError(FormatText("The installer file %s is not a regular file.", start).c_str());
    return Descriptor();
}

// Our own file, named by the path we were started with: it must exist there
// (it is never looked up in the search path), be a regular file we may read
// and be the very file this process runs.  A bare name found through PATH
// may name another file of that name in the current directory.
Descriptor OpenOwnFile(const char* start)
{
    struct stat named;
    if (stat(start, &named) == -1)
        return CannotFind(start);
    if (!S_ISREG(named.st_mode))
        return NotRegular(start);
    // Non-blocking: a FIFO put in its place since the stat must not hold us.
    Descriptor byPath(open(start, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!byPath)
        return CannotRead(start);
    if (fstat(byPath.get(), &named) == -1 || !S_ISREG(named.st_mode))
        return NotRegular(start);
    Descriptor running(open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
    if (!running && errno == ENOENT) {
        // No /proc, as in a bare chroot.  A start path with a slash is the
        // path exec was given; a bare name may have come from anywhere.
        return std::strchr(start, '/') ? std::move(byPath) : CannotFind(start);
    }
    struct stat runs;
    if (!running || fstat(running.get(), &runs) == -1)
        return CannotRead(start);
    return SameFile(named, runs) ? std::move(running) : CannotFind(start);
}

// "dest/" and "dest/." would follow a link at dest whatever we ask of open.
std::string WithoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool IsTrustedOwner(uid_t owner)
{
    return owner == geteuid() || owner == 0;
}

// Every link on the way to the destination, and the destination itself,
// must be ours or root's: another user's link could send our files anywhere.
bool CheckLinks(const std::string& destination)
{
    const std::string path = WithoutTrailingSlashes(destination);
    std::size_t end = 0;
    do {
        end = path.find('/', end + 1);
        const std::string step = path.substr(0, end);
        struct stat info;
        if (lstat(step.c_str(), &info) == -1 || !S_ISLNK(info.st_mode) ||
            IsTrustedOwner(info.st_uid))
            continue;
        if (end == std::string::npos)
            ReportError(FormatText("The destination %s is a link owned by another user.",
                                   destination.c_str()).c_str());
        else
            ReportError(FormatText("The destination %s lies behind %s, a link owned by "
                                   "another user.", destination.c_str(), step.c_str()).c_str());
        return false;
    } while (end != std::string::npos);
    return true;
}

bool Replaced(const char* destination)
{
    ReportError(FormatText("The destination %s was replaced by another folder or a link "
                           "while it was being installed into; nothing was installed.",
                           destination).c_str());
    return false;
}

// Never writable by others, whatever the umask: anyone could swap the
// player for their own.  mkdir itself never follows a link; from then on
// the new folder is held by a descriptor, and proved writable with a
// short-lived "test" file made inside it exclusively.
bool MakeDestination(const std::string& destination)
{
    if (mkdir(destination.c_str(), 0775) == -1) {
        ReportError(FormatText("Can not make directory %s", destination.c_str()).c_str());
        return false;
    }
    bMadeDestination = true;
    const Descriptor made(open(WithoutTrailingSlashes(destination).c_str(),
                               O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!made || fstat(made.get(), &madeDestination) == -1 ||
        madeDestination.st_uid != geteuid())
        return Replaced(destination.c_str());
    const int fd = openat(made.get(), "test",
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd == -1) {
        ReportError(FormatText("Can not write to directory %s", destination.c_str()).c_str());
        return false;
    }
    close(fd);
    unlinkat(made.get(), "test", 0);
    return true;
}

// An existing destination must be a directory; a missing one is made.
bool PrepareDestination(const std::string& destination)
{
    struct stat info;
    bMadeDestination = false;
    if (stat(destination.c_str(), &info) == -1)
        return MakeDestination(destination);
    if (!S_ISDIR(info.st_mode)) {
        ReportError(FormatText("The destination %s is not a directory.",
                               destination.c_str()).c_str());
        return false;
    }
    return true;
}

bool CheckDestination(const std::string& destination)
{
    if (!CheckLinks(destination) || !PrepareDestination(destination))
        return false;
    if (access(destination.c_str(), W_OK) != 0) {
        ReportError("You do not have write permission for the destination directory.");
        return false;
    }
    return true;
}

// The player is started by its full name (a script sees it as $0), so that
// name must still lead into the folder we unpacked in, not to another user's
// folder swapped in meanwhile.
bool StillLeadsHere(const std::string& destination)
{
    struct stat named;
    struct stat here;
    return destination.front() != '/' ||
           (stat(destination.c_str(), &named) == 0 && stat(".", &here) == 0 &&
            SameFile(named, here));
}

const char kUnknownFailure[] = "Installation failed for unknown reason";

void RunSequence()
{
    bMadeDestination = false;
    std::string destination = bIsSilent ? pLocation : ChosenDestination();
    if (destination.empty()) {
        ReportError("You must specify a destination directory.");
        return;
    }
    const Descriptor ownFile = OpenOwnFile(pArgv[0]);
    if (!ownFile || !CheckDestination(destination))
        return;
    if (!bIsSilent) {
        XtUnmanageChild(page2form);
        XtManageChild(page3form);
    }
    if (!Extract(destination.data(), ownFile.get()) || bIsSilent)
        return;
    // Extract left us in the destination: the player starts there.  A
    // relative destination no longer leads to it from here, so the file is
    // then reached as ./ovelo, still under its full name.
    const std::string player = destination + "/ovelo";
    if (!StillLeadsHere(destination)) {
        ReportError(FormatText("The destination %s was replaced by another folder or a link "
                               "after the installation; the player was not started.",
                               destination.c_str()).c_str());
        return;
    }
    const char* file = destination.front() == '/' ? player.c_str() : "./ovelo";
    execl(file, player.c_str(), "inst", static_cast<char*>(nullptr));
    ReportError(kUnknownFailure);
}

}  // namespace

bool EnterDestination(const char* directory)
{
    const std::string destination = WithoutTrailingSlashes(directory);
    if (!CheckLinks(destination))
        return false;
    // A link left by CheckLinks is ours or root's and is followed, as long
    // as it is still the same link once its folder is open.
    struct stat link;
    const bool isLink = lstat(destination.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    const Descriptor entered(open(destination.c_str(),
                                  O_PATH | O_DIRECTORY | O_CLOEXEC | (isLink ? 0 : O_NOFOLLOW)));
    struct stat info;
    struct stat now;
    if (!entered || fstat(entered.get(), &info) == -1) {
        if (bMadeDestination)
            return Replaced(directory);
        ReportError(FormatText("Can not change to directory %s", directory).c_str());
        return false;
    }
    if (isLink && (lstat(destination.c_str(), &now) == -1 || !SameFile(link, now)))
        return Replaced(directory);
    if (bMadeDestination &&
        (isLink || !SameFile(info, madeDestination) || info.st_uid != geteuid()))
        return Replaced(directory);
    if (fchdir(entered.get()) != 0) {
        ReportError(FormatText("Can not change to directory %s", directory).c_str());
        return false;
    }
    return true;
}

// Called by main in a silent run, and as the activate callback of Finish.
void Install(Widget, XtPointer, XtPointer)
{
    if (bInstalling)
        return;
    bInstalling = true;
    try {
        RunSequence();
    } catch (const std::exception&) {  // never into the toolkit
        ReportError(kUnknownFailure);
    }
    bInstalling = false;
}
