// arc4random and arc4random_buf for the toolkit archives linked into the
// image (expat's hash salt, the ICE and XDMCP authorisation keys) and for
// libstdc++'s random_device.  The C library has them only since 2.36, and
// the image must start on 2.34: defined here, they never bind to it.
//
// Like the C library's, they take the kernel's random bytes and end the
// process when there are none to be had, rather than hand out weak ones.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace {

// Kernels before 3.17 have no getrandom.
bool FillFromDevice(unsigned char* bytes, size_t size)
{
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    while (size > 0) {
        const ssize_t count = read(fd, bytes, size);
        if (count == 0 || (count < 0 && errno != EINTR))
            break;  // the end of the device, or a failure other than a signal
        if (count > 0) {
            bytes += count;
            size -= count;
        }
    }
    close(fd);
    return size == 0;
}

}  // namespace

extern "C" void arc4random_buf(void* buffer, size_t size) noexcept
{
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t count = getrandom(bytes, size, 0);
        if (count > 0) {
            bytes += count;
            size -= count;
        } else if (errno == ENOSYS) {
            if (!FillFromDevice(bytes, size))
                std::abort();
            return;
        } else if (errno != EINTR) {
            std::abort();
        }
    }
}

extern "C" uint32_t arc4random() noexcept
{
    uint32_t value;
    arc4random_buf(&value, sizeof value);
    return value;
}
