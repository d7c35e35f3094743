// A file descriptor, closed when it goes.
#ifndef OVELO_ENGINE_DESCRIPTOR_H
#define OVELO_ENGINE_DESCRIPTOR_H

#include <unistd.h>
#include <utility>

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~Descriptor()
    {
        if (fd_ != -1)
            close(fd_);
    }
    int get() const { return fd_; }
    // Hands the descriptor over to whoever closes it.
    int Release() { return std::exchange(fd_, -1); }
    explicit operator bool() const { return fd_ != -1; }

private:
    int fd_;
};

#endif
