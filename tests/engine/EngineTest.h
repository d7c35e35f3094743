// A scratch folder for the engine's tests, removed with what it holds.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

class Scratch {
public:
    Scratch()
    {
        std::string name = (std::filesystem::temp_directory_path() / "ovelo8-engine.XXXXXX");
        path_ = mkdtemp(name.data()) ? name : std::string();
    }
    ~Scratch()
    {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Cases that need root are reported as skipped for anybody else.
#define SKIP_UNLESS_ROOT_HERE()            \
    do {                                   \
        if (geteuid() != 0)                \
            GTEST_SKIP() << "needs root";  \
    } while (false)
