// Listing the product tree and reading it into the archive.
#include "product_archive.h"

#include "beneath.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr std::size_t kBlock = 512;
constexpr char kPlayer[] = "ovelo";
// The installer opens every entry by its path under the destination, which
// the system takes up to this long.
constexpr std::size_t kLongestPath = PATH_MAX - 1;
// What 11 octal digits hold: the largest size and time of a ustar header.
constexpr std::uint64_t kLargestOctal = 077777777777;

// ---- Names as they are shown ----

// A name on one line whatever it holds: control characters and the
// backslash in octal.
std::string Shown(const std::string& path)
{
    std::string shown;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < ' ' || byte == 127 || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\%03o", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string Dotted(const std::string& path)
{
    return path.empty() ? "./" : "./" + path;
}

// ---- The listing ----

struct Listing {
    int root = -1;
    std::optional<std::int64_t> latestTime;
    std::vector<Member> members;
    std::vector<nlink_t> links;   // each member's count of names
    std::vector<std::string> specials;
};

// The archived mode: what a root installation may hand to everyone.
unsigned ArchivedMode(const struct stat& info)
{
    if (S_ISREG(info.st_mode))
        return info.st_mode & S_IXUSR ? 0755 : 0644;
    return 0755;
}

bool ReadLink(int folder, const std::string& name, std::string* target)
{
    std::string buffer(PATH_MAX, '\0');
    const ssize_t length = readlinkat(folder, name.c_str(), buffer.data(), buffer.size());
    if (length < 0 || static_cast<std::size_t>(length) >= buffer.size())
        return false;
    target->assign(buffer.data(), length);
    return true;
}

bool Unreadable(const std::string& path, std::string* error)
{
    *error = "could not read " + Shown(Dotted(path)) + ": " + std::strerror(errno);
    return false;
}

// One name of a folder into the listing; its subfolders into *folders.
bool ListEntry(int folder, const std::string& path, const std::string& name, Listing* listing,
               std::vector<std::string>* folders, std::string* error)
{
    struct stat info;
    if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == -1)
        return Unreadable(path, error);
    if (path.size() > kLongestPath) {
        *error = Shown(Dotted(path.substr(0, 200))) + "... is longer than the " +
                 std::to_string(kLongestPath) + " bytes of a path the installer can write";
        return false;
    }
    Member member;
    member.path = path;
    member.mode = ArchivedMode(info);
    member.mtime = info.st_mtim.tv_sec;
    if (listing->latestTime)
        member.mtime = std::min<std::int64_t>(member.mtime, *listing->latestTime);
    member.device = info.st_dev;
    member.inode = info.st_ino;
    if (S_ISDIR(info.st_mode)) {
        member.type = '5';
        folders->push_back(path);
    } else if (S_ISREG(info.st_mode)) {
        member.size = static_cast<std::uint64_t>(info.st_size);
        member.setId = info.st_mode & (S_ISUID | S_ISGID);
        member.sparse = static_cast<std::uint64_t>(info.st_blocks) * 512 < member.size;
    } else if (S_ISLNK(info.st_mode)) {
        member.type = '2';
        if (!ReadLink(folder, name, &member.link))
            return Unreadable(path, error);
    } else {
        listing->specials.push_back(path);
        return true;
    }
    listing->members.push_back(std::move(member));
    listing->links.push_back(info.st_nlink);
    return true;
}

// The folder at path and everything below it, one folder open at a time.
bool ListFolder(const std::string& path, Listing* listing, std::string* error)
{
    Descriptor opened = OpenBeneath(listing->root, path, O_RDONLY | O_DIRECTORY);
    DIR* folder = opened ? fdopendir(opened.get()) : nullptr;
    if (!folder)
        return Unreadable(path, error);
    opened.Release();  // the listing closes it
    std::vector<std::string> folders;
    bool listed = true;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(folder);
        if (!entry) {
            listed = errno == 0 || Unreadable(path, error);
            break;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        if (!ListEntry(dirfd(folder), Joined(path, entry->d_name), entry->d_name, listing,
                       &folders, error)) {
            listed = false;
            break;
        }
    }
    closedir(folder);
    for (const std::string& below : folders)
        if (!listed || !ListFolder(below, listing, error))
            return false;
    return listed;
}

// Byte order of the paths, the top folder first and the player last.
bool ArchivedBefore(const Member& a, const Member& b)
{
    if (a.path.empty() || b.path == kPlayer)
        return !b.path.empty() && a.path != kPlayer;
    if (b.path.empty() || a.path == kPlayer)
        return false;
    return a.path < b.path;
}

// Every later name of a file (or link) with several becomes a hard link to
// the first.  The player is always a file of its own.
void MakeHardLinks(Listing* listing)
{
    std::map<std::pair<dev_t, ino_t>, std::string> first;
    for (std::size_t i = 0; i < listing->members.size(); ++i) {
        Member& member = listing->members[i];
        if (member.type == '5' || member.path == kPlayer || listing->links[i] < 2)
            continue;
        const auto named = first.emplace(std::make_pair(member.device, member.inode),
                                         Dotted(member.path));
        if (named.second)
            continue;
        member.type = '1';
        member.link = named.first->second;
        member.size = 0;
        member.setId = 0;
    }
}

bool RefuseSpecials(const std::string& product, std::vector<std::string> specials,
                    std::string* error)
{
    std::sort(specials.begin(), specials.end());
    *error = product + " holds device nodes, FIFOs or sockets, which are never shipped; "
                       "nothing written:";
    for (const std::string& path : specials)
        *error += "\n" + Shown(Dotted(path));
    return false;
}

// ---- Headers ----

void PutText(char* header, std::size_t offset, std::size_t length, const std::string& text)
{
    std::memcpy(header + offset, text.data(), std::min(length, text.size()));
}

// Octal digits filling the field but its last byte, a NUL.
void PutOctal(char* header, std::size_t offset, std::size_t length, std::uint64_t value)
{
    char digits[24];
    std::snprintf(digits, sizeof digits, "%0*llo", static_cast<int>(length - 1),
                  static_cast<unsigned long long>(value));
    std::memcpy(header + offset, digits, length);
}

// A ustar header of the given name fields; its checksum last.
std::string UstarHeader(const std::string& name, const std::string& prefix, char type,
                        unsigned mode, std::uint64_t size, std::uint64_t mtime,
                        const std::string& link)
{
    std::string block(kBlock, '\0');
    char* header = block.data();
    PutText(header, 0, 100, name);
    PutOctal(header, 100, 8, mode);
    PutOctal(header, 108, 8, 0);
    PutOctal(header, 116, 8, 0);
    PutOctal(header, 124, 12, size);
    PutOctal(header, 136, 12, mtime);
    header[156] = type;
    PutText(header, 157, 100, link);
    PutText(header, 257, 8, std::string("ustar\0" "00", 8));
    PutText(header, 265, 32, "root");
    PutText(header, 297, 32, "root");
    PutOctal(header, 329, 8, 0);
    PutOctal(header, 337, 8, 0);
    PutText(header, 345, 155, prefix);
    std::memset(header + 148, ' ', 8);
    unsigned sum = 0;
    for (const char c : block)
        sum += static_cast<unsigned char>(c);
    std::snprintf(header + 148, 8, "%06o", sum);
    return block;
}

// The name cut at a slash into the header's prefix (155 bytes) and name
// (100 bytes), when it can be.
bool SplitName(const std::string& name, std::string* prefix, std::string* rest)
{
    if (name.size() <= 100) {
        prefix->clear();
        *rest = name;
        return true;
    }
    const std::size_t slash = name.find('/', name.size() - 101);
    if (slash == std::string::npos || slash > 155 || slash + 1 == name.size())
        return false;
    *prefix = name.substr(0, slash);
    *rest = name.substr(slash + 1);
    return true;
}

// "LENGTH KEYWORD=VALUE\n", LENGTH counting the whole record.
std::string Record(const std::string& keyword, const std::string& value)
{
    const std::size_t text = keyword.size() + value.size() + 3;  // blank, '=', newline
    std::size_t length = text + 1;
    while (std::to_string(length).size() + text != length)
        ++length;
    return std::to_string(length) + " " + keyword + "=" + value + "\n";
}

std::string Padded(std::string data)
{
    data.append((kBlock - data.size() % kBlock) % kBlock, '\0');
    return data;
}

// The member's header, behind a pax extended header when its ustar header
// can not hold its name, link target, size or time.
std::string Headers(const Member& member)
{
    const std::string name = Dotted(member.path) + (member.type == '5' && !member.path.empty() ? "/" : "");
    std::string prefix, rest, records;
    if (!SplitName(name, &prefix, &rest)) {
        records += Record("path", name);
        prefix.clear();
        rest = name;
    }
    if (member.link.size() > 100)
        records += Record("linkpath", member.link);
    if (member.size > kLargestOctal)
        records += Record("size", std::to_string(member.size));
    if (member.mtime < 0 || static_cast<std::uint64_t>(member.mtime) > kLargestOctal)
        records += Record("mtime", std::to_string(member.mtime));
    const std::uint64_t mtime = std::clamp<std::int64_t>(member.mtime, 0, kLargestOctal);
    const std::string header = UstarHeader(rest, prefix, member.type, member.mode,
                                           member.size > kLargestOctal ? 0 : member.size, mtime,
                                           member.link);
    if (records.empty())
        return header;
    const std::string last = member.path.substr(member.path.rfind('/') + 1);
    const std::string extended = UstarHeader("./PaxHeaders/" + (last.empty() ? "." : last), "",
                                             'x', 0644, records.size(), mtime, "");
    return extended + Padded(records) + header;
}

// ---- What is not shipped ----

// Labels of the packager's own system, which mean nothing on another.
bool IsSystemLabel(const std::string& name)
{
    return name == "security.selinux" || name == "security.apparmor" ||
           name.compare(0, 16, "security.SMACK64") == 0;
}

bool IsAcl(const std::string& name)
{
    return name == "system.posix_acl_access" || name == "system.posix_acl_default" ||
           name == "system.nfs4_acl";
}

// The extended attributes of the file open on fd, but the system's labels.
std::vector<std::string> Attributes(int fd)
{
    std::string list;
    ssize_t length = flistxattr(fd, nullptr, 0);
    while (length > 0) {
        list.resize(static_cast<std::size_t>(length));
        const ssize_t got = flistxattr(fd, list.data(), list.size());
        if (got >= 0) {
            list.resize(static_cast<std::size_t>(got));
            break;
        }
        list.clear();
        length = errno == ERANGE ? flistxattr(fd, nullptr, 0) : -1;  // ERANGE: one came meanwhile
    }
    std::vector<std::string> names;
    for (std::size_t at = 0; at < list.size();) {
        const std::string name(list.c_str() + at);
        at += name.size() + 1;
        if (!name.empty() && !IsSystemLabel(name))
            names.push_back(name);
    }
    return names;
}

std::string Listed(const std::vector<std::string>& items)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return text;
}

// One line a file, naming all it loses.
void WarnOfWhatIsLeft(const Member& member, const std::vector<std::string>& attributes)
{
    std::vector<std::string> left;
    if ((member.setId & S_ISUID) && (member.setId & S_ISGID))
        left.push_back("its set-user-ID and set-group-ID bits");
    else if (member.setId)
        left.push_back(member.setId & S_ISUID ? "its set-user-ID bit" : "its set-group-ID bit");
    std::vector<std::string> others;
    bool acl = false;
    for (const std::string& name : attributes) {
        if (IsAcl(name))
            acl = true;
        else
            others.push_back(Shown(name));
    }
    if (acl)
        left.push_back("its ACL");
    if (!others.empty())
        left.push_back((others.size() == 1 ? "its extended attribute " : "its extended attributes ") +
                       Listed(others));
    if (!left.empty())
        std::fprintf(stderr, "mkinstaller: warning: %s is shipped without %s\n",
                     Shown(Dotted(member.path)).c_str(), Listed(left).c_str());
}

}  // namespace

bool ListProduct(int root, const std::string& product, std::optional<std::int64_t> latestTime,
                 std::vector<Member>* members, std::string* error)
{
    Listing listing;
    listing.root = root;
    listing.latestTime = latestTime;
    std::vector<std::string> top;
    if (!ListEntry(root, "", ".", &listing, &top, error) || !ListFolder("", &listing, error))
        return false;
    if (!listing.specials.empty())
        return RefuseSpecials(product, listing.specials, error);
    std::vector<std::size_t> order(listing.members.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&listing](std::size_t a, std::size_t b) {
        return ArchivedBefore(listing.members[a], listing.members[b]);
    });
    Listing sorted;
    for (const std::size_t i : order) {
        sorted.members.push_back(std::move(listing.members[i]));
        sorted.links.push_back(listing.links[i]);
    }
    const Member& player = sorted.members.back();
    if (player.path != kPlayer || player.type != '0') {
        *error = product + " has no executable regular file \"ovelo\" at its top; nothing written";
        return false;
    }
    sorted.members.back().mode = 0755;
    MakeHardLinks(&sorted);
    *members = std::move(sorted.members);
    return true;
}

std::uint64_t ArchiveSize(const std::vector<Member>& members)
{
    std::uint64_t size = 2 * kBlock;
    for (const Member& member : members)
        size += Headers(member).size() + (member.size + kBlock - 1) / kBlock * kBlock;
    return size;
}

bool ArchiveStream::Fill(unsigned char* out, std::size_t count, std::string* error)
{
    while (count > 0) {
        std::size_t run = 0;
        if (sent_ < pending_.size()) {
            run = std::min(count, pending_.size() - sent_);
            std::memcpy(out, pending_.data() + sent_, run);
            sent_ += run;
        } else if (dataLeft_ > 0) {
            if (!ReadData(out, count, &run, error))
                return false;
        } else if (padding_ > 0) {
            run = std::min<std::uint64_t>(count, padding_);
            std::memset(out, 0, run);
            padding_ -= run;
        } else if (!Next(error)) {
            return false;
        }
        out += run;
        count -= run;
    }
    return true;
}

// The next bytes of the file's content; a hole is not read but made of
// zeros, which a sparse file of gigabytes makes much faster.
bool ArchiveStream::ReadData(unsigned char* out, std::size_t count, std::size_t* got,
                             std::string* error)
{
    const std::uint64_t offset = current_->size - dataLeft_;
    if (offset >= runEnd_)
        FindRun(offset);
    const std::size_t want = std::min<std::uint64_t>(std::min<std::uint64_t>(count, dataLeft_),
                                                     runEnd_ - offset);
    ssize_t read = static_cast<ssize_t>(want);
    if (inHole_)
        std::memset(out, 0, want);
    else
        do
            read = pread(file_.get(), out, want, static_cast<off_t>(offset));
        while (read < 0 && errno == EINTR);
    if (read <= 0) {
        *error = read < 0 ? "could not read " + Shown(Dotted(current_->path)) + ": " +
                                std::strerror(errno)
                          : Shown(Dotted(current_->path)) + " changed while it was packed";
        return false;
    }
    *got = static_cast<std::size_t>(read);
    dataLeft_ -= *got;
    return true;
}

// Where the data or hole at offset ends; all of a file without holes, or
// on a file system that does not tell, is data.
void ArchiveStream::FindRun(std::uint64_t offset)
{
    inHole_ = false;
    runEnd_ = current_->size;
    if (!current_->sparse)
        return;
    const off_t data = lseek(file_.get(), static_cast<off_t>(offset), SEEK_DATA);
    if (data == -1 && errno == ENXIO) {
        inHole_ = true;  // to the end
    } else if (data > static_cast<off_t>(offset)) {
        inHole_ = true;
        runEnd_ = std::min<std::uint64_t>(runEnd_, static_cast<std::uint64_t>(data));
    } else if (data == static_cast<off_t>(offset)) {
        const off_t hole = lseek(file_.get(), data, SEEK_HOLE);
        if (hole > data)
            runEnd_ = std::min<std::uint64_t>(runEnd_, static_cast<std::uint64_t>(hole));
    }
}

// The next member's headers, and its file opened; then the end blocks.
bool ArchiveStream::Next(std::string* error)
{
    file_ = Descriptor();
    sent_ = 0;
    if (next_ < members_.size()) {
        current_ = &members_[next_++];
        pending_ = Headers(*current_);
        return Open(*current_, error);
    }
    if (ended_) {
        *error = "the archive came out shorter than it was measured";
        return false;
    }
    ended_ = true;
    pending_.assign(2 * kBlock, '\0');
    return true;
}

// Files and folders are opened to see what they carry that is not shipped;
// a file, to read it, as it was listed.
bool ArchiveStream::Open(const Member& member, std::string* error)
{
    if (member.type != '0' && member.type != '5')
        return true;
    const int flags = O_RDONLY | O_NONBLOCK | (member.type == '5' ? O_DIRECTORY : 0);
    file_ = OpenBeneath(root_, member.path, flags);
    struct stat info;
    if (!file_ || fstat(file_.get(), &info) == -1) {
        *error = "could not read " + Shown(Dotted(member.path)) + ": " + std::strerror(errno);
        return false;
    }
    if (info.st_dev != member.device || info.st_ino != member.inode ||
        (member.type == '0' && static_cast<std::uint64_t>(info.st_size) != member.size)) {
        *error = Shown(Dotted(member.path)) + " changed while it was packed";
        return false;
    }
    WarnOfWhatIsLeft(member, Attributes(file_.get()));
    dataLeft_ = member.type == '0' ? member.size : 0;
    padding_ = (kBlock - dataLeft_ % kBlock) % kBlock;
    runEnd_ = 0;
    return true;
}
