// The progress line of a terminal.
#include "progress_line.h"

#include "format.h"

#include <cerrno>
#include <chrono>
#include <string>
#include <unistd.h>

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);  // 10 a second at most

// Where the line goes (-1: nowhere), how many characters it shows now, and
// whether the newline at 100 percent has ended it.
int nProgressFd = -1;
std::size_t nProgressWidth = 0;
bool bProgressEnded = false;
std::chrono::steady_clock::time_point lastProgress;

}  // namespace

void WriteAll(int fd, const char* text, std::size_t count)
{
    while (count > 0) {
        const ssize_t written = write(fd, text, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        text += written;
        count -= written;
    }
}

void StartProgressLine(int fd)
{
    nProgressFd = fd;
}

void ShowProgressLine(std::uint64_t done, std::uint64_t total)
{
    if (nProgressFd < 0 || bProgressEnded || total == 0)
        return;
    const bool complete = done >= total;
    const auto now = std::chrono::steady_clock::now();
    if (!complete && nProgressWidth > 0 && now - lastProgress < kRedrawInterval)
        return;
    lastProgress = now;
    const int percent = static_cast<int>(done * 100 / total);
    const std::string line = FormatText("Installing... %d%% (%llu of %llu bytes)", percent,
                                        static_cast<unsigned long long>(done),
                                        static_cast<unsigned long long>(total));
    const std::string text = "\r" + line + (complete ? "\n" : "");
    WriteAll(nProgressFd, text.data(), text.size());
    nProgressWidth = line.size();
    bProgressEnded = complete;
}

void EraseProgressLine()
{
    if (nProgressFd < 0 || bProgressEnded || nProgressWidth == 0)
        return;
    const std::string blank = "\r" + std::string(nProgressWidth, ' ') + "\r";
    WriteAll(nProgressFd, blank.data(), blank.size());
    nProgressWidth = 0;
}
