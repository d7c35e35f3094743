// Writing the product, putting it in place, and putting back what was.
#include "writer.h"

#include "beneath.h"
#include "format.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

constexpr char kStagingName[] = "new";        // in it: what is to be moved in
constexpr char kBackupName[] = "old";         // and what that replaced
constexpr std::size_t kLongestName = 255;

// A new destination's hidden folder: ".ovelo8-NAME", a long name shortened
// and told apart by its checksum.
std::string HiddenName(const std::string& name)
{
    const std::string prefix = kReservedPrefix;
    if (prefix.size() + name.size() <= kLongestName)
        return prefix + name;
    CksumCrc crc;
    crc.Update(reinterpret_cast<const unsigned char*>(name.data()), name.size());
    return prefix + name.substr(0, 200) + FormatText("-%08x", crc.Final());
}

// Whether the folder holds an entry but "." , ".." and ours; a folder that
// can not be listed may hold anything, which is what is answered then.
bool HoldsAnythingBut(int folder, const char* ours)
{
    Descriptor opened(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* listing = opened ? fdopendir(opened.get()) : nullptr;
    if (!listing)
        return true;
    opened.Release();  // the listing closes it
    bool holds = false;
    while (const dirent* entry = readdir(listing))
        holds = holds || (std::strcmp(entry->d_name, ".") != 0 &&
                          std::strcmp(entry->d_name, "..") != 0 &&
                          std::strcmp(entry->d_name, ours) != 0);
    closedir(listing);
    return holds;
}

// A run killed while it replaced entries of an existing destination left
// the only copies of the earlier ones in the backups: those are never
// removed, and nothing is installed over them.
bool HoldsBackups(int work)
{
    const Descriptor backups = OpenBeneath(work, kBackupName, O_PATH | O_DIRECTORY);
    if (!backups)
        return errno != ENOENT;
    return HoldsAnythingBut(backups.get(), "");
}

// What a killed run left, unless a run still going holds it (locked).
Begun ClearLeftover(int folder, const char* name, bool existing)
{
    const Descriptor left(openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!left) {
        // Nothing there, or no folder of ours; a folder that can not be
        // opened may hold backups, and is left alone.
        if (existing && errno != ENOENT && errno != ENOTDIR && errno != ELOOP)
            return Begun::kInterrupted;
        RemoveTree(folder, name);  // what is left is said when the new one can not be made
        return Begun::kBegun;
    }
    if (flock(left.get(), LOCK_EX | LOCK_NB) == -1)
        return Begun::kBusy;
    if (existing && HoldsBackups(left.get()))
        return Begun::kInterrupted;
    RemoveTree(folder, name);
    return Begun::kBegun;
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

std::string Joined(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + "/" + name;
}

// Only the modification time is set, as tar does.
void SetTime(timespec times[2], std::int64_t mtime)
{
    times[0] = {0, UTIME_OMIT};
    times[1] = {static_cast<time_t>(mtime), 0};
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

bool IsZero(const char* data, std::size_t count)
{
    return count == 0 || (data[0] == 0 && std::memcmp(data, data + 1, count - 1) == 0);
}

std::uint32_t ChecksumOfText(const std::string& text)
{
    CksumCrc crc;
    crc.Update(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    return crc.Final();
}

}  // namespace

ProductWriter::ProductWriter()
{
    umask_ = umask(0);
    umask(umask_);
    asRoot_ = geteuid() == 0;
    chown_ = asRoot_ && getegid() != 0;
}

ProductWriter::~ProductWriter()
{
    RollBack();
}

Begun ProductWriter::BeginNew(int parent, const std::string& name)
{
    name_ = name;
    hidden_ = HiddenName(name);
    const Begun cleared = ClearLeftover(parent, hidden_.c_str(), false);
    if (cleared != Begun::kBegun)
        return cleared;
    root_ = MakeLockedFolder(parent, hidden_.c_str());
    if (!root_) {
        unlinkat(parent, hidden_.c_str(), AT_REMOVEDIR);
        return Begun::kCannotMake;
    }
    folders_[""] = ArchiveFolder{false, ""};
    holeSize_ = BlockOf(root_.get());
    begun_ = true;
    return Begun::kBegun;
}

Begun ProductWriter::BeginExisting(int folder)
{
    existing_ = true;
    root_ = Descriptor(fcntl(folder, F_DUPFD_CLOEXEC, 0));
    struct stat info;
    if (fstat(root_.get(), &info) == -1)
        return Begun::kNotWritable;
    saved_.push_back({"", info.st_mode & 07777, {info.st_atim, info.st_mtim}});
    savedPaths_.insert("");
    // Whoever may not search it could not enter it to start the player.
    if (!Descriptor(openat(root_.get(), "..", O_PATH | O_CLOEXEC)))
        return Begun::kCannotEnter;
    heldFiles_ = HoldsAnythingBut(root_.get(), kWorkName);
    const Begun cleared = ClearLeftover(root_.get(), kWorkName, true);
    if (cleared != Begun::kBegun)
        return cleared;
    work_ = MakeLockedFolder(root_.get(), kWorkName);
    if (!work_)
        return Begun::kNotWritable;
    begun_ = true;
    if (mkdirat(work_.get(), kStagingName, 0700) == -1 ||
        mkdirat(work_.get(), kBackupName, 0700) == -1)
        return Begun::kNotWritable;  // the destructor removes the work folder
    staging_ = OpenBeneath(work_.get(), kStagingName, O_PATH | O_DIRECTORY);
    backups_ = OpenBeneath(work_.get(), kBackupName, O_PATH | O_DIRECTORY);
    if (!staging_ || !backups_)
        return Begun::kNotWritable;
    if (ReadManifest(root_.get(), &earlier_) != ManifestRead::kRead)
        earlier_.clear();  // what no manifest lists is never touched
    for (std::size_t i = 0; i < earlier_.size(); ++i)
        earlierIndex_[earlier_[i].path] = i;
    folders_[""] = ArchiveFolder{true, ""};
    holeSize_ = BlockOf(root_.get());
    return Begun::kBegun;
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

bool ProductWriter::Fail(const std::string& what)
{
    if (failure_.empty())
        failure_ = what;
    return false;
}

bool ProductWriter::FailWithErrno(const std::string& what)
{
    return Fail(what + ": " + std::strerror(errno));
}

int ProductWriter::StagingRoot() const
{
    return existing_ ? staging_.get() : root_.get();
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
        return std::to_string(moves_.size());
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
    } else {
        made.staged = StagedName(*parent, entry.path);
        if (parent->existing)
            moves_.push_back({entry.path, made.staged, true});
        if (mkdirat(StagedFolder(FolderOf(made.staged)), LastName(made.staged).c_str(), 0700) == -1)
            return FailWithErrno("Can not make " + entry.path);
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
    const std::string staged = StagedName(*parent, entry.path);
    if (parent->existing)
        moves_.push_back({entry.path, staged, false});
    staged_[entry.path] = staged;
    if (entry.type == '2')
        return MakeLink(entry, staged);
    if (entry.type == '1')
        return MakeHardLink(entry, staged);
    return StartFile(entry, staged);
}

bool ProductWriter::StartFile(const ArchiveEntry& entry, const std::string& staged)
{
    file_ = Descriptor(openat(StagedFolder(FolderOf(staged)), LastName(staged).c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file_)
        return FailWithErrno("Can not write " + entry.path);
    current_ = entry;
    crc_ = CksumCrc();
    at_ = end_ = 0;
    block_.clear();
    left_ = entry.size;
    padding_ = (kTarBlock - entry.size % kTarBlock) % kTarBlock;
    return left_ > 0 || EndFile();
}

// Zeros at the end were left unwritten too: the file is made as long as
// its content, without writing them.
bool ProductWriter::EndFile()
{
    timespec times[2];
    SetTime(times, current_.mtime);
    Own(file_.get(), nullptr, 0);
    const bool set = PutBlocks(block_.data(), block_.size()) &&
                     (end_ == current_.size ||
                      ftruncate(file_.get(), static_cast<off_t>(current_.size)) == 0) &&
                     fchmod(file_.get(), ModeOf(current_.mode)) == 0 &&
                     futimens(file_.get(), times) == 0;
    if (close(file_.Release()) == -1 || !set)
        return FailWithErrno("Can not write " + current_.path);
    List({'f', ModeOf(current_.mode), current_.size, crc_.Final(), current_.path});
    return true;
}

// The content a block of the file system at a time, as the file's offsets
// cut it: a block begun here is completed by the next bytes.
bool ProductWriter::WriteData(const char* data, std::size_t count)
{
    crc_.Update(reinterpret_cast<const unsigned char*>(data), count);
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
            return FailWithErrno("Can not write " + current_.path);
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
        return FailWithErrno("Can not make the link " + entry.path);
    utimensat(folder, name.c_str(), times, AT_SYMLINK_NOFOLLOW);
    Own(folder, name.c_str(), AT_SYMLINK_NOFOLLOW);
    List({'l', 0777, entry.link.size(), ChecksumOfText(entry.link), entry.path});
    return true;
}

// The same file (or link) as an earlier member, wherever that one was staged.
bool ProductWriter::MakeHardLink(const ArchiveEntry& entry, const std::string& staged)
{
    ForgetFolders();
    const std::string& target = staged_[entry.link];
    const Descriptor from = OpenBeneath(StagingRoot(), FolderOf(target), O_PATH | O_DIRECTORY);
    const Descriptor to = OpenBeneath(StagingRoot(), FolderOf(staged), O_PATH | O_DIRECTORY);
    if (!from || !to || linkat(from.get(), LastName(target).c_str(), to.get(),
                               LastName(staged).c_str(), 0) == -1)
        return FailWithErrno("Can not link " + entry.path);
    const auto listed = listed_.find(entry.link);
    if (listed == listed_.end())
        return Fail("Can not link " + entry.path);
    ManifestEntry same = manifest_[listed->second];
    same.path = entry.path;
    List(same);
    return true;
}

// A file or link, found again by its path when a hard link names it.
void ProductWriter::List(const ManifestEntry& entry)
{
    listed_[entry.path] = manifest_.size();
    manifest_.push_back(entry);
}

void ProductWriter::Announce(const ArchiveEntry& entry)
{
    announced_.push_back(entry);
}

bool ProductWriter::Take(const char* blocks, std::size_t count)
{
    while (count > 0) {
        if (left_ > 0) {
            const std::size_t run = std::min<std::uint64_t>(left_, count);
            if (!WriteData(blocks, run))
                return false;
            left_ -= run;
            blocks += run;
            count -= run;
            if (left_ == 0 && !EndFile())
                return false;
        } else if (padding_ > 0) {
            const std::size_t run = std::min<std::uint64_t>(padding_, count);
            padding_ -= run;
            blocks += run;
            count -= run;
        } else {
            if (announced_.empty() || count < kTarBlock)
                return Fail("the archive's blocks do not match its entries");
            const ArchiveEntry entry = std::move(announced_.front());
            announced_.pop_front();
            blocks += kTarBlock;
            count -= kTarBlock;
            if (!BeginEntry(entry))
                return false;
        }
    }
    return true;
}

// Modes and times of folders last, once nothing more is written into them:
// the new ones before they move into place, the existing ones after.
bool ProductWriter::ApplyFolderLooks(bool existing)
{
    ForgetFolders();
    for (auto look = looks_.rbegin(); look != looks_.rend(); ++look) {
        const ArchiveFolder& folder = folders_[look->path];
        if (folder.existing != existing)
            continue;
        if (existing)
            Save(look->path);
        const Descriptor fd = existing
                                  ? OpenBeneath(root_.get(), look->path, O_RDONLY | O_DIRECTORY)
                                  : OpenBeneath(StagingRoot(), folder.staged, O_RDONLY | O_DIRECTORY);
        timespec times[2];
        SetTime(times, look->mtime);
        Own(fd.get(), nullptr, 0);
        if (!fd || fchmod(fd.get(), ModeOf(look->mode)) == -1 || futimens(fd.get(), times) == -1)
            return FailWithErrno("Can not set the mode of " + look->path);
    }
    return true;
}

bool ProductWriter::WriteManifest()
{
    ForgetFolders();
    const std::string text = ManifestText(manifest_);
    std::string staged = kManifestName;
    if (existing_) {
        staged = std::to_string(moves_.size());
        moves_.push_back({kManifestName, staged, false});
    }
    const Descriptor file(openat(StagingRoot(), staged.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file)
        return FailWithErrno(std::string("Can not write ") + kManifestName);
    Own(file.get(), nullptr, 0);
    const ssize_t written = write(file.get(), text.data(), text.size());
    if (written != static_cast<ssize_t>(text.size()) || fchmod(file.get(), ModeOf(0644)) == -1)
        return FailWithErrno(std::string("Can not write ") + kManifestName);
    return true;
}

// Whatever was written must be on the disk before it replaces anything: a
// write-back error found here is a failed write.
bool ProductWriter::Durable()
{
    return syncfs(root_.get()) == 0 || FailWithErrno("Can not write the product to the disk");
}

bool ProductWriter::Ready()
{
    if (ready_)
        return true;
    if (!begun_ || finished_ || left_ > 0 || !announced_.empty())
        return Fail("the archive ended in the middle of an entry");
    // A new destination is never writable by others, whatever the umask:
    // anyone could swap the player for their own.  Root's is writable by
    // root alone.
    const mode_t mode = (asRoot_ ? 0755 : 0775) & ~umask_;
    ready_ = ApplyFolderLooks(false) && WriteManifest() &&
             (existing_ || fchmod(root_.get(), mode) == 0 ||
              FailWithErrno("Can not set the destination's mode")) &&
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
        return FailWithErrno("Can not put the destination in place");
    }
    finished_ = true;
    const Descriptor folder(openat(parent.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    fsync(folder.get());
    return true;
}

bool ProductWriter::FinishExisting()
{
    for (Move& move : moves_)
        if (!Commit(&move))
            return false;
    if (!ApplyFolderLooks(true) || !Durable())
        return false;
    finished_ = true;
    RemoveStale();
    ForgetFolders();
    staging_ = Descriptor();
    backups_ = Descriptor();
    work_ = Descriptor();
    RemoveTree(root_.get(), kWorkName);
    return true;
}

// Remembered before a folder of the destination changes, to be put back.
void ProductWriter::Save(const std::string& path)
{
    if (!savedPaths_.insert(path).second)
        return;
    const Descriptor folder = OpenBeneath(root_.get(), path, O_PATH | O_DIRECTORY);
    struct stat info;
    if (folder && fstat(folder.get(), &info) == 0)
        saved_.push_back({path, info.st_mode & 07777, {info.st_atim, info.st_mtim}});
}

// A file or link is replaced by one rename, so a running player sees the
// old file or the new one, never half of one; the old stays linked in the
// backups.  Anything else is moved aside first.
bool ProductWriter::Commit(Move* move)
{
    Save(FolderOf(move->path));
    const int at = DestinationFolder(FolderOf(move->path));
    const std::string name = LastName(move->path);
    const char* staged = move->staged.c_str();
    struct stat old;
    if (at == -1)
        return FailWithErrno("Can not reach " + move->path);
    if (fstatat(at, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == -1) {
        if (errno != ENOENT ||
            renameat2(staging_.get(), staged, at, name.c_str(), RENAME_NOREPLACE) == -1)
            return FailWithErrno("Can not put " + move->path + " in place");
        move->in = true;
        return true;
    }
    if (!move->folder && !S_ISDIR(old.st_mode) &&
        linkat(at, name.c_str(), backups_.get(), staged, 0) == 0) {
        move->linked = true;
        if (renameat(staging_.get(), staged, at, name.c_str()) == -1)
            return FailWithErrno("Can not put " + move->path + " in place");
        move->in = true;
        return true;
    }
    if (S_ISDIR(old.st_mode) && !MayMoveAside(at, name, move->path))
        return Fail(FormatText("%s holds files of its own where the new version puts a %s",
                               move->path.c_str(), move->folder ? "folder" : "file"));
    if (move->folder && !S_ISDIR(old.st_mode) && !ListedUnchanged(move->path))
        return Fail(FormatText("%s is a file or link of its own where the new version puts a "
                               "folder", move->path.c_str()));
    if (renameat(at, name.c_str(), backups_.get(), staged) == -1)
        return FailWithErrno("Can not replace " + move->path);
    move->movedAside = true;
    if (renameat2(staging_.get(), staged, at, name.c_str(), RENAME_NOREPLACE) == -1)
        return FailWithErrno("Can not put " + move->path + " in place");
    move->in = true;
    return true;
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

// What the earlier installation put there and this one does not ship
// goes, when unchanged since; changed files are kept and named, folders
// stay when something is left in them.  The folders keep the archive's times.
void ProductWriter::RemoveStale()
{
    std::unordered_set<std::string> shipped, emptied;
    for (const ManifestEntry& entry : manifest_)
        shipped.insert(entry.path);
    for (auto entry = earlier_.rbegin(); entry != earlier_.rend(); ++entry) {
        if (shipped.count(entry->path) || entry->path == kManifestName)
            continue;
        const int at = DestinationFolder(FolderOf(entry->path));
        const std::string name = LastName(entry->path);
        struct stat info;
        if (at == -1 || fstatat(at, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == -1)
            continue;
        bool removed = false;
        if (entry->type == 'd')
            removed = unlinkat(at, name.c_str(), AT_REMOVEDIR) == 0;
        else if (Unchanged(root_.get(), *entry))
            removed = unlinkat(at, name.c_str(), 0) == 0;
        else
            kept_.push_back(entry->path);
        if (removed)
            emptied.insert(FolderOf(entry->path));
    }
    // A removal made its folder's time now; the archive's is put back.
    for (const FolderLook& look : looks_) {
        if (!emptied.count(look.path))
            continue;
        const Descriptor folder = OpenBeneath(root_.get(), look.path, O_RDONLY | O_DIRECTORY);
        timespec times[2];
        SetTime(times, look.mtime);
        futimens(folder.get(), times);
    }
}

bool ProductWriter::PutBack(const Move& move)
{
    const int at = DestinationFolder(FolderOf(move.path));
    const std::string name = LastName(move.path);
    if (at == -1)
        return false;
    if (move.in && move.linked)
        return renameat(backups_.get(), move.staged.c_str(), at, name.c_str()) == 0;  // one step
    if (move.in && !RemoveTree(at, name))
        return false;
    return !move.movedAside || renameat(backups_.get(), move.staged.c_str(), at, name.c_str()) == 0;
}

void ProductWriter::RollBack()
{
    if (!begun_ || finished_)
        return;
    begun_ = false;
    file_ = Descriptor();
    ForgetFolders();
    if (!existing_) {
        const Descriptor parent = Parent();
        root_ = Descriptor();
        RemoveTree(parent.get(), hidden_);
        return;
    }
    bool allBack = true;
    for (auto move = moves_.rbegin(); move != moves_.rend(); ++move)
        if (move->in || move->movedAside)
            allBack = PutBack(*move) && allBack;
    staging_ = Descriptor();
    backups_ = Descriptor();
    work_ = Descriptor();
    // What could not be put back has its only copy in the backups.
    if (allBack)
        RemoveTree(root_.get(), kWorkName);
    leftBehind_ = !allBack;
    // Modes and times last: putting entries back changed the folders' times.
    for (auto saved = saved_.rbegin(); saved != saved_.rend(); ++saved) {
        const Descriptor folder = saved->path.empty()
                                      ? Descriptor(fcntl(root_.get(), F_DUPFD_CLOEXEC, 0))
                                      : OpenBeneath(root_.get(), saved->path, O_RDONLY | O_DIRECTORY);
        fchmod(folder.get(), saved->mode);
        futimens(folder.get(), saved->times);
    }
}
