// Helpers for tests with or without an X server (no X header here).
//
// Scratch space:
//   ScratchDir dir("name")              a new folder /tmp/name-XXXXXX that
//                                       every user may enter (for tests run as
//                                       an unprivileged user), removed with its
//                                       content; path() is empty if it could
//                                       not be made; what is in it goes as
//                                       well when the test is interrupted
//   ReadFile(path)                      a file's bytes, "" when it can not be read
//
// Cases that need root (they run the installer as nobody, hand folders to
// another owner or expect /usr/local writable) begin with
//   SKIP_UNLESS_ROOT();                 reported as skipped for anybody else
#pragma once

#include <unistd.h>

#include <string>

#define SKIP_UNLESS_ROOT()                 \
    do {                                   \
        if (geteuid() != 0)                \
            GTEST_SKIP() << "needs root";  \
    } while (false)

class ScratchDir {
public:
    explicit ScratchDir(const std::string& name);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
