// Writing the settings file.  Root may run us with another user's HOME
// (sudo keeps it): a file of root's written there would be that user's
// settings file, which their own runs could then not replace, so nothing
// is written into a home folder that is not ours.  Nor is anything found
// in ours trusted: the old file is looked at without following it, and
// the new one is written beside it under a fresh name and renamed over
// it, so that a crash never leaves it half written either.
#include "settings.h"

#include "bytes.h"
#include "descriptor.h"
#include "format.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view kSettings = "Bandwidth=10485800\nMaxBandwidth=10485800\n";

// Why the file now in place may not be replaced (kNone when it may), with
// the errno of a failed call.  Its mode, when there is one, is kept for the
// new one.
Fault Refusal(int home, std::optional<mode_t>* mode, int* error)
{
    const Descriptor old(openat(home, kSettingsName,
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info;
    if (!old) {
        *error = errno;
        return errno == ENOENT ? Fault::kNone
               : errno == ELOOP ? Fault::kSettingsLink
                                : Fault::kSettingsFailed;
    }
    if (fstat(old.get(), &info) == -1) {
        *error = errno;
        return Fault::kSettingsFailed;
    }
    if (!S_ISREG(info.st_mode))
        return Fault::kSettingsNotRegular;
    if (info.st_uid != geteuid())
        return Fault::kSettingsForeign;
    *mode = info.st_mode & 07777;
    return Fault::kNone;
}

std::string TemporaryName()
{
    unsigned int random = 0;
    if (getrandom(&random, sizeof random, GRND_NONBLOCK) != sizeof random)
        random = static_cast<unsigned>(getpid()) * 2654435761u;
    return FormatText("%s.%08x", kSettingsName, random);
}

// Written and made durable under a fresh name, then renamed over the old;
// 0, or the errno of what failed.
int Replace(int home, std::optional<mode_t> mode)
{
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd == -1; ++attempt) {
        temporary = TemporaryName();
        fd = openat(home, temporary.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd == -1 && errno != EEXIST)
            return errno;
    }
    if (fd == -1)
        return EEXIST;
    const Descriptor file(fd);
    const bool written = (!mode || fchmod(fd, *mode) == 0) && WriteAll(fd, kSettings) &&
                         fsync(fd) == 0;
    const int error = errno;
    if (written && renameat(home, temporary.c_str(), home, kSettingsName) == 0)
        return 0;
    const int renameError = written ? errno : error;
    unlinkat(home, temporary.c_str(), 0);
    return renameError;
}

// Whether home names a home folder at all: set, not empty, absolute.
bool IsUsableHome(const char* home)
{
    return home && home[0] == '/';
}

Descriptor OpenHome(const char* home)
{
    return Descriptor(IsUsableHome(home) ? open(home, O_PATH | O_DIRECTORY | O_CLOEXEC) : -1);
}

// Asked of the folder opened, not of its name, which may lead elsewhere
// by the time it is written into.
bool IsOurs(int folder)
{
    struct stat info;
    return fstat(folder, &info) == 0 && info.st_uid == geteuid();
}

}  // namespace

bool IsOwnHome(const char* home)
{
    const Descriptor folder = OpenHome(home);
    return folder && IsOurs(folder.get());
}

Outcome WriteSettingsFile(const char* home)
{
    if (!IsUsableHome(home))
        return Outcome();
    const std::string path = std::string(home) + "/" + kSettingsName;
    const Descriptor folder = OpenHome(home);
    if (!folder)
        return Found(Fault::kSettingsFailed, path, errno);
    if (!IsOurs(folder.get()))
        return Found(Fault::kSettingsForeignHome, path);
    std::optional<mode_t> mode;
    int error = 0;
    Fault fault = Refusal(folder.get(), &mode, &error);
    if (fault == Fault::kNone && (error = Replace(folder.get(), mode)) != 0)
        fault = Fault::kSettingsFailed;
    return fault == Fault::kNone ? Outcome() : Found(fault, path, error);
}
