// The free space check made before anything is written.
#include "space.h"

#include "format.h"

#include <cmath>
#include <sys/statvfs.h>

namespace {

// MB, or GB from 1,000 MB on, with one decimal (two below 1 MB); what is
// needed is rounded up and what is available down, so that the two never
// read alike.
std::string ShownSize(std::uint64_t bytes, bool roundUp)
{
    const bool giga = bytes >= 1000000000u;
    const int decimals = bytes < 1000000u ? 2 : 1;
    const double scale = std::pow(10.0, decimals);
    const double units = static_cast<double>(bytes) / (giga ? 1e9 : 1e6) * scale;
    const double shown = (roundUp ? std::ceil(units) : std::floor(units)) / scale;
    return FormatText("%.*f %s", decimals, shown, giga ? "GB" : "MB");
}

std::string Count(std::uint64_t files)
{
    return FormatText("%llu files", static_cast<unsigned long long>(files));
}

}  // namespace

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

std::string SpaceShortfall(int dirfd, const std::string& shownName, const Seal& seal,
                           bool holdsFiles)
{
    struct statvfs space;
    if (fstatvfs(dirfd, &space) != 0 || space.f_frsize == 0)
        return std::string();
    const std::uint64_t available = std::uint64_t{space.f_bavail} * space.f_frsize;
    const std::uint64_t room = RoomNeeded(seal, space.f_frsize);
    std::string needed, free;
    if (room > available) {
        needed = ShownSize(room, true);
        free = ShownSize(available, false);
    } else if (space.f_files > 0 && seal.entries > space.f_favail) {
        needed = Count(seal.entries);
        free = Count(space.f_favail);
    } else {
        return std::string();
    }
    std::string message = FormatText("There is not enough free space in %s: %s needed, %s available.",
                                     shownName.c_str(), needed.c_str(), free.c_str());
    if (holdsFiles)
        message += "\nWhat it holds stays until the new version is complete,"
                   "\nso there must be room for both while installing.";
    return message;
}
