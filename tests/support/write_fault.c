/* Loaded into the installer under test (LD_PRELOAD) to make its writes (write,
 * pwritev), renames, unlinks, syncfs, fchmod, futimens and fsync go wrong on cue:
 *   OVELO8_WRITE_FAULT=pause:MICROSECONDS   every write waits that long
 *   OVELO8_WRITE_FAULT=fail:BYTES           writes fail (ENOSPC) past BYTES
 *   OVELO8_WRITE_FAULT=signal:BYTES:SIGNAL  SIGNAL is sent once BYTES are written
 *   OVELO8_WRITE_FAULT=rename:N:SIGNAL      SIGNAL is sent at the Nth rename
 *   OVELO8_WRITE_FAULT=renamefail:N         renames fail (EIO) from the Nth on
 *   OVELO8_WRITE_FAULT=unlink:N:SIGNAL      SIGNAL is sent at the Nth unlinkat
 *   OVELO8_WRITE_FAULT=swap:N               once the Nth rename is done, what it named
 *                                           is moved aside (NAME.moved) and an empty
 *                                           folder made in its place
 *   OVELO8_WRITE_FAULT=syncfs:fail          syncfs reports a write-back error (EIO)
 *   OVELO8_WRITE_FAULT=syncfs:fail:N        the same from the Nth syncfs on
 *   OVELO8_WRITE_FAULT=fchmod:fail          fchmod fails (EPERM)
 *   OVELO8_WRITE_FAULT=futimens:fail        futimens fails (EPERM)
 *   OVELO8_WRITE_FAULT=fsync:fail           fsync reports a write-back error (EIO)
 *   OVELO8_WRITE_FAULT=create:N             making a file (openat, O_CREAT | O_EXCL)
 *                                           fails (ENOSPC) from the Nth on
 * Only descriptors above the standard three count. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <sys/uio.h>
#include <unistd.h>

static unsigned long long written;
static unsigned long long renames;
static int signalled;

/* Whether a write of count bytes into fd is to fail; pauses or sends the
 * signal when that is due. */
static int WriteFails(int fd, size_t count)
{
    const char* fault = getenv("OVELO8_WRITE_FAULT");
    unsigned long long number = 0;
    int signal = 0;
    if (fd <= 2 || !fault)
        return 0;
    if (sscanf(fault, "pause:%llu", &number) == 1) {
        usleep((useconds_t)number);
    } else if (sscanf(fault, "fail:%llu", &number) == 1 && written + count > number) {
        errno = ENOSPC;
        return 1;
    } else if (sscanf(fault, "signal:%llu:%d", &number, &signal) == 2 && !signalled &&
               written >= number) {
        signalled = 1;
        kill(getpid(), signal);
    }
    return 0;
}

static ssize_t Counted(int fd, ssize_t done)
{
    if (fd > 2 && done > 0)
        written += (unsigned long long)done;
    return done;
}

ssize_t write(int fd, const void* data, size_t count)
{
    static ssize_t (*real)(int, const void*, size_t);
    if (!real)
        real = (ssize_t (*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    return WriteFails(fd, count) ? -1 : Counted(fd, real(fd, data, count));
}

/* The installer writes a file's content at its offsets, past its holes. */
ssize_t pwritev(int fd, const struct iovec* parts, int count, off_t offset)
{
    static ssize_t (*real)(int, const struct iovec*, int, off_t);
    if (!real)
        real = (ssize_t (*)(int, const struct iovec*, int, off_t))dlsym(RTLD_NEXT, "pwritev");
    size_t length = 0;
    for (int i = 0; i < count; ++i)
        length += parts[i].iov_len;
    return WriteFails(fd, length) ? -1 : Counted(fd, real(fd, parts, count, offset));
}

/* Whether this rename is to fail; sends the signal when it is due. */
static int RenameFails(void)
{
    const char* fault = getenv("OVELO8_WRITE_FAULT");
    unsigned long long number = 0;
    int signal = 0;
    ++renames;
    if (!fault)
        return 0;
    if (sscanf(fault, "rename:%llu:%d", &number, &signal) == 2 && renames == number)
        kill(getpid(), signal);
    if (sscanf(fault, "renamefail:%llu", &number) == 1 && renames >= number) {
        errno = EIO;
        return 1;
    }
    return 0;
}

typedef int (*Renameat)(int, const char*, int, const char*);

static Renameat RealRenameat(void)
{
    static Renameat real;
    if (!real)
        real = (Renameat)dlsym(RTLD_NEXT, "renameat");
    return real;
}

/* A rename's result, after the swap it may be due for. */
static int Swapped(int result, int to, const char* new)
{
    const char* fault = getenv("OVELO8_WRITE_FAULT");
    unsigned long long number = 0;
    char aside[4096];
    if (result == 0 && fault && sscanf(fault, "swap:%llu", &number) == 1 && renames == number &&
        snprintf(aside, sizeof aside, "%s.moved", new) < (int)sizeof aside &&
        RealRenameat()(to, new, to, aside) == 0)
        mkdirat(to, new, 0755);
    return result;
}

int renameat(int from, const char* old, int to, const char* new)
{
    return RenameFails() ? -1 : Swapped(RealRenameat()(from, old, to, new), to, new);
}

int renameat2(int from, const char* old, int to, const char* new, unsigned flags)
{
    static int (*real)(int, const char*, int, const char*, unsigned);
    if (!real)
        real = (int (*)(int, const char*, int, const char*, unsigned))dlsym(RTLD_NEXT, "renameat2");
    return RenameFails() ? -1 : Swapped(real(from, old, to, new, flags), to, new);
}

int unlinkat(int folder, const char* name, int flags)
{
    static int (*real)(int, const char*, int);
    static unsigned long long calls;
    const char* fault = getenv("OVELO8_WRITE_FAULT");
    unsigned long long number = 0;
    int signal = 0;
    if (!real)
        real = (int (*)(int, const char*, int))dlsym(RTLD_NEXT, "unlinkat");
    if (fault && sscanf(fault, "unlink:%llu:%d", &number, &signal) == 2 && ++calls == number)
        kill(getpid(), signal);
    return real(folder, name, flags);
}

/* Whether the call named is to fail, as OVELO8_WRITE_FAULT=NAME:fail says. */
static int Fails(const char* name)
{
    const char* fault = getenv("OVELO8_WRITE_FAULT");
    const size_t length = strlen(name);
    return fault && strncmp(fault, name, length) == 0 && strcmp(fault + length, ":fail") == 0;
}

int syncfs(int fd)
{
    static int (*real)(int);
    if (!real)
        real = (int (*)(int))dlsym(RTLD_NEXT, "syncfs");
    static unsigned long long calls;
    const char* fault = getenv("OVELO8_WRITE_FAULT");
    unsigned long long from = 1;
    ++calls;
    if (fault && (Fails("syncfs") ||
                  (sscanf(fault, "syncfs:fail:%llu", &from) == 1 && calls >= from))) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

int fchmod(int fd, mode_t mode)
{
    static int (*real)(int, mode_t);
    if (!real)
        real = (int (*)(int, mode_t))dlsym(RTLD_NEXT, "fchmod");
    if (Fails("fchmod")) {
        errno = EPERM;
        return -1;
    }
    return real(fd, mode);
}

int futimens(int fd, const struct timespec times[2])
{
    static int (*real)(int, const struct timespec[2]);
    if (!real)
        real = (int (*)(int, const struct timespec[2]))dlsym(RTLD_NEXT, "futimens");
    if (Fails("futimens")) {
        errno = EPERM;
        return -1;
    }
    return real(fd, times);
}

int fsync(int fd)
{
    static int (*real)(int);
    if (!real)
        real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    if (Fails("fsync")) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

int openat(int folder, const char* name, int flags, ...)
{
    static int (*real)(int, const char*, int, ...);
    static unsigned long long creates;
    const char* fault = getenv("OVELO8_WRITE_FAULT");
    unsigned long long number = 0;
    mode_t mode = 0;
    if (!real)
        real = (int (*)(int, const char*, int, ...))dlsym(RTLD_NEXT, "openat");
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list rest;
        va_start(rest, flags);
        mode = va_arg(rest, mode_t);
        va_end(rest);
    }
    if ((flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL) && fault &&
        sscanf(fault, "create:%llu", &number) == 1 && ++creates >= number) {
        errno = ENOSPC;
        return -1;
    }
    return real(folder, name, flags, mode);
}
