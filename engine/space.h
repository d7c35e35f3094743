// Whether the file system of a destination has room for the product, as
// the file system will count it: whole fragments per file, a fragment per
// folder, and an inode per entry.
#ifndef OVELO_ENGINE_SPACE_H
#define OVELO_ENGINE_SPACE_H

#include "outcome.h"
#include "seal.h"

#include <cstdint>
#include <string>
#include <sys/statvfs.h>

// Bytes the product takes on a file system of the given fragment size.
std::uint64_t RoomNeeded(const Seal& seal, std::uint64_t fragmentSize);

// kNone when the file system of the folder open on dirfd has room for the
// product (or cannot tell its free space); otherwise kNoRoom (bytes) or
// kNoEntries (inodes) with what is needed and available, naming the
// destination as given.  Whatever the destination holds already stays
// beside the new files until the installation is complete: holdsFiles
// says so.
// The same for a file system that reports the space given; one that
// counts no inodes (f_files 0) has no limit on them.
Outcome Shortfall(const struct statvfs& space, const std::string& destination, const Seal& seal,
                  bool holdsFiles);
Outcome SpaceShortfall(int dirfd, const std::string& destination, const Seal& seal,
                       bool holdsFiles);

#endif
