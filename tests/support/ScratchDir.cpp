// Scratch folders that go with their content, even when the test is
// interrupted or crashes; and a file read back whole.
#include "ScratchDir.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;

// The scratch folders alive, kept where a signal handler may read them.
constexpr int kMaxScratch = 32;
char liveScratch[kMaxScratch][256];

// Gives the owner back the right to list and empty every folder of a
// tree, so that one a test left unreadable does not stop its removal.
void MakeRemovable(const fs::path& dir)
{
    std::error_code ec;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec))
        if (entry.is_directory(ec) && !entry.is_symlink(ec))
            MakeRemovable(entry.path());
}

// When the test is interrupted or crashes, the scratch folders go as well;
// only fork, exec and wait, which are safe in a handler.
void RemoveScratchAndDie(int number)
{
    for (char* path : liveScratch) {
        if (!path[0])
            continue;
        if (fork() == 0) {
            char sh[] = "/bin/sh", c[] = "-c", name[] = "scratch";
            char script[] = "chmod -R u+rwx \"$1\"; rm -rf \"$1\"";
            char env[] = "PATH=/usr/bin:/bin";
            char* argv[] = {sh, c, script, name, path, nullptr};
            char* envp[] = {env, nullptr};
            execve(sh, argv, envp);
            _exit(127);
        }
        wait(nullptr);
    }
    ::signal(number, SIG_DFL);
    raise(number);
}

void Remember(const std::string& path)
{
    static const bool handled = [] {
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT, SIGSEGV, SIGBUS})
            ::signal(signal, RemoveScratchAndDie);
        return true;
    }();
    (void)handled;
    for (char* slot : liveScratch)
        if (!slot[0] && path.size() < sizeof liveScratch[0]) {
            std::strcpy(slot, path.c_str());
            return;
        }
}

void RemoveTree(const std::string& path)
{
    std::error_code ignored;
    MakeRemovable(path);
    fs::remove_all(path, ignored);
    for (char* slot : liveScratch)
        if (path == slot)
            slot[0] = '\0';
}

} // namespace

ScratchDir::ScratchDir(const std::string& name)
{
    std::string pattern = "/tmp/" + name + "-XXXXXX";
    if (!mkdtemp(pattern.data()))
        return;
    Remember(pattern);
    if (chmod(pattern.c_str(), 0755) == 0)
        path_ = pattern;
    else
        RemoveTree(pattern);
}

ScratchDir::~ScratchDir()
{
    if (!path_.empty())
        RemoveTree(path_);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
