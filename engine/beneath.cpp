// Descriptor-relative opening and removal.
#include "beneath.h"

#include "cksum.h"
#include "format.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>

namespace {

// Kernels before 5.6 have no openat2, and some sandboxes refuse it.
bool bNoOpenat2 = false;

int Openat2(int dirfd, const char* path, int flags, mode_t mode)
{
    open_how how{};
    how.flags = static_cast<unsigned>(flags);
    how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(syscall(SYS_openat2, dirfd, path, &how, sizeof how));
}

// The same a name at a time: every folder on the way opened with O_NOFOLLOW
// under the one before, ".." refused.
int WalkOpen(int dirfd, const std::string& path, int flags, mode_t mode)
{
    Descriptor here;
    int at = dirfd;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t slash = path.find('/', begin);
        const std::string name = path.substr(begin, slash == std::string::npos ? slash : slash - begin);
        if (name == "..") {
            errno = EXDEV;
            return -1;
        }
        if (slash == std::string::npos)
            return openat(at, name.empty() ? "." : name.c_str(), flags, mode);
        if (!name.empty() && name != ".") {
            here = Descriptor(openat(at, name.c_str(),
                                     O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!here)
                return -1;
            at = here.get();
        }
        begin = slash + 1;
    }
}

}  // namespace

Descriptor OpenBeneath(int dirfd, const std::string& path, int flags, mode_t mode)
{
    flags |= O_NOFOLLOW | O_CLOEXEC;
    const char* name = path.empty() ? "." : path.c_str();
    if (!bNoOpenat2) {
        const int fd = Openat2(dirfd, name, flags, mode);
        if (fd != -1 || (errno != ENOSYS && errno != EPERM))
            return Descriptor(fd);
        bNoOpenat2 = true;
    }
    return Descriptor(WalkOpen(dirfd, path, flags, mode));
}

bool RemoveTree(int folderFd, const std::string& name)
{
    if (unlinkat(folderFd, name.c_str(), 0) == 0 || errno == ENOENT)
        return true;
    if (errno != EISDIR && errno != EPERM)
        return false;
    // An empty folder goes without a descriptor, which may be short.
    if (unlinkat(folderFd, name.c_str(), AT_REMOVEDIR) == 0)
        return true;
    const int fd = openat(folderFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd == -1)
        return false;
    DIR* folder = fdopendir(fd);
    if (!folder) {
        close(fd);
        return false;
    }
    bool removed = true;
    while (const dirent* entry = readdir(folder)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            removed = RemoveTree(dirfd(folder), entry->d_name) && removed;
    }
    closedir(folder);
    return removed && (unlinkat(folderFd, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT);
}

bool HoldsAnythingBut(int folder, const char* ours)
{
    Descriptor opened(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* listing = opened ? fdopendir(opened.get()) : nullptr;
    if (!listing)
        return true;
    opened.Release();  // the listing closes it
    bool holds = false;
    while (const dirent* entry = holds ? nullptr : readdir(listing))
        holds = std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0 &&
                std::strcmp(entry->d_name, ours) != 0;
    closedir(listing);
    return holds;
}

std::string NameWithin(const std::string& prefix, const std::string& name,
                       const std::string& suffix)
{
    constexpr std::size_t kLongestName = 255;
    if (prefix.size() + name.size() + suffix.size() <= kLongestName)
        return prefix + name + suffix;
    return prefix + name.substr(0, 200) + FormatText("-%08x", CksumOf(name)) + suffix;
}

bool LinkTargetIs(int folder, const std::string& name, const std::string& target)
{
    std::string read(target.size() + 1, '\0');
    const ssize_t length = readlinkat(folder, name.c_str(), read.data(), read.size());
    return length == static_cast<ssize_t>(target.size()) && read.compare(0, length, target) == 0;
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string LastName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Joined(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + "/" + name;
}
