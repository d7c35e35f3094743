// The checks of the tar stream, header by header.
#include "tar_filter.h"

#include "bytes.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

// Offsets and lengths of the ustar header fields we read.
struct Field {
    std::size_t offset, length;
};
constexpr Field kName{0, 100}, kMode{100, 8}, kSize{124, 12}, kMtime{136, 12};
constexpr Field kChecksum{148, 8}, kLinkName{157, 100}, kMagic{257, 6}, kPrefix{345, 155};
constexpr std::size_t kType = 156;

// Larger sizes wrap when rounded up to whole blocks: we would lose where
// the next header is.
constexpr std::uint64_t kLargestNumber = INT64_MAX - (kTarBlock - 1);

constexpr unsigned kClearedModeBits = 07000 | 0022;  // set-id, sticky, group/other write

// An extended header's records are held until the member they describe:
// names and link targets as long as a system takes fit many times over,
// and a damaged size never makes us hold much.
constexpr std::uint64_t kLargestExtended = 1024 * 1024;

std::string Text(const char* header, Field field)
{
    const char* start = header + field.offset;
    return std::string(start, strnlen(start, field.length));
}

// Octal digits between blanks and NULs, or the base-256 form of large sizes.
bool ParseNumber(const char* header, Field field, std::uint64_t* value)
{
    const auto* p = reinterpret_cast<const unsigned char*>(header + field.offset);
    *value = 0;
    if (p[0] & 0x80) {
        if (p[0] != 0x80)
            return false;
        for (std::size_t i = 1; i < field.length; ++i) {
            if (*value >> 56)
                return false;
            *value = *value << 8 | p[i];
        }
        return *value <= kLargestNumber;
    }
    std::size_t i = 0;
    while (i < field.length && p[i] == ' ')
        ++i;
    const std::size_t first = i;
    for (; i < field.length && p[i] >= '0' && p[i] <= '7'; ++i)
        *value = *value << 3 | (p[i] - '0');
    for (; i < field.length; ++i)
        if (p[i] != ' ' && p[i] != '\0')
            return false;
    return i > first;
}

// The sum of the header's bytes, those of the checksum counted as blanks.
// Old tars summed signed bytes, hence Byte.
template <typename Byte>
int HeaderSum(const char* header)
{
    int sum = 0;
    for (std::size_t i = 0; i < kTarBlock; ++i) {
        const bool inChecksum = i >= kChecksum.offset && i < kChecksum.offset + kChecksum.length;
        sum += inChecksum ? ' ' : static_cast<Byte>(header[i]);
    }
    return sum;
}

bool ChecksumMatches(const char* header)
{
    std::uint64_t stored = 0;
    if (!ParseNumber(header, kChecksum, &stored))
        return false;
    const auto sum = static_cast<std::int64_t>(stored);  // at most kLargestNumber
    return sum == HeaderSum<unsigned char>(header) || sum == HeaderSum<signed char>(header);
}

// Only the POSIX header has a prefix to the name; the GNU one keeps other
// data there.
bool IsPosix(const char* header)
{
    return std::memcmp(header + kMagic.offset, "ustar\0", 6) == 0;
}

// "./a/./b/" becomes "a/b"; false for an absolute name or a ".." in it.
bool NormalName(const std::string& raw, std::string* name)
{
    if (raw.empty() || raw[0] == '/')
        return false;
    name->clear();
    std::string_view rest(raw);
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part == "..")
            return false;
        if (part.empty() || part == ".")
            continue;
        if (!name->empty())
            *name += '/';
        *name += part;
    }
    return true;
}

// The member a hard link names; empty when it names one outside.
std::string LinkTarget(const std::string& link)
{
    std::string target;
    return NormalName(link, &target) ? target : std::string();
}

// Decimal digits, at most what a size may be.
bool ParseDecimal(std::string_view text, std::uint64_t* value)
{
    *value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || *value > (kLargestNumber - (c - '0')) / 10)
            return false;
        *value = *value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return !text.empty();
}

// Seconds with an optional sign and fraction, rounded down to whole ones.
bool ParseTime(std::string_view text, std::int64_t* seconds)
{
    const bool negative = !text.empty() && text[0] == '-';
    if (negative)
        text.remove_prefix(1);
    const std::size_t point = text.find('.');
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    std::uint64_t whole = 0;
    if (!ParseDecimal(text.substr(0, point), &whole) ||
        fraction.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    const bool partial = fraction.find_first_not_of('0') != std::string_view::npos;
    *seconds = negative ? -static_cast<std::int64_t>(whole) - (partial ? 1 : 0)
                        : static_cast<std::int64_t>(whole);
    return true;
}

// One record, "KEYWORD=VALUE": the keywords that change what is installed
// are taken, the others ignored.
bool TakeRecord(std::string_view record, ExtendedHeader* extended)
{
    const std::size_t equals = record.find('=');
    if (equals == std::string_view::npos)
        return false;
    const std::string_view keyword = record.substr(0, equals);
    const std::string_view value = record.substr(equals + 1);
    if (keyword == "path" || keyword == "linkpath") {
        (keyword == "path" ? extended->path : extended->linkpath) = value;
        return value.find('\0') == std::string_view::npos;
    }
    if (keyword == "size") {
        extended->hasSize = !value.empty();
        return value.empty() || ParseDecimal(value, &extended->size);
    }
    if (keyword == "mtime") {
        extended->hasMtime = !value.empty();
        return value.empty() || ParseTime(value, &extended->mtime);
    }
    return true;
}

// Records "LENGTH KEYWORD=VALUE\n", LENGTH in decimal counting the whole
// record.
bool ReadRecords(std::string_view records, ExtendedHeader* extended)
{
    while (!records.empty()) {
        const std::size_t blank = records.find(' ');
        std::uint64_t length = 0;
        if (blank == std::string_view::npos || !ParseDecimal(records.substr(0, blank), &length) ||
            length <= blank + 1 || length > records.size() || records[length - 1] != '\n' ||
            !TakeRecord(records.substr(blank + 1, length - blank - 2), extended))
            return false;
        records.remove_prefix(length);
    }
    return true;
}

// A file whose name ends in "/" is a folder to most tars, its data their
// headers: only folders may end in "/" or "/.", so that the archive means
// the same to every reader.
bool EndsLikeFolder(const std::string& raw)
{
    const std::size_t slash = raw.rfind('/');
    const std::string_view last =
        std::string_view(raw).substr(slash == std::string::npos ? 0 : slash + 1);
    return last.empty() || last == ".";
}

}  // namespace

bool TarFilter::Refuse(Fault fault, const std::string& name, char type)
{
    if (refusal_.ok()) {
        refusal_ = Found(fault, name);
        if (type != '\0')
            refusal_.other = std::string(1, type);
    }
    return false;
}

bool TarFilter::Pass(const char* blocks, std::size_t count, const ArchiveSink& sink)
{
    // Runs of what is kept, handed on once the whole of it is checked: the
    // data is never moved, however many headers are left out before it.
    runs_.clear();
    const auto keep = [this](std::size_t at, std::size_t length) {
        if (!runs_.empty() && runs_.back().second == at)
            runs_.back().second += length;
        else
            runs_.emplace_back(at, at + length);
    };
    for (std::size_t at = 0; at < count && !Refused();) {
        if (extendedLeft_ > 0) {
            const std::size_t run = std::min<std::uint64_t>(extendedLeft_, count - at);
            TakeExtended(blocks + at, run);
            at += run;
            continue;
        }
        if (dataLeft_ > 0) {
            const std::size_t run = std::min<std::uint64_t>(dataLeft_, count - at);
            keep(at, run);
            at += run;
            dataLeft_ -= run;
            continue;
        }
        const char* block = blocks + at;
        at += kTarBlock;
        if (ended_) {
            if (!IsZero(block, kTarBlock))
                Refuse(Fault::kDataAfterEnd);
            continue;
        }
        if (IsZero(block, kTarBlock)) {
            ended_ = true;
            if (extendedPending_)
                Refuse(Fault::kArchiveEndsEarly);
            continue;
        }
        bool kept = true;
        if (CheckHeader(block, &kept) && kept)
            keep(at - kTarBlock, kTarBlock);
    }
    if (Refused())
        return false;
    for (const auto& [from, to] : runs_) {
        if (!sink(blocks + from, to - from))
            return false;
    }
    return true;
}

bool TarFilter::CheckHeader(const char* header, bool* keep)
{
    if (std::memcmp(header + kMagic.offset, "ustar", 5) != 0 || !ChecksumMatches(header))
        return Refuse(Fault::kDamagedHeader);
    const std::string prefix = IsPosix(header) ? Text(header, kPrefix) : "";
    std::string raw = (prefix.empty() ? "" : prefix + "/") + Text(header, kName);
    std::string link = Text(header, kLinkName);
    std::uint64_t size = 0, mode = 0, mtime = 0;
    if (!ParseNumber(header, kSize, &size) || !ParseNumber(header, kMode, &mode) ||
        !ParseNumber(header, kMtime, &mtime))
        return Refuse(Fault::kDamagedHeader);
    const char type = header[kType] == '\0' ? '0' : header[kType];
    if (type == 'x') {
        *keep = false;  // read here, never written
        return BeginExtended(size);
    }
    auto time = static_cast<std::int64_t>(mtime);
    if (extendedPending_) {
        raw = extended_.path.empty() ? raw : extended_.path;
        link = extended_.linkpath.empty() ? link : extended_.linkpath;
        size = extended_.hasSize ? extended_.size : size;
        time = extended_.hasMtime ? extended_.mtime : time;
        extended_ = ExtendedHeader();
        extendedPending_ = false;
    }
    std::string name;
    if (!NormalName(raw, &name))
        return Refuse(Fault::kMemberOutside, raw);
    const std::size_t linkLength = link.size();
    if (name.empty() && type == '5') {
        *keep = false;  // the destination itself
        return Count(type, 0, 0, true);
    }
    if (type != '5' && EndsLikeFolder(raw))
        return Refuse(Fault::kDamagedHeader);
    // What a link points to as installed: a hard link's member by its name.
    const std::string target = type == '1' ? LinkTarget(link) : type == '2' ? link : "";
    if (!CheckName(name, type) || !CheckType(name, type, size, target))
        return false;
    if (name == "ovelo" && !(mode & 0111))
        return Refuse(Fault::kPlayerNotExecutable);
    if (!Count(type, size, linkLength, false))
        return false;
    player_ = player_ || name == "ovelo";
    Remember(name, type, target);
    dataLeft_ = type == '0' ? (size + kTarBlock - 1) / kTarBlock * kTarBlock : 0;
    if (onEntry) {
        onEntry({type, name, static_cast<unsigned>(mode & 07777 & ~kClearedModeBits),
                 type == '0' ? size : 0, target, time});
    }
    return true;
}

// The records are held until the next header, which they describe;
// several extended headers in a row add up.
bool TarFilter::BeginExtended(std::uint64_t size)
{
    if (size > kLargestExtended)
        return Refuse(Fault::kExtendedTooLarge);
    extendedSize_ = size;
    extendedLeft_ = (size + kTarBlock - 1) / kTarBlock * kTarBlock;
    extendedPending_ = true;
    records_.clear();
    return extendedLeft_ > 0 || ReadRecords(records_, &extended_);
}

void TarFilter::TakeExtended(const char* data, std::size_t count)
{
    records_.append(data, std::min<std::uint64_t>(count, extendedSize_ - records_.size()));
    extendedLeft_ -= count;
    if (extendedLeft_ == 0 && !ReadRecords(records_, &extended_))
        Refuse(Fault::kDamagedHeader);
}

// What a name stands for; a folder above for one never named.
TarFilter::Named TarFilter::NamedAs(const std::string& name) const
{
    const auto found = named_.find(name);
    return found == named_.end() ? Named::kAbove : found->second;
}

// A member taken: it, and the folders above it not named before.  A hard
// link to a symbolic link is one as well.
void TarFilter::Remember(const std::string& name, char type, const std::string& target)
{
    Named kind = Named::kFile;
    if (type == '5')
        kind = Named::kFolder;
    else if (type == '2' || (type == '1' && NamedAs(target) == Named::kLink))
        kind = Named::kLink;
    named_[name] = kind;
    for (std::size_t slash = name.rfind('/'); slash != std::string::npos && slash > 0;
         slash = name.rfind('/', slash - 1))
        if (!named_.emplace(name.substr(0, slash), Named::kAbove).second)
            break;
}

// A member below an earlier symbolic link would be written wherever it
// points; one below a file, or a second one of a name, would replace what
// was written before.
bool TarFilter::CheckName(const std::string& name, char type)
{
    if (name.empty())
        return Refuse(Fault::kTopFolderAsOther, "", type);
    // From the folder right above up to the first one known to be a folder,
    // as everything above that was looked at when it became known.
    for (std::size_t slash = name.rfind('/'); slash != std::string::npos && slash > 0;
         slash = name.rfind('/', slash - 1)) {
        const auto above = named_.find(name.substr(0, slash));
        if (above == named_.end())
            continue;
        if (above->second == Named::kLink)
            return Refuse(Fault::kBelowLink, name);
        if (above->second == Named::kFile)
            return Refuse(Fault::kBelowFile, name);
        break;
    }
    // A name once used stands; a folder only seen above others may come
    // as itself, as a folder.
    const auto same = named_.find(name);
    if (same != named_.end() && (same->second != Named::kAbove || type != '5'))
        return Refuse(Fault::kTwice, name);
    if (name.compare(0, sizeof kReservedPrefix - 1, kReservedPrefix) == 0 &&
        name.find('/') == std::string::npos)
        return Refuse(Fault::kReservedName, name);
    if (name == "ovelo" && type != '0')
        return Refuse(Fault::kPlayerNotRegular);
    return true;
}

bool TarFilter::CheckType(const std::string& name, char type, std::uint64_t size,
                          const std::string& target)
{
    switch (type) {
    case '0':
        return true;
    case '1': {
        const Named named = NamedAs(target);
        if (named != Named::kFile && named != Named::kLink)
            return Refuse(Fault::kHardLinkToNothing, name);
        return size == 0 || Refuse(Fault::kDamagedHeader);
    }
    case '2':
    case '5':
        return size == 0 || Refuse(Fault::kDamagedHeader);
    default:
        return Refuse(Fault::kUnsupportedMember, name, type);
    }
}

// Into the totals, which may not pass the seal's.
bool TarFilter::Count(char type, std::uint64_t size, std::size_t linkLength, bool top)
{
    tally_.Add(type, size, linkLength, top);
    return !seal_ || tally_.Within(*seal_) || Refuse(Fault::kSealMismatch);
}

bool TarFilter::Finish()
{
    if (Refused())
        return false;
    if (!ended_ || dataLeft_ > 0 || extendedLeft_ > 0)
        return Refuse(Fault::kArchiveEndsEarly);
    if (!player_)
        return Refuse(Fault::kNoPlayer);
    if (seal_ && !tally_.Matches(*seal_))
        return Refuse(Fault::kSealMismatch);
    return true;
}
