// --info, --list and --check: the installer file read as an installation
// reads it, through the engine, with the same checks and the same messages,
// and nothing written but the report on standard output.
#include "examine.h"

#include "format.h"
#include "inflate.h"
#include "payload.h"
#include "seal.h"
#include "space.h"
#include "state.h"
#include "tar_filter.h"

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

void ReportDamaged(const std::string& what)
{
    ReportError(FormatText("The installer file %s is damaged: %s.", pArgv[0], what.c_str()).c_str());
}

// Our own file, open for as long as this lives; fd is -1 after a message.
struct OwnFile {
    OwnFile() : fd(OpenInstallerFile()) {}
    ~OwnFile()
    {
        if (fd != -1)
            close(fd);
    }
    OwnFile(const OwnFile&) = delete;
    OwnFile& operator=(const OwnFile&) = delete;
    const int fd;
};

std::optional<Payload> PayloadOf(const OwnFile& file)
{
    if (file.fd == -1)
        return std::nullopt;
    std::optional<Payload> payload = FindPayload(file.fd);
    if (!payload)
        ReportDamaged("no product archive was found at its end");
    return payload;
}

bool SealReadable(int fd, const Payload& payload, std::optional<Seal>* seal)
{
    if (ReadSeal(fd, payload.start, payload.length, seal))
        return true;
    ReportDamaged("its seal can not be read");
    return false;
}

// Everything an installation checks, in its order: the seal and its
// checksum when there is one, then the whole archive, decompressed (the
// member's own CRC and length included) and read header by header.  Each
// entry that passed is told to onEntry.
bool PayloadPasses(int fd, const Payload& payload,
                   std::function<void(const ArchiveEntry&)> onEntry)
{
    std::optional<Seal> seal;
    Observer untiring;
    if (!SealReadable(fd, payload, &seal))
        return false;
    if (seal && !SealHolds(fd, payload, *seal, untiring)) {
        ReportDamaged("its checksum does not match its content");
        return false;
    }
    TarFilter filter;
    filter.onEntry = std::move(onEntry);
    std::string damage;
    const auto discard = [](const char*, std::size_t) { return true; };
    if (StreamArchive(fd, payload, filter, untiring, discard, &damage) != Streamed::kComplete) {
        ReportDamaged(damage);
        return false;
    }
    return true;
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

// A name from the archive, shown on one line whatever it holds: control
// characters (a newline, a terminal's escape) and the backslash in octal.
std::string Shown(const std::string& name)
{
    std::string text;
    for (const unsigned char c : name) {
        if (c < 0x20 || c == 0x7f || c == '\\')
            text += FormatText("\\%03o", c);
        else
            text += static_cast<char>(c);
    }
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
    const OwnFile file;
    const std::optional<Payload> payload = PayloadOf(file);
    std::optional<Seal> seal;
    if (!payload || !SealReadable(file.fd, *payload, &seal))
        return 1;
    std::printf("File size: %lld bytes\n", static_cast<long long>(payload->fileSize));
    std::printf("Payload size: %lld bytes\n", static_cast<long long>(payload->length));
    std::printf("Sealed: %s\n", seal ? "yes" : "no");
    std::optional<std::uint64_t> room, content, entries;
    if (seal) {
        room = RoomNeeded(*seal, kCommonBlock);
        content = seal->bytes;
        entries = seal->entries;
    }
    std::printf("Space needed: %s\n", NumberOrUnknown(room, " bytes (in blocks of 4 KiB)").c_str());
    std::printf("Content size: %s\n", NumberOrUnknown(content, " bytes").c_str());
    std::printf("Entries: %s\n", NumberOrUnknown(entries, "").c_str());
    std::printf("Installer version: %s\n", OVELO8_VERSION);
    return 0;
}

int ListContents(char**)
{
    const OwnFile file;
    const std::optional<Payload> payload = PayloadOf(file);
    Listing listing;
    if (!payload ||
        !PayloadPasses(file.fd, *payload, [&](const ArchiveEntry& e) { listing.Add(e); }))
        return 1;
    std::fputs(listing.Text().c_str(), stdout);
    return 0;
}

int CheckFile(char** argv)
{
    const OwnFile file;
    const std::optional<Payload> payload = PayloadOf(file);
    if (!payload || !PayloadPasses(file.fd, *payload, nullptr))
        return 1;
    std::printf("The installer file %s is intact.\n", argv[0]);
    return 0;
}
