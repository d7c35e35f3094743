// Our own file, the installer file this process runs, found by the path it
// was started with and read through the engine as every road reads it:
// the installation, and the options that check, list or describe it.
#include "beneath.h"
#include "installer_file.h"
#include "messages.h"
#include "state.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <utility>

namespace {

// With the errno of the call that failed: a run short of descriptors or
// memory says so rather than ask for the file's mode to be changed.
Descriptor Refused(Fault fault, int error = errno)
{
    Report(AsShortage(Found(fault, std::string(), error)));
    return Descriptor();
}

// Named by the path we were started with: it must exist there (it is never
// looked up in the search path), be a regular file we may read and be the
// very file this process runs.  A bare name found through PATH may name
// another file of that name in the current directory.
Descriptor OpenOwnFile(const char* start)
{
    struct stat named;
    if (stat(start, &named) == -1)
        return Refused(Fault::kCannotFindSelf);
    if (!S_ISREG(named.st_mode))
        return Refused(Fault::kSelfNotRegular, 0);
    // Non-blocking: a FIFO put in its place since the stat must not hold us.
    Descriptor byPath(open(start, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!byPath)
        return Refused(Fault::kCannotReadSelf);
    if (fstat(byPath.get(), &named) == -1 || !S_ISREG(named.st_mode))
        return Refused(Fault::kSelfNotRegular, 0);
    Descriptor running(open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
    if (!running && errno == ENOENT) {
        // No /proc, as in a bare chroot.  A start path with a slash is the
        // path exec was given; a bare name may have come from anywhere.
        return std::strchr(start, '/') ? std::move(byPath) : Refused(Fault::kCannotFindSelf, 0);
    }
    struct stat runs;
    if (!running || fstat(running.get(), &runs) == -1)
        return Refused(Fault::kCannotReadSelf);
    return SameFile(named, runs) ? std::move(running) : Refused(Fault::kCannotFindSelf, 0);
}

}  // namespace

bool OpenOwnInstallerFile(Descriptor* fd, InstallerFile* file)
{
    *fd = OpenOwnFile(pArgv[0]);
    if (!*fd)
        return false;
    const Outcome read = ReadInstallerFile(fd->get(), file);
    if (!read.ok())
        Report(read);
    return read.ok();
}
