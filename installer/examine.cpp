// --info, --list, --check and --verify: the installer file read as an installation
// reads it, through the engine, with the same checks and the same messages,
// and nothing written but the report on standard output.
#include "examine.h"

#include "beneath.h"
#include "cksum.h"
#include "destination.h"
#include "entry_stream.h"
#include "format.h"
#include "inflate.h"
#include "installer_file.h"
#include "manifest.h"
#include "messages.h"
#include "space.h"
#include "state.h"
#include "tar_filter.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Everything an installation checks, in its order: the seal's checksum
// when there is one, then the whole archive, decompressed (the member's
// own CRC and length included) and read header by header.
// Each entry that passed is told to onEntry, the checked archive handed to
// sink.
bool PayloadPasses(const InstallerFile& file, std::function<void(const ArchiveEntry&)> onEntry,
                   const ArchiveSink& sink = [](const char*, std::size_t) { return true; })
{
    Observer untiring;
    Outcome damage = CheckSealedChecksum(file, untiring);
    if (damage.ok()) {
        TarFilter filter;
        filter.onEntry = std::move(onEntry);
        StreamArchive(file, filter, untiring, sink, &damage);
    }
    if (!damage.ok())
        Report(damage);
    return damage.ok();
}

// --verify: the installation is what this file installs, or differs from
// it, or can not be told.
constexpr int kDiffers = 1;
constexpr int kCanNotTell = 2;

std::string VersionShown(const std::string& version)
{
    return version.empty() ? "unknown" : Shown(version);
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
    std::printf("Product version: %s\n", VersionShown(file.productVersion).c_str());
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

namespace {

// What an installation holds against what this file installs, entry by
// entry as the archive comes: the lines of the differences, in archive
// order.  The file's own contents are summed on the way; the installed
// ones are read.  Modes are held against the manifest's record, which
// says what the installation's umask made of them.
class Comparison {
public:
    Comparison(int folder, const std::vector<ManifestEntry>& installed) : folder_(folder)
    {
        for (const ManifestEntry& entry : installed)
            modes_[entry.path] = entry.mode;
        stream_.onEntry = [this](const ArchiveEntry& entry) { return Begin(entry); };
        stream_.onContent = [this](const char* data, std::size_t count) {
            crc_.Update(std::string_view(data, count));
            return true;
        };
        stream_.onEnd = [this] {
            sums_[current_.path] = {current_.size, crc_.Final()};
            return Compare(current_, sums_[current_.path]);
        };
    }

    EntryStream& Stream() { return stream_; }
    void OtherVersion(const std::string& installed, const std::string& shipped)
    {
        lines_ += "other version: installed " + installed + ", this file " + shipped + "\n";
    }
    const std::string& Lines() const { return lines_; }
    bool CanTell() const { return canTell_; }

private:
    struct Sum {
        std::uint64_t size;
        std::uint32_t crc;
    };

    bool Begin(const ArchiveEntry& entry)
    {
        current_ = entry;
        crc_ = CksumCrc();
        if (entry.type == '2')
            symbolic_[entry.path] = entry.link;
        if (entry.type != '1')
            return entry.type == '0' || Compare(entry, Sum{0, 0});
        // A hard link is what it names: a file, or a symbolic link.
        const auto symbolic = symbolic_.find(entry.link);
        if (symbolic == symbolic_.end())
            return Compare(entry, sums_[entry.link]);
        ArchiveEntry same = entry;
        same.type = '2';
        same.link = symbolic->second;
        return Compare(same, Sum{0, 0});
    }

    void Differs(const char* how, const std::string& path)
    {
        lines_ += std::string(how) + ": " + Shown(path) + "\n";
    }

    // One entry against what lies at its path: missing, of another type,
    // content or mode, or the same.  What can not be looked at leaves the
    // answer open.
    bool Compare(const ArchiveEntry& entry, const Sum& sum)
    {
        const bool file = entry.type == '0' || entry.type == '1';
        const Descriptor found =
            OpenBeneath(folder_, entry.path, file ? O_RDONLY | O_NONBLOCK : O_PATH);
        struct stat info;
        if (!found && errno == ENOENT)
            Differs("missing", entry.path);
        else if (!found && errno != ELOOP)
            canTell_ = false;
        else if (!found || fstat(found.get(), &info) == -1 || !SameAsShipped(found.get(), info, entry, sum))
            Differs("changed", entry.path);
        return true;
    }

    bool SameAsShipped(int fd, const struct stat& info, const ArchiveEntry& entry, const Sum& sum)
    {
        const auto recorded = modes_.find(entry.path);
        if (recorded != modes_.end() && entry.type != '2' && (info.st_mode & 07777) != recorded->second)
            return false;
        std::uint32_t crc = 0;
        switch (entry.type) {
        case '5':
            return S_ISDIR(info.st_mode);
        case '2':
            return S_ISLNK(info.st_mode) && LinkTargetIs(fd, "", entry.link);
        default:
            return S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) == sum.size &&
                   ChecksumOf(fd, &crc) && crc == sum.crc;
        }
    }

    const int folder_;
    std::map<std::string, unsigned> modes_;
    std::map<std::string, Sum> sums_;
    std::map<std::string, std::string> symbolic_;  // the symbolic links' targets
    EntryStream stream_;
    ArchiveEntry current_{};
    CksumCrc crc_;
    std::string lines_;
    bool canTell_ = true;
};

// The installation in directory, its manifest read: false when there is
// none to compare with, after saying so.
bool FindInstalled(const char* directory, Destination* place, std::vector<ManifestEntry>* installed,
                   std::string* version, int* status)
{
    Outcome refusal;
    const Walked walked = WalkDestination(directory, place, &refusal);
    if (FoundNothing(walked, refusal)) {
        std::printf("not installed\n");
        *status = kDiffers;
        return false;
    }
    if (walked != Walked::kReached) {
        if (walked == Walked::kFailed)  // a step it could not take: no telling what is there
            refusal = AsShortage(Found(Fault::kCannotVerify, directory, refusal.error));
        Report(refusal);
        *status = kCanNotTell;
        return false;
    }
    switch (ReadManifest(place->folder.get(), installed, version)) {
    case ManifestRead::kRead:
        return true;
    case ManifestRead::kMissing:
        std::printf("not installed\n");
        *status = kDiffers;
        return false;
    case ManifestRead::kBadManifest:
        break;
    }
    Report(Found(Fault::kBadManifest, directory));
    *status = kCanNotTell;
    return false;
}

}  // namespace

int VerifyInstallation(char** argv)
{
    Descriptor fd;
    InstallerFile file;
    Destination place;
    std::vector<ManifestEntry> installed;
    std::string version;
    int status = kCanNotTell;
    if (!OpenOwnInstallerFile(&fd, &file) ||
        !FindInstalled(argv[2], &place, &installed, &version, &status))
        return status;
    Comparison comparison(place.folder.get(), installed);
    if (version != file.productVersion)
        comparison.OtherVersion(VersionShown(version), VersionShown(file.productVersion));
    const bool passed = PayloadPasses(file, [&](const ArchiveEntry& entry) {
        comparison.Stream().Announce(entry);
    }, [&](const char* data, std::size_t count) { return comparison.Stream().Take(data, count); });
    if (!passed)
        return kCanNotTell;
    if (!comparison.CanTell()) {
        Report(Found(Fault::kCannotVerify, argv[2]));
        return kCanNotTell;
    }
    std::fputs(comparison.Lines().c_str(), stdout);
    return comparison.Lines().empty() ? 0 : kDiffers;
}
