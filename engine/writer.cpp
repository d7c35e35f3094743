// Writing the product, putting it in place, and putting back what was.
#include "writer.h"

#include "beneath.h"
#include "bytes.h"
#include "destination.h"
#include "format.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <sys/uio.h>
#include <unistd.h>
#include <unordered_set>

namespace {

// A new destination's hidden folder: ".ovelo8-NAME", told apart from others
// of long names by its checksum.
std::string HiddenName(const std::string& name)
{
    return NameWithin(kReservedPrefix, name, "");
}

// Clears what a killed run left beside a new destination; true, leaving
// it, when a run still going holds it (locked).
bool LeftoverBusy(int folder, const char* name)
{
    const Descriptor left(openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (left && flock(left.get(), LOCK_EX | LOCK_NB) == -1)
        return true;
    RemoveTree(folder, name);  // what is left is said when the new one can not be made
    return false;
}

// A folder of ours, locked for as long as the run lasts.
Descriptor MakeLockedFolder(int folder, const char* name)
{
    if (mkdirat(folder, name, 0700) == -1)
        return Descriptor();
    Descriptor made = OpenBeneath(folder, name, O_RDONLY | O_DIRECTORY);
    if (made)
        flock(made.get(), LOCK_EX | LOCK_NB);
    return made;
}

// How the folder open on fd is now, to be put back so.
FolderState StateOf(int fd, const std::string& path)
{
    FolderState state;
    struct stat info;
    state.path = path;
    if (fstat(fd, &info) == 0) {
        state.mode = info.st_mode & 07777;
        state.times[0] = info.st_atim;
        state.times[1] = info.st_mtim;
    }
    return state;
}

// Only the modification time is set, as tar does.
void SetTime(timespec times[2], std::int64_t mtime)
{
    times[0] = {0, UTIME_OMIT};
    times[1] = {static_cast<time_t>(mtime), 0};
}

// Installed times are whole seconds.
bool HasTime(const struct stat& info, std::int64_t mtime)
{
    return info.st_mtim.tv_sec == mtime && info.st_mtim.tv_nsec == 0;
}

// The block of the file system holding the folder, in which a run of
// zeros can be left unwritten; a reasonable one when it says none.
std::size_t BlockOf(int folder)
{
    struct statvfs fs;
    if (fstatvfs(folder, &fs) == -1 || fs.f_frsize < 512 || fs.f_frsize > 1024 * 1024)
        return 4096;
    return fs.f_frsize;
}

}  // namespace

ProductWriter::ProductWriter()
{
    stream_.onEntry = [this](const ArchiveEntry& entry) { return BeginEntry(entry); };
    stream_.onContent = [this](const char* data, std::size_t count) { return TakeData(data, count); };
    stream_.onEnd = [this] { return EndFile(); };
    umask_ = umask(0);
    umask(umask_);
    asRoot_ = geteuid() == 0;
    chown_ = asRoot_ && getegid() != 0;
}

ProductWriter::~ProductWriter()
{
    RollBack();
}

Outcome ProductWriter::BeginNew(int parent, const std::string& name)
{
    name_ = name;
    hidden_ = HiddenName(name);
    if (LeftoverBusy(parent, hidden_.c_str()))
        return Found(Fault::kBusy);
    root_ = MakeLockedFolder(parent, hidden_.c_str());
    if (!root_) {
        const int error = errno;
        unlinkat(parent, hidden_.c_str(), AT_REMOVEDIR);
        return Found(Fault::kCannotMakeDestination, "", error);
    }
    folders_[""] = ArchiveFolder{false, ""};
    holeSize_ = BlockOf(root_.get());
    begun_ = true;
    return Outcome();
}

Outcome ProductWriter::BeginExisting(int folder)
{
    existing_ = true;
    root_ = Descriptor(fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (!root_)
        return Found(Fault::kNotWritable, "", errno);
    // Whoever may not search it could not enter it to start the player.
    if (!Descriptor(openat(root_.get(), "..", O_PATH | O_CLOEXEC)))
        return Found(Fault::kCannotEnter, "", errno);
    rootBefore_ = StateOf(root_.get(), "");
    heldFiles_ = HoldsAnythingBut(root_.get(), kWorkName);
    const Outcome taken = work_.Take(root_.get(), &recovered_);
    if (!taken.ok()) {
        ApplyFolderState(root_.get(), rootBefore_);
        return taken;
    }
    begun_ = true;
    if (ReadManifest(root_.get(), &earlier_, &earlierVersion_) != ManifestRead::kRead) {
        // One that could not be read for want of memory or descriptors is
        // no less there: going on without it would leave what it lists.
        if (IsShortage(errno))
            return Found(Fault::kNotWritable, kManifestName, errno);
        earlier_.clear();  // what no manifest lists is never touched
    }
    for (std::size_t i = 0; i < earlier_.size(); ++i)
        earlierIndex_[earlier_[i].path] = i;
    folders_[""] = ArchiveFolder{true, ""};
    holeSize_ = BlockOf(root_.get());
    return Outcome();
}

// The folder a new destination's hidden folder lies in, from the hidden
// folder itself: one descriptor fewer to hold while writing.
Descriptor ProductWriter::Parent() const
{
    return Descriptor(openat(root_.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
}

int ProductWriter::Folder() const
{
    return root_.get();
}

bool ProductWriter::Fail(Fault fault, const std::string& path, int error)
{
    if (failure_.ok())
        failure_ = Found(fault, path, error);
    return false;
}

bool ProductWriter::FailWithErrno(Fault fault, const std::string& path)
{
    return Fail(fault, path, errno);
}

int ProductWriter::StagingRoot() const
{
    return existing_ ? work_.Staging() : root_.get();
}

// Root writes into or removes from a folder of the destination only when
// nobody else could change what is in it, as for the destination itself.
bool ProductWriter::Trusted(const std::string& path)
{
    const Descriptor folder = OpenBeneath(root_.get(), path, O_PATH | O_DIRECTORY);
    if (!folder)
        return FailWithErrno(Fault::kCannotReach, path);
    const Fault distrust = RootsDistrust(folder.get());
    return distrust == Fault::kNone || Fail(distrust, path);
}

unsigned ProductWriter::ModeOf(unsigned archived) const
{
    return asRoot_ ? archived : archived & ~umask_;
}

// Root's products are root's; name null for the file open on fd itself.
void ProductWriter::Own(int fd, const char* name, int flags)
{
    if (chown_)
        fchownat(fd, name ? name : "", 0, 0, name ? flags : AT_EMPTY_PATH);
}

// Entries come folder by folder: the last folder opened usually serves.
int ProductWriter::StagedFolder(const std::string& stagedPath)
{
    if (stagedPath.empty())
        return StagingRoot();
    if (!stagedCache_ || stagedPath != stagedCachePath_) {
        stagedCache_ = OpenBeneath(StagingRoot(), stagedPath, O_PATH | O_DIRECTORY);
        stagedCachePath_ = stagedPath;
    }
    return stagedCache_.get();
}

int ProductWriter::DestinationFolder(const std::string& path)
{
    if (path.empty())
        return root_.get();
    if (!destinationCache_ || path != destinationCachePath_) {
        destinationCache_ = OpenBeneath(root_.get(), path, O_PATH | O_DIRECTORY);
        destinationCachePath_ = path;
    }
    return destinationCache_.get();
}

// Under a low limit of descriptors, none is held that is not needed.
void ProductWriter::ForgetFolders()
{
    stagedCache_ = Descriptor();
    destinationCache_ = Descriptor();
}

bool ProductWriter::ExistsAsFolder(const std::string& path)
{
    if (path.empty())
        return true;  // the destination itself
    struct stat info;
    const int at = DestinationFolder(FolderOf(path));
    return at != -1 && fstatat(at, LastName(path).c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(info.st_mode);
}

// An entry below a folder of the existing destination is written flat in
// the staging area, under the number of its move; below a new folder, in
// that folder.
std::string ProductWriter::StagedName(const ArchiveFolder& parent, const std::string& path)
{
    if (parent.existing)
        return std::to_string(journal_.moves.size());
    return Joined(parent.staged, LastName(path));
}

// A folder the archive does not list is made as tar makes it.
const ProductWriter::ArchiveFolder* ProductWriter::EnsureFolder(const std::string& path)
{
    const auto found = folders_.find(path);
    if (found != folders_.end())
        return &found->second;
    const ArchiveEntry implicit{'5', path, 0755, 0, std::string(), time(nullptr)};
    return MakeFolder(implicit) ? &folders_[path] : nullptr;
}

bool ProductWriter::MakeFolder(const ArchiveEntry& entry)
{
    const ArchiveFolder* parent = EnsureFolder(FolderOf(entry.path));
    if (!parent)
        return false;
    ArchiveFolder made;
    if (parent->existing && ExistsAsFolder(entry.path)) {
        made.existing = true;
        if (!Trusted(entry.path))
            return false;
    } else {
        made.staged = StagedName(*parent, entry.path);
        if (parent->existing)
            journal_.moves.push_back({Move::Kind::kEntry, entry.path, made.staged});
        if (mkdirat(StagedFolder(FolderOf(made.staged)), LastName(made.staged).c_str(), 0700) == -1)
            return FailWithErrno(Fault::kCannotMake, entry.path);
    }
    folders_[entry.path] = made;
    looks_.push_back({entry.path, entry.mode, entry.mtime});
    manifest_.push_back({'d', ModeOf(entry.mode), 0, 0, entry.path});
    return true;
}

bool ProductWriter::BeginEntry(const ArchiveEntry& entry)
{
    if (entry.type == '5')
        return MakeFolder(entry);
    const ArchiveFolder* parent = EnsureFolder(FolderOf(entry.path));
    if (!parent)
        return false;
    // An entry already in the destination as it is to be stays untouched:
    // nothing is staged for it, and nothing moves.
    if (parent->existing && AlreadyInPlace(entry)) {
        staged_[entry.path] = std::string();
        if (entry.type == '0')
            return CompareFile(entry);
        if (entry.type == '1')
            return ListHardLink(entry);
        ListLink(entry);
        return true;
    }
    const std::string staged = Stage(*parent, entry.path);
    if (entry.type == '2')
        return MakeLink(entry, staged);
    if (entry.type == '1')
        return MakeHardLink(entry, staged);
    return StartFile(entry, staged);
}

// A name in the staging area for the entry, and its move when it is to
// replace what the existing destination holds.
std::string ProductWriter::Stage(const ArchiveFolder& parent, const std::string& path)
{
    const std::string staged = StagedName(parent, path);
    if (parent.existing)
        journal_.moves.push_back({Move::Kind::kEntry, path, staged});
    // A file found different only when compared was taken as left in place.
    if (staged != path || staged_.count(path))
        staged_[path] = staged;
    return staged;
}

// What the entry's owner, mode and time are once installed, against what
// the destination holds at its name; for a file, its size; for a link,
// its target; for a hard link, the file its target is, left in place.
bool ProductWriter::AlreadyInPlace(const ArchiveEntry& entry)
{
    const int at = DestinationFolder(FolderOf(entry.path));
    const std::string name = LastName(entry.path);
    struct stat there;
    if (at == -1 || fstatat(at, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == -1 ||
        !OwnedAsInstalled(there))
        return false;
    switch (entry.type) {
    case '0':
        return S_ISREG(there.st_mode) && static_cast<std::uint64_t>(there.st_size) == entry.size &&
               (there.st_mode & 07777) == ModeOf(entry.mode) && HasTime(there, entry.mtime);
    case '2':
        return S_ISLNK(there.st_mode) && HasTime(there, entry.mtime) &&
               LinkTargetIs(at, name, entry.link);
    case '1': {
        const auto target = staged_.find(entry.link);
        const Descriptor linked = target != staged_.end() && target->second.empty()
                                      ? OpenBeneath(root_.get(), entry.link, O_PATH)
                                      : Descriptor();
        struct stat file;
        return linked && fstat(linked.get(), &file) == 0 && SameFile(there, file);
    }
    default:
        return false;
    }
}

// Root's entries are 0/root; anybody else's their own.
bool ProductWriter::OwnedAsInstalled(const struct stat& info) const
{
    return asRoot_ ? info.st_uid == 0 && info.st_gid == 0 : info.st_uid == geteuid();
}

// A file of the same size, mode and time may still hold other bytes: its
// content is compared as the archive's comes; the first byte that differs
// starts a staged copy.
bool ProductWriter::CompareFile(const ArchiveEntry& entry)
{
    comparing_ = OpenBeneath(DestinationFolder(FolderOf(entry.path)), LastName(entry.path),
                             O_RDONLY | O_NONBLOCK);
    if (!comparing_)
        return FailWithErrno(Fault::kCannotWrite, entry.path);
    compared_ = 0;
    return BeginData(entry);
}

bool ProductWriter::StartFile(const ArchiveEntry& entry, const std::string& staged)
{
    file_ = Descriptor(openat(StagedFolder(FolderOf(staged)), LastName(staged).c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file_)
        return FailWithErrno(Fault::kCannotWrite, entry.path);
    return BeginData(entry);
}

bool ProductWriter::BeginData(const ArchiveEntry& entry)
{
    current_ = entry;
    crc_ = CksumCrc();
    at_ = end_ = 0;
    block_.clear();
    return true;
}

// Zeros at the end were left unwritten too: the file is made as long as
// its content, without writing them.
bool ProductWriter::EndFile()
{
    if (comparing_) {
        comparing_ = Descriptor();  // the same to its last byte: it stays as it is
    } else {
        timespec times[2];
        SetTime(times, current_.mtime);
        Own(file_.get(), nullptr, 0);
        const bool set = PutBlocks(block_.data(), block_.size()) &&
                         (end_ == current_.size ||
                          ftruncate(file_.get(), static_cast<off_t>(current_.size)) == 0) &&
                         fchmod(file_.get(), ModeOf(current_.mode)) == 0 &&
                         futimens(file_.get(), times) == 0;
        if (close(file_.Release()) == -1 || !set)
            return FailWithErrno(Fault::kCannotWrite, current_.path);
    }
    List({'f', ModeOf(current_.mode), current_.size, crc_.Final(), current_.path});
    return true;
}

bool ProductWriter::TakeData(const char* data, std::size_t count)
{
    crc_.Update(std::string_view(data, count));
    if (comparing_ && SameAsInPlace(data, count))
        return true;
    return (!comparing_ || Diverge()) && WriteData(data, count);
}

// The next bytes of the file in place, against the archive's.
bool ProductWriter::SameAsInPlace(const char* data, std::size_t count)
{
    compareBuffer_.resize(std::max(compareBuffer_.size(), count));
    if (!ReadExactly(comparing_.get(), compareBuffer_.data(), count, static_cast<off_t>(compared_)) ||
        std::memcmp(compareBuffer_.data(), data, count) != 0)
        return false;
    compared_ += count;
    return true;
}

// The file in place differs from here on: it is staged after all, what
// was the same copied from it.
bool ProductWriter::Diverge()
{
    const Descriptor same = std::move(comparing_);
    const ArchiveFolder& parent = folders_[FolderOf(current_.path)];
    const std::string staged = Stage(parent, current_.path);
    file_ = Descriptor(openat(StagedFolder(FolderOf(staged)), LastName(staged).c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file_)
        return FailWithErrno(Fault::kCannotWrite, current_.path);
    for (std::uint64_t at = 0; at < compared_;) {
        const std::size_t count = std::min<std::uint64_t>(compareBuffer_.size(), compared_ - at);
        if (!ReadExactly(same.get(), compareBuffer_.data(), count, static_cast<off_t>(at)))
            return FailWithErrno(Fault::kCannotWrite, current_.path);
        if (!WriteData(compareBuffer_.data(), count))
            return false;
        at += count;
    }
    return true;
}

// The content a block of the file system at a time, as the file's offsets
// cut it: a block begun here is completed by the next bytes.
bool ProductWriter::WriteData(const char* data, std::size_t count)
{
    if (!block_.empty()) {
        const std::size_t taken = std::min(count, holeSize_ - block_.size());
        block_.append(data, taken);
        data += taken;
        count -= taken;
        if (block_.size() < holeSize_)
            return true;
    }
    const std::size_t whole = count - count % holeSize_;
    if (!PutBlocks(data, whole))
        return false;
    block_.assign(data + whole, count - whole);
    return true;
}

// Blocks from a block's start on, the last possibly short, behind the
// block completed in block_ if it is whole: each run of blocks with data
// is written in one call, a block of zeros is skipped and left a hole, so
// that a sparse product stays sparse.
bool ProductWriter::PutBlocks(const char* data, std::size_t count)
{
    std::string_view before;
    if (block_.size() == holeSize_ && IsZero(block_.data(), holeSize_))
        at_ += holeSize_;
    else if (block_.size() == holeSize_)
        before = block_;
    while (count > 0 || !before.empty()) {
        std::size_t run = 0;
        while (run < count && !IsZero(data + run, std::min(holeSize_, count - run)))
            run += std::min(holeSize_, count - run);
        if (!WriteAt(before, data, run))
            return false;
        before = std::string_view();
        std::size_t hole = run;
        while (hole < count && IsZero(data + hole, std::min(holeSize_, count - hole)))
            hole += std::min(holeSize_, count - hole);
        at_ += hole - run;
        data += hole;
        count -= hole;
    }
    return true;
}

bool ProductWriter::WriteAt(std::string_view before, const char* data, std::size_t count)
{
    while (!before.empty() || count > 0) {
        iovec parts[2] = {{const_cast<char*>(before.data()), before.size()},
                          {const_cast<char*>(data), count}};
        const bool both = !before.empty();
        ssize_t written = pwritev(file_.get(), both ? parts : parts + 1, both ? 2 : 1,
                                  static_cast<off_t>(at_));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return FailWithErrno(Fault::kCannotWrite, current_.path);
        at_ += static_cast<std::uint64_t>(written);
        const std::size_t fromBefore = std::min(static_cast<std::size_t>(written), before.size());
        before.remove_prefix(fromBefore);
        data += static_cast<std::size_t>(written) - fromBefore;
        count -= static_cast<std::size_t>(written) - fromBefore;
    }
    end_ = at_;
    return true;
}

bool ProductWriter::MakeLink(const ArchiveEntry& entry, const std::string& staged)
{
    const int folder = StagedFolder(FolderOf(staged));
    const std::string name = LastName(staged);
    timespec times[2];
    SetTime(times, entry.mtime);
    if (symlinkat(entry.link.c_str(), folder, name.c_str()) == -1)
        return FailWithErrno(Fault::kCannotMakeLink, entry.path);
    utimensat(folder, name.c_str(), times, AT_SYMLINK_NOFOLLOW);
    Own(folder, name.c_str(), AT_SYMLINK_NOFOLLOW);
    ListLink(entry);
    return true;
}

void ProductWriter::ListLink(const ArchiveEntry& entry)
{
    List({'l', 0777, entry.link.size(), CksumOf(entry.link), entry.path});
}

// The same file (or link) as an earlier member, wherever that one is: in
// the staging area, or left in place.
bool ProductWriter::MakeHardLink(const ArchiveEntry& entry, const std::string& staged)
{
    ForgetFolders();
    const auto found = staged_.find(entry.link);
    const std::string& target = found == staged_.end() ? entry.link : found->second;
    const bool inPlace = target.empty();
    const int targetRoot = inPlace ? root_.get() : StagingRoot();
    const std::string& targetPath = inPlace ? entry.link : target;
    const Descriptor from = OpenBeneath(targetRoot, FolderOf(targetPath), O_PATH | O_DIRECTORY);
    const Descriptor to = OpenBeneath(StagingRoot(), FolderOf(staged), O_PATH | O_DIRECTORY);
    if (!from || !to || linkat(from.get(), LastName(targetPath).c_str(), to.get(),
                               LastName(staged).c_str(), 0) == -1)
        return FailWithErrno(Fault::kCannotLink, entry.path);
    return ListHardLink(entry);
}

// A hard link is listed as the file it is.
bool ProductWriter::ListHardLink(const ArchiveEntry& entry)
{
    const auto listed = listed_.find(entry.link);
    if (listed == listed_.end())
        return Fail(Fault::kCannotLink, entry.path);
    ManifestEntry same = manifest_[listed->second];
    same.path = entry.path;
    List(same);
    return true;
}

// A file or link, found again by its path when a hard link names it.
void ProductWriter::List(const ManifestEntry& entry)
{
    manifest_.push_back(entry);
    listed_[manifest_.back().path] = manifest_.size() - 1;
}

void ProductWriter::Announce(const ArchiveEntry& entry)
{
    stream_.Announce(entry);
}

bool ProductWriter::Take(const char* blocks, std::size_t count)
{
    return stream_.Take(blocks, count) || (stream_.Mismatched() && Fail(Fault::kBlocksMismatch));
}

// Modes and times of the new folders, once nothing more is written into
// them, before they move into place.
bool ProductWriter::ApplyNewFolderLooks()
{
    ForgetFolders();
    for (auto look = looks_.rbegin(); look != looks_.rend(); ++look) {
        const ArchiveFolder& folder = folders_[look->path];
        if (folder.existing)
            continue;
        const Descriptor fd = OpenBeneath(StagingRoot(), folder.staged, O_RDONLY | O_DIRECTORY);
        timespec times[2];
        SetTime(times, look->mtime);
        Own(fd.get(), nullptr, 0);
        if (!fd || fchmod(fd.get(), ModeOf(look->mode)) == -1 || futimens(fd.get(), times) == -1)
            return FailWithErrno(Fault::kCannotSetMode, look->path);
    }
    return true;
}

// The existing folders get the modes and times of the archive's once the
// entries are in them.
bool ProductWriter::ApplyExistingFolderLooks()
{
    for (auto state = journal_.after.rbegin(); state != journal_.after.rend(); ++state)
        if (!ApplyFolderState(root_.get(), *state))
            return FailWithErrno(Fault::kCannotSetMode, state->path);
    return true;
}

// What the earlier installation put there and this one does not ship goes
// aside once the new entries are in, from the deepest up: each from a
// folder root may trust.
bool ProductWriter::PlanStaleEntries()
{
    std::unordered_set<std::string_view> shipped;
    for (const ManifestEntry& entry : manifest_)
        shipped.insert(entry.path);
    for (auto entry = earlier_.rbegin(); entry != earlier_.rend(); ++entry) {
        if (shipped.count(entry->path) || entry->path == kManifestName ||
            !ExistsAsFolder(FolderOf(entry->path)))
            continue;
        if (asRoot_ && !Trusted(FolderOf(entry->path)))
            return false;
        journal_.moves.push_back({Move::Kind::kAside, entry->path,
                                  std::to_string(journal_.moves.size())});
    }
    return true;
}

// Before the first move: how the folders the moves change are, to be put
// back so, and how the existing folders are to be, all in the journal.
bool ProductWriter::PlanJournal()
{
    std::set<std::string> touched;
    for (const Move& move : journal_.moves)
        touched.insert(FolderOf(move.path));
    // A move into or out of a folder makes its time now: the archive's is
    // given it again.
    for (const FolderLook& look : looks_) {
        if (!folders_[look.path].existing || (!touched.count(look.path) && FolderInPlace(look)))
            continue;
        FolderState state;
        state.path = look.path;
        state.mode = ModeOf(look.mode);
        SetTime(state.times, look.mtime);
        journal_.after.push_back(state);
        touched.insert(look.path);
    }
    for (const std::string& path : touched) {
        const Descriptor folder = OpenBeneath(root_.get(), path, O_PATH | O_DIRECTORY);
        if (!folder)
            return FailWithErrno(Fault::kCannotReach, path);
        journal_.before.push_back(StateOf(folder.get(), path));
    }
    MarkTheUsersOwn();
    return journal_.moves.empty() || work_.WriteJournal(journal_) ||
           FailWithErrno(Fault::kCannotWrite, std::string(kWorkName) + "/journal");
}

// An existing folder that has the archive's mode and time already.
bool ProductWriter::FolderInPlace(const FolderLook& look)
{
    const Descriptor folder = OpenBeneath(root_.get(), look.path, O_PATH | O_DIRECTORY);
    struct stat info;
    return folder && fstat(folder.get(), &info) == 0 &&
           (info.st_mode & 07777) == ModeOf(look.mode) && HasTime(info, look.mtime);
}

// A file or link of the user's that an entry replaces, changed since the
// earlier installation or never part of it, is kept beside the new one,
// unless it holds what the new one does.
void ProductWriter::MarkTheUsersOwn()
{
    for (Move& move : journal_.moves) {
        struct stat there;
        const int at = DestinationFolder(FolderOf(move.path));
        const auto shipped = listed_.find(move.path);
        move.keepReplaced = move.kind == Move::Kind::kEntry && shipped != listed_.end() &&
                            at != -1 &&
                            fstatat(at, LastName(move.path).c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
                            !S_ISDIR(there.st_mode) && !ListedUnchanged(move.path) &&
                            !Unchanged(root_.get(), manifest_[shipped->second]);
    }
}

bool ProductWriter::WriteManifest()
{
    ForgetFolders();
    const std::string text = ManifestText(manifest_, productVersion_);
    std::string staged = kManifestName;
    // A run that changes nothing leaves the manifest alone too.
    if (existing_ && journal_.moves.empty() && !earlier_.empty() &&
        ManifestText(earlier_, earlierVersion_) == text)
        return true;
    if (existing_) {
        staged = std::to_string(journal_.moves.size());
        journal_.moves.push_back({Move::Kind::kEntry, kManifestName, staged});
    }
    const Descriptor file(openat(StagingRoot(), staged.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file)
        return FailWithErrno(Fault::kCannotWrite, kManifestName);
    Own(file.get(), nullptr, 0);
    const ssize_t written = write(file.get(), text.data(), text.size());
    if (written != static_cast<ssize_t>(text.size()) || fchmod(file.get(), ModeOf(0644)) == -1)
        return FailWithErrno(Fault::kCannotWrite, kManifestName);
    return true;
}

// Whatever was written must be on the disk before it replaces anything: a
// write-back error found here is a failed write.
bool ProductWriter::Durable()
{
    return syncfs(root_.get()) == 0 || FailWithErrno(Fault::kCannotSync);
}

bool ProductWriter::Ready()
{
    if (ready_)
        return true;
    if (!begun_ || finished_ || !stream_.Between())
        return Fail(Fault::kEndedInEntry);
    // A new destination is never writable by others, whatever the umask:
    // anyone could swap the player for their own.  Root's is writable by
    // root alone.
    const mode_t mode = (asRoot_ ? 0755 : 0775) & ~umask_;
    ready_ = ApplyNewFolderLooks() && (!existing_ || PlanStaleEntries()) && WriteManifest() &&
             (existing_ ? PlanJournal()
                        : fchmod(root_.get(), mode) == 0 ||
                              FailWithErrno(Fault::kCannotSetDestinationMode)) &&
             Durable();
    if (!ready_)
        RollBack();
    return ready_;
}

bool ProductWriter::Finish()
{
    if (!Ready())
        return false;
    const bool done = existing_ ? FinishExisting() : FinishNew();
    if (!done)
        RollBack();
    return done;
}

bool ProductWriter::FinishNew()
{
    const Descriptor parent = Parent();
    if (!parent || renameat2(parent.get(), hidden_.c_str(), parent.get(), name_.c_str(),
                             RENAME_NOREPLACE) == -1) {
        appeared_ = errno == EEXIST || errno == ENOTEMPTY;
        return FailWithErrno(Fault::kCannotPutDestination);
    }
    finished_ = true;
    const Descriptor folder(openat(parent.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    fsync(folder.get());
    return true;
}

// Every entry in, the stale ones aside and the folders' looks given, all
// on the disk; then the manifest, whose move completes the upgrade: from
// there on nothing is put back, and what the user made is kept beside.
bool ProductWriter::FinishExisting()
{
    const std::vector<Move>& moves = journal_.moves;
    moving_ = true;
    for (std::size_t i = 0; i + 1 < moves.size(); ++i) {
        if (moves[i].kind == Move::Kind::kAside)
            MoveAside(moves[i]);
        else if (!Commit(moves[i]))
            return false;
    }
    if (!ApplyExistingFolderLooks() || !Durable() || (!moves.empty() && !Commit(moves.back())))
        return false;
    finished_ = true;
    ForgetFolders();
    const bool allKept = work_.Complete(journal_);
    notRemoved_.insert(notRemoved_.end(), work_.NotKept().begin(), work_.NotKept().end());
    // Once this is on the disk too, the journal has nothing left to tell;
    // otherwise the next run completes the upgrade again from it, as it
    // does when the user's own files could not all be kept beside.
    if (allKept && (moves.empty() || syncfs(root_.get()) == 0))
        work_.Remove();
    else
        work_.Leave();
    // Nothing moved: the destination is as it was, its times too.
    if (moves.empty())
        ApplyFolderState(root_.get(), rootBefore_);
    return true;
}

// A file or link is replaced by one rename, so a running player sees the
// old file or the new one, never half of one; the old stays linked in the
// backups.  Anything else is moved aside first.
bool ProductWriter::Commit(const Move& move)
{
    const int at = DestinationFolder(FolderOf(move.path));
    const std::string name = LastName(move.path);
    const char* staged = move.staged.c_str();
    const int staging = work_.Staging();
    const int backups = work_.Backups();
    struct stat old, made;
    if (at == -1 || fstatat(staging, staged, &made, AT_SYMLINK_NOFOLLOW) == -1)
        return FailWithErrno(Fault::kCannotReach, move.path);
    if (fstatat(at, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == -1) {
        if (errno != ENOENT ||
            renameat2(staging, staged, at, name.c_str(), RENAME_NOREPLACE) == -1)
            return FailWithErrno(Fault::kCannotPutInPlace, move.path);
        return true;
    }
    const bool folder = S_ISDIR(made.st_mode);
    if (!folder && !S_ISDIR(old.st_mode) && linkat(at, name.c_str(), backups, staged, 0) == 0) {
        if (renameat(staging, staged, at, name.c_str()) == -1)
            return FailWithErrno(Fault::kCannotPutInPlace, move.path);
        return true;
    }
    if (S_ISDIR(old.st_mode) && !MayMoveAside(at, name, move.path))
        return Fail(folder ? Fault::kOwnFolderWhereFolder : Fault::kOwnFolderWhereFile, move.path);
    if (folder && !S_ISDIR(old.st_mode) && !ListedUnchanged(move.path))
        return Fail(Fault::kOwnFileWhereFolder, move.path);
    if (renameat(at, name.c_str(), backups, staged) == -1)
        return FailWithErrno(Fault::kCannotReplace, move.path);
    if (renameat2(staging, staged, at, name.c_str(), RENAME_NOREPLACE) == -1)
        return FailWithErrno(Fault::kCannotPutInPlace, move.path);
    // A folder held open there went with it: what lay in it is not
    // looked for in the backups.
    ForgetFolders();
    return true;
}

// An earlier entry the new version no longer ships goes aside, unless the
// user changed it (kept, and named) or it is a folder still holding
// something; one that can not be moved is named, and the upgrade goes on.
void ProductWriter::MoveAside(const Move& move)
{
    const int at = DestinationFolder(FolderOf(move.path));
    const std::string name = LastName(move.path);
    const ManifestEntry& entry = earlier_[earlierIndex_[move.path]];
    struct stat info;
    if (at == -1 || fstatat(at, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == -1)
        return;
    if (entry.type == 'd') {
        const Descriptor folder(
            openat(at, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder || HoldsAnythingBut(folder.get(), ""))
            return;
    } else if (!Unchanged(root_.get(), entry)) {
        if (errno == 0)
            kept_.push_back(move.path);
        else  // it could not be looked at: it stays, and is named
            notRemoved_.push_back(Found(Fault::kCannotRemove, move.path, errno));
        return;
    }
    if (renameat(at, name.c_str(), work_.Backups(), move.staged.c_str()) == -1)
        notRemoved_.push_back(Found(Fault::kCannotRemove, move.path, errno));
}

// A folder the new version replaces by a file or link may go only when it
// holds nothing but what the earlier installation put there, unchanged.
bool ProductWriter::MayMoveAside(int at, const std::string& name, const std::string& path)
{
    const int fd = openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd != -1 && OnlyListed(fd, path);
}

// A file or link the new version replaces by a folder would be lost with
// the backups: it may go only when the earlier installation put it there.
bool ProductWriter::ListedUnchanged(const std::string& path)
{
    const auto listed = earlierIndex_.find(path);
    return listed != earlierIndex_.end() && Unchanged(root_.get(), earlier_[listed->second]);
}

bool ProductWriter::OnlyListed(int fd, const std::string& path)
{
    DIR* listing = fdopendir(fd);
    if (!listing) {
        close(fd);
        return false;
    }
    bool only = true;
    while (const dirent* entry = only ? readdir(listing) : nullptr) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        const std::string below = path + "/" + entry->d_name;
        only = ListedUnchanged(below);
        if (only && earlier_[earlierIndex_[below]].type == 'd')
            only = MayMoveAside(dirfd(listing), entry->d_name, below);
    }
    closedir(listing);
    return only;
}

void ProductWriter::RollBack()
{
    if (!begun_ || finished_)
        return;
    begun_ = false;
    file_ = Descriptor();
    comparing_ = Descriptor();
    ForgetFolders();
    if (!existing_) {
        const Descriptor parent = Parent();
        root_ = Descriptor();
        RemoveTree(parent.get(), hidden_);
        return;
    }
    // Before the first move the destination is as it was, and the work
    // folder goes with all it holds.  A move is listed before its entry is
    // staged: undoing one whose entry could not be made would take what is
    // at its path for the entry and drop it with the work folder.
    leftBehind_ = moving_ && !work_.Undo(journal_);
    // What could not be put back has its only copy in the backups.
    if (leftBehind_)
        work_.Leave();
    else
        work_.Remove();
    // Its own work folder came and went: the destination's times go back too.
    ApplyFolderState(root_.get(), rootBefore_);
}
