// Unpacking of the payload that follows our executable image in our own
// file, with the progress it makes.
//
// The engine (engine/) finds the payload, checks its seal, hands on the
// archive checked header by header and writes it; here the window shows
// the progress and stays live, and an interrupt or Cancel puts the
// destination back as it was.
#include "format.h"
#include "inflate.h"
#include "payload.h"
#include "seal.h"
#include "space.h"
#include "state.h"
#include "tar_filter.h"
#include "terminal.h"
#include "writer.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>

namespace {

const char kUnpackFailed[] =
    "Installation failed.  Perhaps the destination directory is unwriteable or you\n"
    "are out of disk space?\n";

// The installation under way, for Cancel to put back, and its destination
// as the user gave it.
ProductWriter* pActiveWriter = nullptr;
std::string activeDestination;

void NoteStopSignal(int signal)
{
    nStopSignal = signal;
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

// Where a rollback could not put everything back, and what to do.
std::string NotPutBack(const std::string& shown)
{
    return FormatText("Not everything in %s could be put back as it was; the earlier files "
                      "that could not are kept in %s/%s/old.",
                      shown.c_str(), shown.c_str(), kWorkName);
}

void ReportDamaged(const char* start, const std::string& what)
{
    ReportError(FormatText("The installer file %s is damaged: %s.", start, what.c_str()).c_str());
}

// The window stays live through the checks and shows how far the
// unpacking has come; without it, a terminal shows the progress as a line.
// Both stop on a signal.
class WindowObserver : public Observer {
public:
    bool KeepGoing() override
    {
        if (!bIsSilent)
            ServeWindowEventsSometimes();
        return nStopSignal == 0;
    }
    bool Unpacked(std::uint64_t done, std::uint64_t total) override
    {
        fPercentDone = static_cast<float>(static_cast<double>(done) / total * 100.0);
        if (bIsSilent) {
            ShowProgressLine(done, total);
        } else {
            DrawProgressBar(page3progressbar, nullptr, nullptr);
            ServeWindowEventsSometimes();
        }
        return nStopSignal == 0;
    }
};

// With a seal, damage and a file system too small are found before
// anything is written.
bool SealAllows(int fd, const Payload& payload, const char* start, const std::string& shown,
                const ProductWriter& writer)
{
    std::optional<Seal> seal;
    WindowObserver observer;
    std::string shortfall;
    if (!ReadSeal(fd, payload.start, payload.length, &seal))
        ReportDamaged(start, "its seal can not be read");
    else if (!seal)
        return true;
    else if (!SealHolds(fd, payload, *seal, observer)) {
        if (nStopSignal == 0)
            ReportDamaged(start, "its checksum does not match its content");
    } else if (!(shortfall = SpaceShortfall(writer.Folder(), shown, *seal, writer.HeldFiles()))
                    .empty())
        ReportError(shortfall.c_str());
    else
        return true;
    return false;
}

// Writes the checked archive and puts it in place.  Reports its own
// failures; a signal is not one.  A signal that comes before the entries
// start moving into place stops the installation; once they move, the
// installation is finished, and the caller ends after it.
bool Unpack(int fd, const Payload& payload, const char* start, const std::string& shown,
            ProductWriter* writer)
{
    TarFilter filter;
    filter.onEntry = [writer](const ArchiveEntry& entry) { writer->Announce(entry); };
    WindowObserver observer;
    std::string damage;
    const Streamed streamed = StreamArchive(
        fd, payload, filter, observer,
        [writer](const char* data, std::size_t count) { return writer->Take(data, count); },
        &damage);
    if (streamed == Streamed::kDamaged)
        ReportDamaged(start, damage);
    if (streamed != Streamed::kComplete && streamed != Streamed::kRefused)
        return false;
    // Looked at again once Ready has made everything durable: a signal
    // during that step still puts everything back, one after it does not.
    if (streamed == Streamed::kComplete && nStopSignal == 0 && writer->Ready() &&
        nStopSignal == 0 && writer->Finish())
        return true;
    if (nStopSignal != 0)
        return false;
    if (writer->Appeared()) {
        ReportError(FormatText("The destination %s appeared while it was being installed; "
                               "nothing was installed.", shown.c_str()).c_str());
        return false;
    }
    const std::string failure = writer->Failure() + "\n" + kUnpackFailed;
    ReportError(writer->LeftBehind() ? (failure + NotPutBack(shown)).c_str() : failure.c_str());
    return false;
}

// Put back (or, once the entries were moving into place, installed), then
// ended as the signal asked, with its conventional status.
[[noreturn]] void EndAfterSignal(const std::string& shown, const ProductWriter& writer,
                                 bool installed)
{
    if (bIsSilent)
        EraseProgressLine();
    if (installed)
        std::fprintf(stderr, "Interrupted: %s was installed, nothing more was done.\n",
                     shown.c_str());
    else if (writer.LeftBehind())
        std::fprintf(stderr, "Interrupted: %s\n", NotPutBack(shown).c_str());
    else if (bIsSilent)
        std::fprintf(stderr, "Interrupted: %s was left as it was.\n", shown.c_str());
    std::exit(128 + nStopSignal);
}

}  // namespace

bool Extract(const std::string& destination, ProductWriter* writer, int ownFile)
{
    const char* start = pArgv[0];
    const std::optional<Payload> payload = FindPayload(ownFile);
    if (!payload) {
        ReportError(FormatText("The installer file %s is damaged: "
                               "no product archive was found at its end.", start).c_str());
        return false;
    }
    pActiveWriter = writer;
    activeDestination = destination;
    const bool installed = SealAllows(ownFile, *payload, start, destination, *writer) &&
                           Unpack(ownFile, *payload, start, destination, writer);
    pActiveWriter = nullptr;
    if (!installed)
        writer->RollBack();
    if (nStopSignal != 0)
        EndAfterSignal(destination, *writer, installed);
    return installed;
}

volatile sig_atomic_t nStopSignal = 0;

StopSignalsCaught::StopSignalsCaught()
{
    struct sigaction action {};
    action.sa_handler = NoteStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    // A signal whoever started us ignores (nohup, a job in the background)
    // stays ignored: it was not meant to stop anything.
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        if (sigaction(kSignals[i], nullptr, &saved_[i]) == 0 && saved_[i].sa_handler != SIG_IGN)
            sigaction(kSignals[i], &action, nullptr);
    // A file size limit must fail the write, which is put back, rather
    // than end us half way.
    action.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &action, &savedFileSize_);
}

// A signal noted after the installation had nothing left to stop takes
// effect now, as it would have without us: the player is never started
// after it.
StopSignalsCaught::~StopSignalsCaught()
{
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        sigaction(kSignals[i], &saved_[i], nullptr);
    sigaction(SIGXFSZ, &savedFileSize_, nullptr);
    if (nStopSignal != 0)
        raise(nStopSignal);
}

void StopUnpacking()
{
    if (pActiveWriter) {
        pActiveWriter->RollBack();
        if (pActiveWriter->LeftBehind())
            std::fprintf(stderr, "%s\n", NotPutBack(activeDestination).c_str());
    }
    pActiveWriter = nullptr;
}
