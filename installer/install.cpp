// The installation sequence: check the destination and our own file, make
// the destination if it is missing, unpack into it, and become the player.
//
// Root may well install into a folder other users can write to.  So no
// name is trusted twice: our own file is the one this process runs, and the
// destination is entered through a descriptor, never through a link that
// another user planted, and a folder we made must still be that folder.
#include "format.h"
#include "settings.h"
#include "state.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

bool bInstalling = false;  // under way: the copy loop's events may call us again

// A file descriptor, closed when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        std::swap(fd_, other.fd_);
        return *this;
    }
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

// The folder MakeDestination made, while bMadeDestination, and its name
// in the folder it was made in.
struct stat madeDestination;
std::string madeName;

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

// What root installs must not be open to anybody else: every folder on the
// way to the destination is root's and, unless sticky, writable by root
// alone; otherwise its owner or its writers could put another folder, or
// their own player, where we install and start it.  An ordinary user
// trusts their own folders as they are.
bool IsSafeOnTheWay(int folder)
{
    struct stat info;
    if (geteuid() != 0)
        return true;
    if (fstat(folder, &info) == -1)
        return false;
    return info.st_uid == 0 && (!(info.st_mode & 022) || (info.st_mode & S_ISVTX));
}

// Why an existing destination may not be installed into; empty when it may.
// Another user's folder is never ours to fill; when root installs, a folder
// others may write into would let them change the product under us.
std::string ForeignDestination(const std::string& destination, const struct stat& info)
{
    if (!IsTrustedOwner(info.st_uid))
        return FormatText("The destination %s belongs to another user.", destination.c_str());
    if (geteuid() == 0 && (info.st_mode & 022))
        return FormatText("The destination %s can be changed by other users.",
                          destination.c_str());
    return std::string();
}

// One name of a path being walked.  Names read from a link stand for the
// link: they end where its name ends in the path as given.
struct Step {
    std::string name;
    std::size_t end;     // where the name this step stands for ends in the path
    bool fromLink;
};

std::deque<Step> Steps(const std::string& path, std::size_t end, bool fromLink)
{
    std::deque<Step> steps;
    std::size_t begin = 0;
    while (begin < path.size()) {
        std::size_t slash = path.find('/', begin);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > begin)
            steps.push_back({path.substr(begin, slash - begin), fromLink ? end : slash, fromLink});
        begin = slash + 1;
    }
    return steps;
}

void ReportForeignLink(const std::string& destination, std::size_t end, bool last)
{
    if (last)
        ReportError(FormatText("The destination %s is a link owned by another user.",
                               destination.c_str()).c_str());
    else
        ReportError(FormatText("The destination %s lies behind %s, a link owned by another "
                               "user.", destination.c_str(),
                               destination.substr(0, end).c_str()).c_str());
}

std::string LinkTarget(int link)
{
    char target[PATH_MAX];
    const ssize_t length = readlinkat(link, "", target, sizeof target);
    return length > 0 && length < PATH_MAX ? std::string(target, length) : std::string();
}

enum class Walked { kReached, kLastMissing, kRefused, kFailed };

// Where a walk ended: what the path leads to, or, when only its last name
// is missing, the folder that name is missing from.  Never both, so that a
// walk holds no more than two descriptors at a time.
struct Place {
    Descriptor reached;
    Descriptor parent;
    std::string name;
};

// Walks the destination from "/" or the current directory a name at a
// time, each opened under the folder before it without following it, so
// that no name is looked up twice.  A link must be ours or root's: it is
// read through its own descriptor, so it is the link whose owner was
// checked, and its target walked in its place.  Another user's link, found
// as the destination or on the way to it, is reported.
Walked Walk(const std::string& destination, Place* place)
{
    const std::string path = WithoutTrailingSlashes(destination);
    std::deque<Step> steps = Steps(path, 0, false);
    Descriptor here(open(path.front() == '/' ? "/" : ".",
                         O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::string hereName = path.front() == '/' ? "/" : ".";
    int linksFollowed = 0;
    while (here && !steps.empty()) {
        if (!IsSafeOnTheWay(here.get())) {
            ReportError(FormatText("The destination %s lies in %s, which can be changed by "
                                   "other users.", destination.c_str(),
                                   hereName.c_str()).c_str());
            return Walked::kRefused;
        }
        const Step step = steps.front();
        steps.pop_front();
        Descriptor next(openat(here.get(), step.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat info;
        if (!next && errno == ENOENT && steps.empty() && !step.fromLink) {
            place->parent = std::move(here);
            place->name = step.name;
            return Walked::kLastMissing;
        }
        if (!next || fstat(next.get(), &info) == -1)
            return Walked::kFailed;
        if (S_ISLNK(info.st_mode)) {
            if (!IsTrustedOwner(info.st_uid)) {
                ReportForeignLink(destination, step.end, step.end == path.size());
                return Walked::kRefused;
            }
            const std::string target = LinkTarget(next.get());
            if (target.empty() || ++linksFollowed > 40)
                return Walked::kFailed;
            const std::deque<Step> inner = Steps(target, step.end, true);
            steps.insert(steps.begin(), inner.begin(), inner.end());
            if (target.front() == '/')
                here = Descriptor(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
            continue;
        }
        if (!steps.empty() && !S_ISDIR(info.st_mode))
            return Walked::kFailed;
        here = std::move(next);
        hereName = destination.substr(0, step.end);
    }
    place->reached = std::move(here);
    return place->reached ? Walked::kReached : Walked::kFailed;
}

bool Replaced(const char* destination)
{
    ReportError(FormatText("The destination %s was replaced by another folder or a link "
                           "while it was being installed into; nothing was installed.",
                           destination).c_str());
    return false;
}

// Never writable by others, whatever the umask: anyone could swap the
// player for their own.  Made and opened under the folder the walk left
// open, so it is our new folder that is held by a descriptor from then on,
// and proved writable with a short-lived "test" file made inside it
// exclusively.
bool MakeDestination(const std::string& destination, Place* place)
{
    // Root's is writable by root alone, as every folder on its way must be.
    const mode_t mode = geteuid() == 0 ? 0755 : 0775;
    if (mkdirat(place->parent.get(), place->name.c_str(), mode) == -1) {
        ReportError(FormatText("Can not make directory %s", destination.c_str()).c_str());
        return false;
    }
    bMadeDestination = true;
    madeName = place->name;
    const Descriptor made(openat(place->parent.get(), madeName.c_str(),
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
    Place place;
    struct stat info;
    switch (Walk(destination, &place)) {
    case Walked::kRefused:
        return false;
    case Walked::kLastMissing:
        return MakeDestination(destination, &place);
    case Walked::kFailed:
        ReportError(FormatText("Can not make directory %s", destination.c_str()).c_str());
        return false;
    case Walked::kReached:
        break;
    }
    if (fstat(place.reached.get(), &info) == -1 || !S_ISDIR(info.st_mode)) {
        ReportError(FormatText("The destination %s is not a directory.",
                               destination.c_str()).c_str());
        return false;
    }
    const std::string foreign = ForeignDestination(destination, info);
    if (!foreign.empty()) {
        ReportError(foreign.c_str());
        return false;
    }
    return true;
}

bool CheckDestination(const std::string& destination)
{
    if (!PrepareDestination(destination))
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

// The player to start once the settings file's message has been read.
std::string pendingPlayer;

// Where the player is started by exec, the file as named and its full
// name, which a script sees as $0.
struct Player {
    std::string file;
    std::string name;
};

Player PlayerOf(const std::string& destination)
{
    const std::string name = destination + "/ovelo";
    return {destination.front() == '/' ? name : "./ovelo", name};
}

void CannotStart(const std::string& name, int error)
{
    ReportError(FormatText("Can not start %s: %s", name.c_str(), std::strerror(error)).c_str());
}

// Becomes the player; reports why it could not when exec returns.
void StartPlayer(const std::string& destination)
{
    const Player player = PlayerOf(destination);
    execl(player.file.c_str(), player.name.c_str(), "inst", static_cast<char*>(nullptr));
    CannotStart(player.name, errno);
}

// A silent run starts nothing, but says so when the player could not be
// started from where it was installed (a file system mounted noexec).
void CheckPlayerCanStart(const std::string& destination)
{
    const Player player = PlayerOf(destination);
    if (faccessat(AT_FDCWD, player.file.c_str(), X_OK, AT_EACCESS) != 0)
        CannotStart(player.name, errno);
}

void RunSequence()
{
    bMadeDestination = false;
    bInstallationStarted = false;
    std::string destination = bIsSilent ? pLocation : ChosenDestination();
    if (destination.empty()) {
        ReportError("You must specify a destination directory.");
        return;
    }
    const Descriptor ownFile = OpenOwnFile(pArgv[0]);
    if (!ownFile || !CheckDestination(destination))
        return;
    bInstallationStarted = true;
    if (!bIsSilent) {
        XtUnmanageChild(page2form);
        XtManageChild(page3form);
    }
    if (!Extract(destination.data(), ownFile.get()))
        return;
    // Extract left us in the destination: the player starts there.  A
    // relative destination no longer leads to it from here, so the file is
    // then reached as ./ovelo, still under its full name.  A silent run
    // starts nothing; the wizard in the terminal ends as the window's does.
    if (bIsSilent && !bInTerminal) {
        CheckPlayerCanStart(destination);
        return;
    }
    if (!StillLeadsHere(destination)) {
        ReportError(FormatText("The destination %s was replaced by another folder or a link "
                               "after the installation; the player was not started.",
                               destination.c_str()).c_str());
        return;
    }
    // A settings file that could not be written is said first; the player
    // starts once the message is dismissed, or at once in the terminal.
    const std::string settings = WriteSettingsFile(std::getenv("HOME"));
    if (!settings.empty()) {
        ReportError(settings.c_str());
        if (!bIsSilent) {
            pendingPlayer = destination;
            return;
        }
    }
    StartPlayer(destination);
}

}  // namespace

bool EnterDestination(const char* directory)
{
    Place place;
    struct stat info;
    const Walked walked = Walk(directory, &place);
    if (walked == Walked::kRefused)
        return false;
    if (walked != Walked::kReached || fstat(place.reached.get(), &info) == -1 ||
        !S_ISDIR(info.st_mode)) {
        if (bMadeDestination)
            return Replaced(directory);
        ReportError(FormatText("Can not change to directory %s", directory).c_str());
        return false;
    }
    if (bMadeDestination && (!SameFile(info, madeDestination) || info.st_uid != geteuid()))
        return Replaced(directory);
    if (fchdir(place.reached.get()) != 0) {
        ReportError(FormatText("Can not change to directory %s", directory).c_str());
        return false;
    }
    return true;
}

// We stand in the folder we made: its parent is ".." from here, whether
// the path given was relative or not.  No descriptor is kept for it from
// the start, as the unpacker's pipe still needs two under a low limit.
void RemoveMadeDestination()
{
    const Descriptor parent(open("..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat now;
    if (bMadeDestination && parent &&
        fstatat(parent.get(), madeName.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        SameFile(now, madeDestination))
        unlinkat(parent.get(), madeName.c_str(), AT_REMOVEDIR);
}

bool StartPendingPlayer()
{
    if (pendingPlayer.empty())
        return false;
    const std::string destination = std::move(pendingPlayer);
    pendingPlayer.clear();
    StartPlayer(destination);
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

int OpenInstallerFile()
{
    const Descriptor own = OpenOwnFile(pArgv[0]);
    return own ? fcntl(own.get(), F_DUPFD_CLOEXEC, 0) : -1;
}
