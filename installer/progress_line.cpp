// The progress line of a terminal, or its lines in a file.
#include "progress_line.h"

#include "bytes.h"
#include "format.h"

#include <cerrno>
#include <chrono>
#include <string>
#include <unistd.h>

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);  // 10 a second at most

// Where the progress goes (-1: nowhere), and whether that is a terminal,
// where one line is rewritten in place; a file or a pipe gets whole lines
// instead, which a log or a reader line by line can take.
int nProgressFd = -1;
bool bProgressInPlace = false;
// How many characters the line in place shows now, whether 100 percent has
// ended the progress, and how many tenths of it the whole lines have told.
std::size_t nProgressWidth = 0;
bool bProgressEnded = false;
int nTenthsTold = 0;
std::chrono::steady_clock::time_point lastProgress;

std::string ProgressText(std::uint64_t done, std::uint64_t total)
{
    return FormatText("Installing... %d%% (%llu of %llu bytes)",
                      static_cast<int>(done * 100 / total), static_cast<unsigned long long>(done),
                      static_cast<unsigned long long>(total));
}

void RewriteInPlace(std::uint64_t done, std::uint64_t total, bool complete)
{
    const auto now = std::chrono::steady_clock::now();
    if (!complete && nProgressWidth > 0 && now - lastProgress < kRedrawInterval)
        return;
    lastProgress = now;
    const std::string line = ProgressText(done, total);
    const std::string text = "\r" + line + (complete ? "\n" : "");
    WriteAll(nProgressFd, text);
    nProgressWidth = line.size();
}

// A line each time the progress reaches another tenth, none before the first.
void AddLine(std::uint64_t done, std::uint64_t total)
{
    const int tenths = static_cast<int>(done * 10 / total);
    if (tenths <= nTenthsTold)
        return;
    nTenthsTold = tenths;
    const std::string line = ProgressText(done, total) + "\n";
    WriteAll(nProgressFd, line);
}

}  // namespace

void StartProgressLine(int fd)
{
    nProgressFd = fd;
    bProgressInPlace = isatty(fd);
}

void ShowProgressLine(std::uint64_t done, std::uint64_t total)
{
    if (nProgressFd < 0 || bProgressEnded || total == 0)
        return;
    const bool complete = done >= total;
    if (bProgressInPlace)
        RewriteInPlace(done, total, complete);
    else
        AddLine(done, total);
    bProgressEnded = complete;
}

void EraseProgressLine()
{
    if (nProgressFd < 0 || bProgressEnded || nProgressWidth == 0)
        return;
    const std::string blank = "\r" + std::string(nProgressWidth, ' ') + "\r";
    WriteAll(nProgressFd, blank);
    nProgressWidth = 0;
}
