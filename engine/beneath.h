// Opening and removing what lies beneath a folder held by a descriptor,
// never following a link on the way: whatever the tree holds at that
// moment, nothing outside it is reached.
#ifndef OVELO_ENGINE_BENEATH_H
#define OVELO_ENGINE_BENEATH_H

#include "descriptor.h"

#include <string>
#include <sys/stat.h>

// Opens path (relative, "" for the folder itself) beneath the folder open
// on dirfd with flags (O_NOFOLLOW and O_CLOEXEC are added): a link met on
// the way or at the end, or a ".." climbing out, fails with ELOOP or EXDEV.
Descriptor OpenBeneath(int dirfd, const std::string& path, int flags, mode_t mode = 0);

// Removes name in the folder open on dirfd with everything below it,
// through descriptors; links are removed, never followed.  True when it is
// gone (or was never there).
bool RemoveTree(int folderFd, const std::string& name);

// Whether two looks at files saw the same file.
inline bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the folder holds an entry but ".", ".." and ours (a name, or
// ""); a folder that can not be listed may hold anything, which is what is
// answered then.
bool HoldsAnythingBut(int folder, const char* ours);

// prefix + name + suffix as one name of at most 255 bytes: a name too long
// for that is cut short and told apart from others by its checksum.
std::string NameWithin(const std::string& prefix, const std::string& name,
                       const std::string& suffix);

// Whether the symbolic link name in folder ("" for folder itself, opened
// with O_PATH) points to target, exactly.
bool LinkTargetIs(int folder, const std::string& name, const std::string& target);

// The folder part of a relative path ("" at the top) and its last name;
// and the path of name in folder, the inverse.
std::string FolderOf(const std::string& path);
std::string LastName(const std::string& path);
std::string Joined(const std::string& folder, const std::string& name);

#endif
