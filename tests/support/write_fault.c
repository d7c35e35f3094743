/* Loaded into the installer under test (LD_PRELOAD) to make its writes into
 * files go wrong on cue, as a slow or full disk or a user would:
 *   OVELO8_WRITE_FAULT=pause:MICROSECONDS   every write waits that long
 *   OVELO8_WRITE_FAULT=fail:BYTES           writes fail (ENOSPC) past BYTES
 *   OVELO8_WRITE_FAULT=signal:BYTES:SIGNAL  SIGNAL is sent once BYTES are written
 * Only descriptors above the standard three count. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static unsigned long long written;
static int signalled;

ssize_t write(int fd, const void* data, size_t count)
{
    static ssize_t (*real)(int, const void*, size_t);
    if (!real)
        real = (ssize_t (*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    const char* fault = getenv("OVELO8_WRITE_FAULT");
    unsigned long long number = 0;
    int signal = 0;
    if (fd > 2 && fault) {
        if (sscanf(fault, "pause:%llu", &number) == 1) {
            usleep((useconds_t)number);
        } else if (sscanf(fault, "fail:%llu", &number) == 1 && written + count > number) {
            errno = ENOSPC;
            return -1;
        } else if (sscanf(fault, "signal:%llu:%d", &number, &signal) == 2 && !signalled &&
                   written >= number) {
            signalled = 1;
            kill(getpid(), signal);
        }
    }
    const ssize_t done = real(fd, data, count);
    if (fd > 2 && done > 0)
        written += (unsigned long long)done;
    return done;
}
