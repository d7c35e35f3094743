// --info, --list and --check: the installer file read as an installation
// reads it, through the engine, with the same checks and the same messages,
// and nothing written but the report on standard output.
#include "examine.h"

#include "format.h"
#include "inflate.h"
#include "installer_file.h"
#include "messages.h"
#include "space.h"
#include "state.h"
#include "tar_filter.h"

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace {

// Everything an installation checks, in its order: the seal's checksum
// when there is one, then the whole archive, decompressed (the member's
// own CRC and length included) and read header by header.  Each entry that
// passed is told to onEntry.
bool PayloadPasses(const InstallerFile& file, std::function<void(const ArchiveEntry&)> onEntry)
{
    Observer untiring;
    Outcome damage = CheckSealedChecksum(file, untiring);
    if (damage.ok()) {
        TarFilter filter;
        filter.onEntry = std::move(onEntry);
        const auto discard = [](const char*, std::size_t) { return true; };
        StreamArchive(file, filter, untiring, discard, &damage);
    }
    if (!damage.ok())
        Report(damage);
    return damage.ok();
}

std::string NumberOrUnknown(const std::optional<std::uint64_t>& number, const char* unit)
{
    if (!number)
        return "unknown";
    return FormatText("%llu%s", static_cast<unsigned long long>(*number), unit);
}

// What the product takes on the common file systems, which allocate in
// blocks of 4 KiB: what the space check counts there.
constexpr std::uint64_t kCommonBlock = 4096;

// As ls -l shows them; the archive checks have cleared the set-id and
// sticky bits already.  Symbolic links have no mode of their own.
std::string ModeText(const ArchiveEntry& entry)
{
    if (entry.type == '2')
        return "lrwxrwxrwx";
    static const char kLetters[] = "rwxrwxrwx";
    std::string text(1, entry.type == '5' ? 'd' : '-');
    for (int bit = 0; bit < 9; ++bit)
        text += (entry.mode & (0400u >> bit)) ? kLetters[bit] : '-';
    return text;
}

// Lines of the listing, kept until the whole file has passed, so that a
// damaged file never shows a listing that looks complete.  A hard link
// installs a file like the one it names, of that size.
class Listing {
public:
    void Add(const ArchiveEntry& entry)
    {
        std::uint64_t size = entry.size;
        if (entry.type == '1')
            size = sizes_[entry.link];
        else if (entry.type == '0')
            sizes_[entry.path] = size;
        text_ += FormatText("%s %llu %s", ModeText(entry).c_str(),
                            static_cast<unsigned long long>(size), Shown(entry.path).c_str());
        if (entry.type == '2')
            text_ += " -> " + Shown(entry.link);
        else if (entry.type == '1')
            text_ += " link to " + Shown(entry.link);
        text_ += '\n';
    }
    const std::string& Text() const { return text_; }

private:
    std::map<std::string, std::uint64_t> sizes_;
    std::string text_;
};

}  // namespace

int ShowInfo(char**)
{
    Descriptor fd;
    InstallerFile file;
    if (!OpenOwnInstallerFile(&fd, &file))
        return ReportedStatus();
    std::printf("File size: %lld bytes\n", static_cast<long long>(file.payload.fileSize));
    std::printf("Payload size: %lld bytes\n", static_cast<long long>(file.payload.length));
    std::printf("Sealed: %s\n", file.seal ? "yes" : "no");
    std::optional<std::uint64_t> room, content, entries;
    if (file.seal) {
        room = RoomNeeded(*file.seal, kCommonBlock);
        content = file.seal->bytes;
        entries = file.seal->entries;
    }
    std::printf("Space needed: %s\n", NumberOrUnknown(room, " bytes (in blocks of 4 KiB)").c_str());
    std::printf("Content size: %s\n", NumberOrUnknown(content, " bytes").c_str());
    std::printf("Entries: %s\n", NumberOrUnknown(entries, "").c_str());
    std::printf("Installer version: %s\n", OVELO8_VERSION);
    return 0;
}

int ListContents(char**)
{
    Descriptor fd;
    InstallerFile file;
    Listing listing;
    if (!OpenOwnInstallerFile(&fd, &file) ||
        !PayloadPasses(file, [&](const ArchiveEntry& e) { listing.Add(e); }))
        return ReportedStatus();
    std::fputs(listing.Text().c_str(), stdout);
    return 0;
}

int CheckFile(char** argv)
{
    Descriptor fd;
    InstallerFile file;
    if (!OpenOwnInstallerFile(&fd, &file) || !PayloadPasses(file, nullptr))
        return ReportedStatus();
    std::printf("The installer file %s is intact.\n", Shown(argv[0]).c_str());
    return 0;
}
