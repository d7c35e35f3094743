// Unpacking of the payload that follows our executable image in our own
// file, with the progress it makes.
//
// The engine (engine/) finds the payload, checks its seal, hands on the
// archive checked header by header and writes it; here the window shows
// the progress and stays live, and an interrupt or Cancel puts the
// destination back as it was.
#include "inflate.h"
#include "installer_file.h"
#include "messages.h"
#include "progress_line.h"
#include "space.h"
#include "state.h"
#include "tar_filter.h"
#include "writer.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iterator>
#include <string>

namespace {

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

// True at most once every interval, measured from *next on.
bool Due(std::chrono::steady_clock::time_point* next, std::chrono::milliseconds interval)
{
    const auto now = std::chrono::steady_clock::now();
    if (now < *next)
        return false;
    *next = now + interval;
    return true;
}

// Asking the server for events costs two system calls; a look every few
// milliseconds keeps the window as lively.
void ServeWindowEventsSometimes()
{
    static std::chrono::steady_clock::time_point nextLook;
    if (Due(&nextLook, std::chrono::milliseconds(5)))
        ServeWindowEventsNow();
}

// Each painting is work for the X server too, which shares the processors
// with the unpacking: the bar moves at most 50 times a second, smooth to
// the eye.  The last painting, at the end, is never skipped.
bool TimeToPaint()
{
    static std::chrono::steady_clock::time_point nextPaint;
    return Due(&nextPaint, std::chrono::milliseconds(20));
}

// The window stays live through the checks and shows how far the
// unpacking has come; without it, a terminal shows the progress as a line.
// Both stop on a signal.
class RunObserver : public Observer {
public:
    bool KeepGoing() override
    {
        if (runMode == RunMode::kWindow)
            ServeWindowEventsSometimes();
        return nStopSignal == 0;
    }
    bool Unpacked(std::uint64_t done, std::uint64_t total) override
    {
        fPercentDone = static_cast<float>(static_cast<double>(done) / total * 100.0);
        if (runMode == RunMode::kWindow) {
            if (done >= total || TimeToPaint())
                DrawProgressBar(page3progressbar, nullptr, nullptr);
            ServeWindowEventsSometimes();
        } else {
            ShowProgressLine(done, total);
        }
        return nStopSignal == 0;
    }
};

// With a seal, damage and a file system too small are found before
// anything is written.
bool SealAllows(const InstallerFile& file, const std::string& destination,
                const ProductWriter& writer)
{
    RunObserver observer;
    Outcome found = CheckSealedChecksum(file, observer);
    if (found.ok() && file.seal)
        found = SpaceShortfall(writer.Folder(), destination, *file.seal, writer.HeldFiles());
    if (!found.ok() && found.fault != Fault::kStopped)
        Report(found);
    return found.ok();
}

// Writes the checked archive and puts it in place.  Reports its own
// failures; a signal is not one.  A signal that comes before the entries
// start moving into place stops the installation; once they move, the
// installation is finished, and the caller ends after it.
bool Unpack(const InstallerFile& file, const std::string& destination, ProductWriter* writer)
{
    TarFilter filter;
    filter.onEntry = [writer](const ArchiveEntry& entry) { writer->Announce(entry); };
    RunObserver observer;
    Outcome damage;
    const Streamed streamed = StreamArchive(
        file, filter, observer,
        [writer](const char* data, std::size_t count) { return writer->Take(data, count); },
        &damage);
    if (streamed == Streamed::kDamaged)
        Report(damage);
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
        Report(Found(Fault::kAppeared, destination));
        return false;
    }
    Outcome failure = AsShortage(writer->Failure());
    failure.other = destination;  // the folders it names lie in it
    Report(failure, writer->LeftBehind() ? Words(Found(Fault::kNotPutBack, destination)) : "");
    return false;
}

// Put back (or, once the entries were moving into place, installed), then
// ended as the signal asked, with its conventional status.
[[noreturn]] void EndAfterSignal(const std::string& destination, const ProductWriter& writer,
                                 bool installed)
{
    if (installed)
        SayOnStandardError(Words(Found(Fault::kStoppedInstalled, destination)));
    else if (writer.LeftBehind())
        SayOnStandardError(Words(Found(Fault::kStoppedNotPutBack, destination)));
    else if (runMode != RunMode::kWindow)
        SayOnStandardError(Words(Found(Fault::kStoppedPutBack, destination)));
    std::exit(128 + nStopSignal);
}

// Cancel reaches the installation while it is under way, and never after,
// however Extract is left (an exception unwinds to the writer's owner,
// which puts everything back).
class UnderWay {
public:
    UnderWay(ProductWriter* writer, const std::string& destination)
    {
        pActiveWriter = writer;
        activeDestination = destination;
    }
    ~UnderWay() { pActiveWriter = nullptr; }
    UnderWay(const UnderWay&) = delete;
    UnderWay& operator=(const UnderWay&) = delete;
};

}  // namespace

bool Extract(const std::string& destination, ProductWriter* writer, const InstallerFile& file)
{
    bool installed = false;
    {
        const UnderWay underWay(writer, destination);
        installed = SealAllows(file, destination, *writer) && Unpack(file, destination, writer);
    }
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
            SayOnStandardError(Words(Found(Fault::kNotPutBack, activeDestination)));
    }
    pActiveWriter = nullptr;
}
