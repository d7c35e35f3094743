// Motif keeps the home directory it finds when the toolkit starts, and its
// icon lookup (the error dialog's symbol) later copies it into a buffer of
// 1,024 bytes: a longer HOME overflows it.  While a LongHomeHidden lives,
// such a HOME is out of the environment, so the toolkit falls back to the
// password entry's home directory.  A usable HOME is left alone.
#ifndef OVELO_INSTALLER_TOOLKIT_HOME_H
#define OVELO_INSTALLER_TOOLKIT_HOME_H

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

class LongHomeHidden {
public:
    LongHomeHidden()
    {
        const char* home = std::getenv("HOME");
        if (home && std::strlen(home) >= kToolkitPathBuffer) {
            saved_ = home;
            unsetenv("HOME");
        }
    }
    ~LongHomeHidden()
    {
        if (saved_)
            setenv("HOME", saved_->c_str(), 1);
    }
    LongHomeHidden(const LongHomeHidden&) = delete;
    LongHomeHidden& operator=(const LongHomeHidden&) = delete;

private:
    static constexpr std::size_t kToolkitPathBuffer = 1024;
    std::optional<std::string> saved_;
};

#endif
