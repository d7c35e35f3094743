// The free space check made before anything is written.
#include "space.h"

#include <sys/statvfs.h>

// The seal's figure for the smallest fragment size at least the file
// system's; beyond the largest, each entry may waste one more fragment.
// A seal without figures knows the contents only.
std::uint64_t RoomNeeded(const Seal& seal, std::uint64_t fragmentSize)
{
    if (!seal.hasRoom)
        return seal.bytes;
    for (std::size_t i = 0; i < seal.room.size(); ++i)
        if ((std::uint64_t{512} << i) >= fragmentSize)
            return seal.room[i];
    return seal.room.back() + seal.entries * fragmentSize;
}

Outcome Shortfall(const struct statvfs& space, const std::string& destination, const Seal& seal,
                  bool holdsFiles)
{
    if (space.f_frsize == 0)
        return Outcome();
    const std::uint64_t available = std::uint64_t{space.f_bavail} * space.f_frsize;
    const std::uint64_t room = RoomNeeded(seal, space.f_frsize);
    Outcome shortfall = Found(Fault::kNoRoom, destination);
    if (room > available) {
        shortfall.needed = room;
        shortfall.available = available;
    } else if (space.f_files > 0 && seal.entries > space.f_favail) {
        shortfall.fault = Fault::kNoEntries;
        shortfall.needed = seal.entries;
        shortfall.available = space.f_favail;
    } else {
        return Outcome();
    }
    shortfall.besideEarlier = holdsFiles;
    return shortfall;
}

Outcome SpaceShortfall(int dirfd, const std::string& destination, const Seal& seal,
                       bool holdsFiles)
{
    struct statvfs space;
    if (fstatvfs(dirfd, &space) != 0)
        return Outcome();
    return Shortfall(space, destination, seal, holdsFiles);
}
