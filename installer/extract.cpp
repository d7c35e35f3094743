// Unpacking of the payload that follows our executable image in our own
// file, with the progress it makes, and the settings file of the player.
//
// The engine (engine/) finds the payload, checks its seal and hands on the
// archive, checked header by header; here it is fed to tar in the
// destination, while the window shows the progress and stays live.
#include "format.h"
#include "inflate.h"
#include "payload.h"
#include "seal.h"
#include "space.h"
#include "state.h"
#include "tar_filter.h"
#include "terminal.h"
#include "unpacker.h"

#include <csignal>
#include <dirent.h>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

const char kUnpackFailed[] =
    "Installation failed.  Perhaps the destination directory is unwriteable or you\n"
    "are out of disk space?\n";

void IgnoreSignal(int) {}

// One signal's action, changed for as long as the guard lives.
class SignalGuard {
public:
    SignalGuard(int signal, void (*handler)(int)) : signal_(signal)
    {
        struct sigaction action {};
        action.sa_handler = handler;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(signal_, &action, &saved_);
    }
    ~SignalGuard() { sigaction(signal_, &saved_, nullptr); }
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

private:
    int signal_;
    struct sigaction saved_ {};
};

void ReportDamaged(const char* start, const std::string& what)
{
    ReportError(FormatText("The installer file %s is damaged: %s.", start, what.c_str()).c_str());
}

// The window stays live through the checks and shows how far the
// unpacking has come; without it, a terminal shows the progress as a line.
class WindowObserver : public Observer {
public:
    bool KeepGoing() override
    {
        if (!bIsSilent)
            ServeWindowEventsSometimes();
        return true;
    }
    bool Unpacked(std::uint64_t done, std::uint64_t total) override
    {
        fPercentDone = static_cast<float>(static_cast<double>(done) / total * 100.0);
        if (bIsSilent) {
            ShowProgressLine(done, total);
            return true;
        }
        DrawProgressBar(page3progressbar, nullptr, nullptr);
        ServeWindowEventsSometimes();
        return true;
    }
};

// Whether the folder open on fd holds anything (fd is closed).
bool HoldsEntries(int fd)
{
    DIR* folder = fdopendir(fd);
    if (!folder) {
        close(fd);
        return false;
    }
    bool holds = false;
    while (const dirent* entry = readdir(folder))
        holds = holds || (std::strcmp(entry->d_name, ".") != 0 &&
                          std::strcmp(entry->d_name, "..") != 0);
    closedir(folder);
    return holds;
}

// The destination entered: the current directory.
std::string ShortfallHere(const char* directory, const Seal& seal)
{
    const int here = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (here == -1)
        return std::string();
    const std::string shortfall =
        SpaceShortfall(here, directory, seal, HoldsEntries(dup(here)));
    close(here);
    return shortfall;
}

// With a seal, damage and a file system too small are found before
// anything is written, and a destination made for us goes again.
bool SealAllows(int fd, const Payload& payload, const char* start, const char* directory)
{
    std::optional<Seal> seal;
    WindowObserver observer;
    std::string shortfall;
    if (!ReadSeal(fd, payload.start, payload.length, &seal))
        ReportDamaged(start, "its seal can not be read");
    else if (!seal)
        return true;
    else if (!SealHolds(fd, payload, *seal, observer))
        ReportDamaged(start, "its checksum does not match its content");
    else if (!(shortfall = ShortfallHere(directory, *seal)).empty())
        ReportError(shortfall.c_str());
    else
        return true;
    RemoveMadeDestination();
    return false;
}

}  // namespace

namespace {

// Hands tar the checked archive and its end.  False when tar stopped
// reading, or damage was found (*damage says what).
bool Stream(int fd, const Payload& payload, int pipe, std::string* damage)
{
    TarFilter filter;
    WindowObserver observer;
    const Streamed streamed = StreamArchive(
        fd, payload, filter, observer,
        [pipe](const char* data, std::size_t count) { return FeedUnpacker(pipe, data, count); },
        damage);
    if (streamed != Streamed::kComplete)
        return false;
    static const char kEndOfArchive[2 * kTarBlock] = {};
    return FeedUnpacker(pipe, kEndOfArchive, sizeof kEndOfArchive);
}

// Runs tar in the current directory and feeds it the payload.  Reports
// its own failures: a damaged file stops tar where the damage shows.
bool Unpack(int fd, const Payload& payload, const char* start)
{
    // A tar that ends early must turn our writes into EPIPE rather than
    // kill us.  A handler, not SIG_IGN, which tar would inherit.
    const SignalGuard brokenPipe(SIGPIPE, IgnoreSignal);
    // tar must be there to wait for: with SIGCHLD ignored, as whoever
    // started us may have left it, it would be reaped unseen.
    const SignalGuard childEnds(SIGCHLD, SIG_DFL);
    std::string reason;
    const int pipe = StartUnpacker(&reason);
    if (pipe < 0) {
        ReportError(FormatText("Can not start tar: %s", reason.c_str()).c_str());
        return false;
    }
    std::string damage;
    const bool fed = Stream(fd, payload, pipe, &damage);
    if (!damage.empty()) {
        StopUnpacking();
        close(pipe);
        ReportDamaged(start, damage);
        return false;
    }
    if (!FinishUnpacker(pipe) || !fed) {
        ReportError(kUnpackFailed);
        return false;
    }
    return true;
}

}  // namespace

bool Extract(char* directory, int ownFile)
{
    const char* start = pArgv[0];
    const std::optional<Payload> payload = FindPayload(ownFile);
    if (!payload) {
        ReportError(FormatText("The installer file %s is damaged: "
                               "no product archive was found at its end.", start).c_str());
        return false;
    }
    return EnterDestination(directory) && SealAllows(ownFile, *payload, start, directory) &&
           Unpack(ownFile, *payload, start);
}
