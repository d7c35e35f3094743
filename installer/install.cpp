// The installation sequence: check the destination and our own file, write
// the product into the destination (all or nothing), and become the player.
//
// Root may well install into a folder other users can write to.  So no
// name is trusted twice: our own file is the one this process runs, and the
// destination is walked once, never through a link that another user
// planted, and used through its descriptor from then on.
#include "beneath.h"
#include "descriptor.h"
#include "destination.h"
#include "installer_file.h"
#include "messages.h"
#include "settings.h"
#include "state.h"
#include "writer.h"

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <new>
#include <optional>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

bool bInstalling = false;  // under way: the copy loop's events may call us again

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

// An existing destination, before anything is written into it.  The root
// directory is never one, whatever path led there: the product's files
// would lie among the system's, and its removal would go through them.
Outcome RefusedExisting(const std::string& destination, int folder)
{
    if (IsRootDirectory(folder))
        return Found(Fault::kRootDestination);
    return RefusedDestination(destination, folder);
}

// The destination walked once: an existing one must be a folder we may
// write into; for a missing one, the hidden folder beside it that becomes
// it is made.  The writer holds what the walk found from then on.  A step
// that failed for want of memory or descriptors says so.
bool BeginInstallation(const std::string& destination, ProductWriter* writer)
{
    Destination place;
    Outcome refusal;
    switch (WalkDestination(destination, &place, &refusal)) {
    case Walked::kRefused:
        break;
    case Walked::kFailed:
        refusal = Found(Fault::kCannotMakeDestination, destination, refusal.error);
        break;
    case Walked::kMissing:
        refusal = writer->BeginNew(place.parent.get(), place.name);
        break;
    case Walked::kReached:
        refusal = RefusedExisting(destination, place.folder.get());
        if (refusal.ok())
            refusal = writer->BeginExisting(place.folder.get());
        if (refusal.ok() && writer->RecoveredRun() != Recovered::kNothing)
            ShowWithNextMessage(RecoveryNote(destination, writer->RecoveredRun()));
        break;
    }
    if (!refusal.ok()) {
        refusal.name = destination;
        Report(AsShortage(refusal));
    }
    return refusal.ok();
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
    Report(Found(Fault::kCannotStart, name, error));
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

void RunSequence()
{
    bInstallationStarted = false;
    std::string destination = runMode == RunMode::kWindow ? ChosenDestination() : pLocation;
    if (destination.empty()) {
        Report(Found(Fault::kEmptyDestination));
        return;
    }
    Descriptor ownFile;
    InstallerFile file;
    // Held until the player is about to start: one that comes meanwhile
    // ends us then instead.
    std::optional<StopSignalsCaught> signals;
    signals.emplace();
    ProductWriter writer;
    if (!OpenOwnInstallerFile(&ownFile, &file) || !BeginInstallation(destination, &writer))
        return;
    writer.SetProductVersion(file.productVersion);
    bInstallationStarted = true;
    if (runMode == RunMode::kWindow) {
        XtUnmanageChild(page2form);
        XtManageChild(page3form);
    }
    if (!Extract(destination, &writer, file))
        return;
    // The player starts in the destination.  A relative destination no
    // longer leads to it from there, so the file is then reached as
    // ./ovelo, still under its full name.
    if (fchdir(writer.Folder()) != 0) {
        Report(Found(Fault::kCannotEnter, destination));
        return;
    }
    std::string notes = SavedFilesNote(destination, writer.Saved());
    const std::string kept = KeptFilesNote(destination, writer.Kept());
    notes += (notes.empty() || kept.empty() ? "" : "\n") + kept;
    std::vector<Outcome> notKept;  // a file of the user's left in the work folder
    for (Outcome notRemoved : writer.NotRemoved()) {
        notRemoved.name = destination + "/" + notRemoved.name;
        if (!notRemoved.other.empty())
            notRemoved.other = destination + "/" + notRemoved.other;
        if (notRemoved.fault == Fault::kNotKeptBeside && runMode == RunMode::kSilent)
            notKept.push_back(notRemoved);
        else
            notes += (notes.empty() ? "" : "\n") + Words(notRemoved);
    }
    // A silent run starts nothing; the wizard in the terminal ends as the
    // window's does.  A file of the user's not kept where it belongs fails
    // the run, so that a script sees it: later runs wait for it.
    if (runMode == RunMode::kSilent) {
        if (!notes.empty())
            Show(notes);
        for (const Outcome& file : notKept)
            Report(file);
        CheckPlayerCanStart(destination);
        return;
    }
    if (!StillLeadsHere(destination)) {
        Report(Found(Fault::kReplacedAfterwards, destination));
        return;
    }
    // A settings file that could not be written, files kept, and a killed
    // run recovered are said first; the player starts once the message is
    // dismissed, or at once in the terminal.
    const Outcome settings = WriteSettingsFile(std::getenv("HOME"));
    if (!settings.ok())
        notes += (notes.empty() ? "" : "\n\n") + Words(settings);
    if (!notes.empty() || NoteHeld()) {
        Show(notes);
        if (runMode == RunMode::kWindow) {
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
    } catch (const std::bad_alloc&) {  // the writer, unwound, put everything back
        Report(Found(Fault::kOutOfMemory));
    } catch (const std::exception&) {  // never into the toolkit
        Report(Found(Fault::kUnknownFailure));
    }
    bInstalling = false;
}
