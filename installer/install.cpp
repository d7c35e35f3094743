// The installation sequence: check the destination and our own file, write
// the product into the destination (all or nothing), and become the player.
//
// Root may well install into a folder other users can write to.  So no
// name is trusted twice: our own file is the one this process runs, and the
// destination is walked once, never through a link that another user
// planted, and used through its descriptor from then on.
#include "descriptor.h"
#include "destination.h"
#include "format.h"
#include "settings.h"
#include "state.h"
#include "writer.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <exception>
#include <optional>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

bool bInstalling = false;  // under way: the copy loop's events may call us again

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

// Why the writer could not begin; empty when it did.
std::string NotBegun(const std::string& destination, Begun begun)
{
    switch (begun) {
    case Begun::kBegun:
        return std::string();
    case Begun::kBusy:
        return FormatText("Another installation into %s is under way.", destination.c_str());
    case Begun::kInterrupted:
        return FormatText("An installation into %s was stopped while it replaced files; the "
                          "earlier files it replaced are kept in %s/%s/old.  Put them back or "
                          "remove %s/%s, then install again.",
                          destination.c_str(), destination.c_str(), kWorkName,
                          destination.c_str(), kWorkName);
    case Begun::kCannotMake:
        return FormatText("Can not make directory %s", destination.c_str());
    case Begun::kCannotEnter:
        return FormatText("Can not change to directory %s", destination.c_str());
    case Begun::kNotWritable:
        break;
    }
    return "You do not have write permission for the destination directory.";
}

// The destination walked once: an existing one must be a folder we may
// write into; for a missing one, the hidden folder beside it that becomes
// it is made.  The writer holds what the walk found from then on.
bool BeginInstallation(const std::string& destination, ProductWriter* writer)
{
    Destination place;
    std::string message;
    switch (WalkDestination(destination, &place, &message)) {
    case Walked::kRefused:
        break;
    case Walked::kFailed:
        message = FormatText("Can not make directory %s", destination.c_str());
        break;
    case Walked::kMissing:
        message = NotBegun(destination, writer->BeginNew(place.parent.get(), place.name));
        break;
    case Walked::kReached:
        message = RefusedDestination(destination, place.folder.get());
        if (message.empty())
            message = NotBegun(destination, writer->BeginExisting(place.folder.get()));
        break;
    }
    if (!message.empty())
        ReportError(message.c_str());
    return message.empty();
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
// started from where it was installed (a file system mounted noexec).  We
// stand in the destination.
void CheckPlayerCanStart(const std::string& destination)
{
    if (faccessat(AT_FDCWD, "ovelo", X_OK, AT_EACCESS) != 0)
        CannotStart(PlayerOf(destination).name, errno);
}

// Earlier files the upgrade would have removed but the user changed.
std::string KeptFiles(const std::string& destination, const ProductWriter& writer)
{
    std::string text;
    for (const std::string& path : writer.Kept())
        text += "\n  " + destination + "/" + path;
    return text.empty() ? text
                        : "These files of the earlier version were changed since; they are kept:" +
                              text;
}

void RunSequence()
{
    bInstallationStarted = false;
    std::string destination = bIsSilent ? pLocation : ChosenDestination();
    if (destination.empty()) {
        ReportError("You must specify a destination directory.");
        return;
    }
    const Descriptor ownFile = OpenOwnFile(pArgv[0]);
    // Held until the player is about to start: one that comes meanwhile
    // ends us then instead.
    std::optional<StopSignalsCaught> signals;
    signals.emplace();
    ProductWriter writer;
    if (!ownFile || !BeginInstallation(destination, &writer))
        return;
    bInstallationStarted = true;
    if (!bIsSilent) {
        XtUnmanageChild(page2form);
        XtManageChild(page3form);
    }
    if (!Extract(destination, &writer, ownFile.get()))
        return;
    // The player starts in the destination.  A relative destination no
    // longer leads to it from there, so the file is then reached as
    // ./ovelo, still under its full name.
    if (fchdir(writer.Folder()) != 0) {
        ReportError(FormatText("Can not change to directory %s", destination.c_str()).c_str());
        return;
    }
    std::string notes = KeptFiles(destination, writer);
    // A silent run starts nothing; the wizard in the terminal ends as the
    // window's does.
    if (bIsSilent && !bInTerminal) {
        if (!notes.empty())
            std::fprintf(stderr, "%s\n", notes.c_str());
        CheckPlayerCanStart(destination);
        return;
    }
    if (!StillLeadsHere(destination)) {
        ReportError(FormatText("The destination %s was replaced by another folder or a link "
                               "after the installation; the player was not started.",
                               destination.c_str()).c_str());
        return;
    }
    // A settings file that could not be written, and files kept, are said
    // first; the player starts once the message is dismissed, or at once in
    // the terminal.
    const std::string settings = WriteSettingsFile(std::getenv("HOME"));
    notes += (notes.empty() || settings.empty() ? "" : "\n\n") + settings;
    if (!notes.empty()) {
        ReportError(notes.c_str());
        if (!bIsSilent) {
            pendingPlayer = destination;
            return;
        }
    }
    signals.reset();
    StartPlayer(destination);
}

}  // namespace

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
