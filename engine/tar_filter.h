// Checks the tar stream on its way to the writer: every header is read, and
// the archive refused at the first member that can not be installed safely.
//
// A pax extended header ('x') is read for the member that follows it: its
// path, linkpath, size and mtime replace those of that member's header,
// other keywords are ignored; the extended header itself is not passed on.
// A global one ('g') is refused like any other unknown type.
//
// Refused: headers that are not ustar or whose checksum or size is wrong,
// names that are absolute, climb with "..", pass through an earlier
// symbolic link (or a hard link to one) or file, come twice, or begin with
// ".ovelo8-" at the top (the installer's own); members other than files,
// folders, symbolic links and hard links to earlier members, and any but
// a folder named like one ("a/"); a player "ovelo" that is not an
// executable regular file, or none at all.  Each member that passes is
// announced as it is to be installed (ArchiveEntry): its name without "./",
// its mode without the setuid, setgid and sticky bits and the write bits of
// group and others; the archive's owners are never read.  The headers
// themselves pass unchanged, to mark where each member's data begins; left
// out are the top folder "./", so that an existing destination keeps its
// mode and owner, and the end-of-archive blocks.
//
// Against a seal, the archive must add up to the seal's figures (seal.h):
// a member that takes a total past them is refused at its header, before
// any of it is written, so a forged seal can not have the disk filled;
// totals short of them are refused at the end.
#ifndef OVELO_ENGINE_TAR_FILTER_H
#define OVELO_ENGINE_TAR_FILTER_H

#include "outcome.h"
#include "seal.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <string>
#include <utility>
#include <vector>

constexpr std::size_t kTarBlock = 512;

// Takes the next checked bytes of the archive, in whole blocks; false when
// it can take no more (the unpacking failed there).
using ArchiveSink = std::function<bool(const char* data, std::size_t count)>;

// A member that passed the checks, as it will be installed.
struct ArchiveEntry {
    char type;            // '0' file, '1' hard link, '2' symbolic link, '5' folder
    std::string path;     // relative to the destination, without "./"
    unsigned mode;        // permission bits, after clearing
    std::uint64_t size;   // of a file's content; 0 for the others
    std::string link;     // a link's target (a hard link's: the earlier member)
    std::int64_t mtime;   // modification time, seconds since the epoch
};

// What a pax extended header says of the member that follows it; empty
// names and absent numbers leave that member's own fields.
struct ExtendedHeader {
    std::string path, linkpath;
    bool hasSize = false, hasMtime = false;
    std::uint64_t size = 0;
    std::int64_t mtime = 0;
};

// Names at the top of a destination that the installer keeps for itself.
constexpr char kReservedPrefix[] = ".ovelo8-";

class TarFilter {
public:
    // Told of every member that passed, in archive order; optional.
    std::function<void(const ArchiveEntry&)> onEntry;

    // The seal the archive must add up to; without one nothing is compared.
    void Expect(const Seal& seal) { seal_ = seal; }

    // Takes count bytes of whole blocks, the next of the stream, and hands
    // what the writer is to take to sink, in order; nothing when the
    // archive is refused there.  False when it is refused (Refused), or
    // the sink refused; after that nothing more is to be passed on.
    bool Pass(const char* blocks, std::size_t count, const ArchiveSink& sink);
    // At the end of the stream: true when the archive ended where it
    // should, with the player in it.
    bool Finish();
    bool Refused() const { return !refusal_.ok(); }
    const Outcome& Refusal() const { return refusal_; }  // what was found

private:
    bool CheckHeader(const char* header, bool* keep);
    bool CheckName(const std::string& name, char type);
    bool CheckType(const std::string& name, char type, std::uint64_t size, const std::string& target);
    bool BeginExtended(std::uint64_t size);
    void TakeExtended(const char* data, std::size_t count);
    bool Count(char type, std::uint64_t size, std::size_t linkLength, bool top);
    // The first refusal stands; type, when given, is the member's.
    bool Refuse(Fault fault, const std::string& name = std::string(), char type = '\0');

    std::uint64_t dataLeft_ = 0;  // of the current member, in whole blocks
    std::uint64_t extendedLeft_ = 0;  // of an extended header's records, in whole blocks
    std::uint64_t extendedSize_ = 0;  // their bytes without the padding
    std::string records_;             // read so far
    bool extendedPending_ = false;    // read, for the next header
    ExtendedHeader extended_;
    bool ended_ = false;          // the first zero block was seen
    std::vector<std::pair<std::size_t, std::size_t>> runs_;  // kept of the blocks passing
    bool player_ = false;
    // What each name the archive used stands for so far: the checks of a
    // member ask about the folders above it only up to one known.
    enum class Named : char {
        kFolder,
        kAbove,  // a folder, named only as one above a member
        kFile,   // a file, or a hard link to one: what a hard link may name
        kLink,   // a symbolic link, or a hard link to one
    };
    Named NamedAs(const std::string& name) const;
    void Remember(const std::string& name, char type, const std::string& target);
    std::unordered_map<std::string, Named> named_;
    std::optional<Seal> seal_;
    SealTally tally_;
    Outcome refusal_;
};

#endif
