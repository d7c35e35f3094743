// Writing the settings file.  Root may run us with another user's HOME
// (sudo keeps it), so nothing in that folder is trusted: the old file is
// looked at without following it, and the new one is written beside it
// under a fresh name and renamed over it, so that a crash never leaves it
// half written either.
#include "settings.h"

#include "descriptor.h"
#include "format.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view kSettings = "Bandwidth=10485800\nMaxBandwidth=10485800\n";

std::string NotWritten(const std::string& path, const std::string& why)
{
    return FormatText("The settings file %s was not written: %s.", path.c_str(), why.c_str());
}

// Why the file now in place may not be replaced; empty when it may.  Its
// mode, when there is one, is kept for the new one.
std::string Refusal(int home, std::optional<mode_t>* mode)
{
    const Descriptor old(openat(home, kSettingsName,
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info;
    if (!old)
        return errno == ENOENT ? std::string()
               : errno == ELOOP ? "it is a symbolic link"
                                : std::strerror(errno);
    if (fstat(old.get(), &info) == -1)
        return std::strerror(errno);
    if (!S_ISREG(info.st_mode))
        return "it is not a regular file";
    if (info.st_uid != geteuid())
        return "it belongs to another user";
    *mode = info.st_mode & 07777;
    return std::string();
}

std::string TemporaryName()
{
    unsigned int random = 0;
    if (getrandom(&random, sizeof random, GRND_NONBLOCK) != sizeof random)
        random = static_cast<unsigned>(getpid()) * 2654435761u;
    return FormatText("%s.%08x", kSettingsName, random);
}

bool WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Written and made durable under a fresh name, then renamed over the old.
std::string Replace(int home, std::optional<mode_t> mode)
{
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd == -1; ++attempt) {
        temporary = TemporaryName();
        fd = openat(home, temporary.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd == -1 && errno != EEXIST)
            return std::strerror(errno);
    }
    if (fd == -1)
        return std::strerror(EEXIST);
    const Descriptor file(fd);
    const bool written = (!mode || fchmod(fd, *mode) == 0) && WriteAll(fd, kSettings) &&
                         fsync(fd) == 0;
    const int error = errno;
    if (written && renameat(home, temporary.c_str(), home, kSettingsName) == 0)
        return std::string();
    const int renameError = written ? errno : error;
    unlinkat(home, temporary.c_str(), 0);
    return std::strerror(renameError);
}

// Whether home names a home folder at all: set, not empty, absolute.
bool IsUsableHome(const char* home)
{
    return home && home[0] == '/';
}

}  // namespace

bool IsOwnHome(const char* home)
{
    struct stat info;
    return IsUsableHome(home) && stat(home, &info) == 0 && info.st_uid == geteuid();
}

std::string WriteSettingsFile(const char* home)
{
    if (!IsUsableHome(home))
        return std::string();
    const std::string path = std::string(home) + "/" + kSettingsName;
    const Descriptor folder(open(home, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder)
        return NotWritten(path, std::strerror(errno));
    std::optional<mode_t> mode;
    std::string why = Refusal(folder.get(), &mode);
    if (why.empty())
        why = Replace(folder.get(), mode);
    return why.empty() ? std::string() : NotWritten(path, why);
}
