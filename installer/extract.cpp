// Unpacking of the payload that follows our executable image in our own
// file, with the progress it makes, and the settings file of the player.
//
// Layout of the file's end: the payload (one gzip member of a tar archive),
// then a trailer of a newline, the payload's length in decimal and a newline.
#include "format.h"
#include "state.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kBlockSize = 1024;    // progress is counted per block
constexpr std::size_t kStreamBuffer = 256 * 1024;  // bytes per read or write call
constexpr int kPipeCapacity = 1024 * 1024;
static_assert(sizeof(off_t) >= 8, "payloads of 2 GiB and more need 64-bit file offsets");

const char kUnpackFailed[] =
    "Installation failed.  Perhaps the destination directory is unwriteable or you\n"
    "are out of disk space?\n";

// Run by sh in the destination.  A pipeline's status is its last command's,
// and tar may well read a damaged stream to a clean end, so gunzip's status
// must count too: it is written on descriptor 3, which the command
// substitution captures, while tar writes to the shell's own output, kept
// on descriptor 4.  Neither command gets 3 or 4 itself.  A failing tar ends
// the script with its status ("|| exit"); otherwise gunzip's status is the
// script's.  The archive's first member is "." itself: tar must leave the
// mode and owner of a directory that exists already (the destination
// above all, which may be someone's private or a shared directory) alone.
const char kUnpackCommand[] =
    "exec 4>&1\n"
    "gunzip_status=$( { { gunzip 3>&- 4>&-; echo $? >&3; } |"
    " tar xf - --no-overwrite-dir 3>&- >&4 4>&-; } 3>&1 ) || exit\n"
    "exit \"$gunzip_status\"\n";

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

struct Payload {
    off_t start;
    off_t length;
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// Decimal digits, perhaps between blanks; no sign, no other base, no zero.
std::optional<off_t> ParseLength(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    const std::size_t first = i;
    off_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > (std::numeric_limits<off_t>::max() - 9) / 10)
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    const std::size_t digits = i - first;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    if (digits == 0 || i != text.size() || value == 0)
        return std::nullopt;
    return value;
}

// Reads the trailer from the last 1,024 bytes of the file: the last byte
// closes it, the nearest newline before that opens it.  Nothing when the
// trailer is missing or names more payload than the file holds.
std::optional<Payload> FindPayload(FILE* file)
{
    if (fseeko(file, 0, SEEK_END) != 0)
        return std::nullopt;
    const off_t size = ftello(file);
    const off_t tail = std::min<off_t>(size, kBlockSize);
    char block[kBlockSize];
    if (tail < 2 || fseeko(file, size - tail, SEEK_SET) != 0 ||
        std::fread(block, 1, tail, file) != static_cast<std::size_t>(tail))
        return std::nullopt;
    const std::string_view text(block, tail - 1);
    const std::size_t opening = text.rfind('\n');
    if (opening == std::string_view::npos)
        return std::nullopt;
    const std::optional<off_t> length = ParseLength(text.substr(opening + 1));
    const off_t trailer = tail - static_cast<off_t>(opening);
    if (!length || *length > size - trailer)
        return std::nullopt;
    return Payload{size - trailer - *length, *length};
}

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

// Asking the server for events costs two system calls, a thousand times
// per megabyte; a look every few milliseconds keeps the window as lively.
constexpr auto kEventInterval = std::chrono::milliseconds(5);

// Keeps the window alive during the copy.  Timers and other sources are
// served without XtAppNextEvent, which would wait for an X event after them.
// The last block is always followed by a look, which shows the full bar.
void ShowProgress()
{
    static std::chrono::steady_clock::time_point nextLook;
    DrawProgressBar(page3progressbar, nullptr, nullptr);
    const auto now = std::chrono::steady_clock::now();
    if (now < nextLook && fPercentDone < 100.0f)
        return;
    nextLook = now + kEventInterval;
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

// Hands exactly the payload's bytes to the pipe, block by block, and reads
// on to the end of the file (the trailer is dropped).  False when anything
// short of the whole payload reached the pipe.
bool CopyPayload(FILE* file, FILE* pipe, off_t length)
{
    char block[kBlockSize];
    off_t written = 0;
    std::size_t count;
    while ((count = std::fread(block, 1, sizeof block, file)) > 0) {
        const std::size_t k = std::min<off_t>(count, length - written);
        if (k > 0 && std::fwrite(block, 1, k, pipe) != k)
            return false;
        written += k;
        fPercentDone = static_cast<float>(static_cast<double>(written) / length * 100.0);
        if (!bIsSilent)
            ShowProgress();
    }
    return !std::ferror(file) && written == length && std::fflush(pipe) == 0;
}

// Runs the unpacker in the current directory and feeds it the payload.
bool Unpack(FILE* file, off_t length)
{
    // An unpacker that ends early must turn our writes into EPIPE rather
    // than kill us.  A handler, not SIG_IGN: exec resets a handler, so
    // gunzip, tar and the player still start with the default.
    const SignalGuard brokenPipe(SIGPIPE, IgnoreSignal);
    // pclose must find its child to wait for: with SIGCHLD ignored, as
    // whoever started us may have left it, the child is reaped unseen and
    // a sound unpacking would count as failed.
    const SignalGuard childEnds(SIGCHLD, SIG_DFL);
    FILE* pipe = popen(kUnpackCommand, "we");
    if (!pipe)
        return false;
    std::vector<char> buffer(kStreamBuffer);
    std::setvbuf(pipe, buffer.data(), _IOFBF, buffer.size());
    // Fewer switches to gunzip; the default capacity serves if refused.
    fcntl(fileno(pipe), F_SETPIPE_SZ, kPipeCapacity);
    const bool copied = CopyPayload(file, pipe, length);
    return pclose(pipe) == 0 && copied;
}

// The two lines the installed player reads its bandwidth from.
void WriteSettings()
{
    const char* home = std::getenv("HOME");
    if (!home)
        return;
    const std::string path = std::string(home) + "/" + ".Quorvex_ZembraSDK_60";
    const File settings(std::fopen(path.c_str(), "we"));
    if (!settings)
        return;
    std::fputs("Bandwidth=10485800\n", settings.get());
    std::fputs("MaxBandwidth=10485800\n", settings.get());
}

}  // namespace

bool Extract(char* directory, int ownFile)
{
    const char* start = pArgv[0];
    std::vector<char> buffer(kStreamBuffer);
    File file(fdopen(fcntl(ownFile, F_DUPFD_CLOEXEC, 0), "rb"));
    if (!file) {
        ReportError(kUnpackFailed);
        return false;
    }
    std::setvbuf(file.get(), buffer.data(), _IOFBF, buffer.size());
    const std::optional<Payload> payload = FindPayload(file.get());
    if (!payload) {
        ReportError(FormatText("The installer file %s is damaged: "
                               "no product archive was found at its end.", start).c_str());
        return false;
    }
    if (!EnterDestination(directory))
        return false;
    if (fseeko(file.get(), payload->start, SEEK_SET) != 0 ||
        !Unpack(file.get(), payload->length)) {
        ReportError(kUnpackFailed);
        return false;
    }
    file.reset();
    if (!bIsSilent)
        WriteSettings();
    return true;
}
