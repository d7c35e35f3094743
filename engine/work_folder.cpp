// The work folder: its lock, its journal, and the moves undone or
// completed from it.
#include "work_folder.h"

#include "beneath.h"
#include "bytes.h"
#include "destination.h"
#include "format.h"
#include "manifest.h"
#include "record_text.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kStagingName[] = "new";
constexpr char kBackupName[] = "old";
constexpr char kJournalName[] = "journal";
constexpr char kJournalHeader[] = "ovelo8-journal 1\n";
constexpr char kSavedSuffix[] = ".ovelo8-saved";
constexpr std::size_t kLargestJournal = 64 * 1024 * 1024;
// The order the work folder is cleared in once its moves are done or
// undone: what "old" still keeps goes first, while the journal can still
// tell a next run to finish; the journal last.  So a journal without
// "new" or "old" beside it was being cleared, with nothing left to do.
constexpr const char* kClearingOrder[] = {kBackupName, kStagingName, kJournalName};

bool Exists(int folder, const std::string& name)
{
    struct stat info;
    return fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

// ---- The journal as text: a line a folder state, then a line a move ----

// The top of the destination is written ".", which no path of an entry is.
std::string FolderField(const std::string& path)
{
    return path.empty() ? "." : EscapedPath(path);
}

bool TakeFolder(std::string_view text, std::string* path)
{
    if (text == ".") {
        path->clear();
        return true;
    }
    return UnescapedPath(text, path);
}

std::string StateLine(char kind, const FolderState& state)
{
    return FormatText("%c %04o %lld %ld %lld %ld ", kind, static_cast<unsigned>(state.mode & 07777),
                      static_cast<long long>(state.times[0].tv_sec), state.times[0].tv_nsec,
                      static_cast<long long>(state.times[1].tv_sec), state.times[1].tv_nsec) +
           FolderField(state.path) + "\n";
}

std::string MoveLine(const Move& move)
{
    return FormatText("%c %s %d ", static_cast<char>(move.kind), move.staged.c_str(),
                      move.keepReplaced ? 1 : 0) +
           EscapedPath(move.path) + "\n";
}

std::string JournalText(const Journal& journal)
{
    std::string text = kJournalHeader;
    for (const FolderState& state : journal.before)
        text += StateLine('b', state);
    for (const FolderState& state : journal.after)
        text += StateLine('a', state);
    for (const Move& move : journal.moves)
        text += MoveLine(move);
    return text;
}

bool TakeTime(std::string_view* rest, timespec* time)
{
    std::uint64_t seconds = 0, nanoseconds = 0;
    if (!TakeNumber(rest, 10, INT64_MAX, &seconds) || !TakeNumber(rest, 10, UINT32_MAX, &nanoseconds))
        return false;
    time->tv_sec = static_cast<time_t>(seconds);
    time->tv_nsec = static_cast<long>(nanoseconds);
    return nanoseconds < 1000000000 || nanoseconds == UTIME_OMIT;
}

bool ParseState(std::string_view rest, FolderState* state)
{
    std::uint64_t mode = 0;
    return TakeNumber(&rest, 8, 07777, &mode) && TakeTime(&rest, &state->times[0]) &&
           TakeTime(&rest, &state->times[1]) && TakeFolder(rest, &state->path) &&
           (state->mode = static_cast<mode_t>(mode), true);
}

bool ParseMove(char kind, std::string_view rest, Move* move)
{
    std::uint64_t staged = 0, keep = 0;
    move->kind = static_cast<Move::Kind>(kind);
    if (!TakeNumber(&rest, 10, UINT32_MAX, &staged) || !TakeNumber(&rest, 10, 1, &keep))
        return false;
    move->staged = std::to_string(staged);
    move->keepReplaced = keep == 1;
    return UnescapedPath(rest, &move->path);
}

bool ParseLine(std::string_view line, Journal* journal)
{
    if (line.size() < 2 || line[1] != ' ')
        return false;
    const std::string_view rest = line.substr(2);
    switch (line[0]) {
    case 'b':
        journal->before.emplace_back();
        return ParseState(rest, &journal->before.back());
    case 'a':
        journal->after.emplace_back();
        return ParseState(rest, &journal->after.back());
    case 'e':
    case 'r':
        journal->moves.emplace_back();
        return ParseMove(line[0], rest, &journal->moves.back());
    default:
        return false;
    }
}

bool ParseJournal(int fd, Journal* journal)
{
    std::string text;
    if (!ReadRecordFile(fd, kLargestJournal, &text))
        return false;
    if (text.compare(0, sizeof kJournalHeader - 1, kJournalHeader) != 0)
        return false;
    for (std::size_t at = sizeof kJournalHeader - 1; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos || !ParseLine(std::string_view(text).substr(at, end - at), journal))
            return false;
        at = end + 1;
    }
    return !journal->moves.empty() && journal->moves.back().path == kManifestName;
}

// A journal cut short by a kill while it was written ends before the
// manifest's move: no entry had moved yet, and it counts as none.  One that
// can not be read, for want of memory or descriptors, leaves errno set.
enum class JournalRead { kRead, kNone, kUnreadable };

JournalRead ReadJournal(int work, Journal* journal)
{
    errno = 0;
    const Descriptor file = OpenBeneath(work, kJournalName, O_RDONLY | O_NONBLOCK);
    if (!file)
        return errno == ENOENT ? JournalRead::kNone : JournalRead::kUnreadable;
    try {
        return ParseJournal(file.get(), journal) ? JournalRead::kRead : JournalRead::kNone;
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return JournalRead::kUnreadable;
    }
}

// ---- Undoing and completing moves ----

Descriptor FolderOfMove(int root, const std::string& path)
{
    return OpenBeneath(root, FolderOf(path), O_PATH | O_DIRECTORY);
}

// Back into "new" what moved in, then back into place what "old" keeps.
// A file replaced in one step is in place and linked in "old" as well until
// the new one moves in: then the link alone goes.
bool UndoMove(int root, int staging, int backups, const Move& move)
{
    const Descriptor at = FolderOfMove(root, move.path);
    const std::string name = LastName(move.path);
    const char* staged = move.staged.c_str();
    const bool keptOld = Exists(backups, move.staged);
    if (!at)
        return !keptOld;
    if (move.kind == Move::Kind::kEntry && !Exists(staging, move.staged) && Exists(at.get(), name) &&
        renameat2(at.get(), name.c_str(), staging, staged, RENAME_NOREPLACE) == -1)
        return false;
    if (!keptOld)
        return true;
    if (!Exists(at.get(), name))
        return renameat2(backups, staged, at.get(), name.c_str(), RENAME_NOREPLACE) == 0;
    struct stat kept, there;
    return fstatat(backups, staged, &kept, AT_SYMLINK_NOFOLLOW) == 0 &&
           fstatat(at.get(), name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
           SameFile(kept, there) && unlinkat(backups, staged, 0) == 0;
}

// The name beside path under which the user's own version of it is kept.
std::string SavedName(const std::string& name, int attempt)
{
    std::string suffix = kSavedSuffix;
    if (attempt > 0)
        suffix += "-" + std::to_string(attempt + 1);
    return NameWithin("", name, suffix);
}

// The user's own version, replaced by the upgrade, beside the new one
// under a name no other file has (*saved; empty when "old" keeps none, as
// after a completion killed later); false, errno set, when it can not be.
bool KeepReplaced(int root, int backups, const Move& move, std::string* saved)
{
    saved->clear();
    if (!Exists(backups, move.staged))
        return true;
    const Descriptor at = FolderOfMove(root, move.path);
    for (int attempt = 0; at && attempt < 100; ++attempt) {
        const std::string name = SavedName(LastName(move.path), attempt);
        if (renameat2(backups, move.staged.c_str(), at.get(), name.c_str(), RENAME_NOREPLACE) == 0) {
            const std::string folder = FolderOf(move.path);
            *saved = Joined(folder, name);
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    return false;
}

// A folder of ours, opened without following a link; made when missing.
Descriptor OpenOrMake(int folder, const char* name)
{
    if (mkdirat(folder, name, 0700) == -1 && errno != EEXIST)
        return Descriptor();
    return Descriptor(openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// The folder now at the name is the one open on fd: not removed by the run
// that held it just before us.
bool StillThere(int root, int fd)
{
    struct stat named, held;
    return fstatat(root, kWorkName, &named, AT_SYMLINK_NOFOLLOW) == 0 && fstat(fd, &held) == 0 &&
           SameFile(named, held);
}

}  // namespace

bool ApplyFolderState(int root, const FolderState& state)
{
    const Descriptor folder = OpenBeneath(root, state.path, O_RDONLY | O_DIRECTORY);
    if (!folder)
        return false;
    const bool moded = fchmod(folder.get(), state.mode) == 0;  // the times even so
    return futimens(folder.get(), state.times) == 0 && moded;
}

Outcome WorkFolder::Take(int root, Recovered* recovered)
{
    root_ = root;
    *recovered = Recovered::kNothing;
    for (int attempt = 0; attempt < 8; ++attempt) {
        // A file or link of that name is not ours: nothing of the user's
        // is ever named so.
        if (unlinkat(root, kWorkName, 0) == -1 && errno != ENOENT && errno != EISDIR &&
            errno != EPERM)
            return Found(Fault::kNotWritable, "", errno);
        work_ = OpenOrMake(root, kWorkName);
        if (!work_)
            return Found(Fault::kNotWritable, "", errno);
        if (flock(work_.get(), LOCK_EX | LOCK_NB) == -1)
            return Found(errno == EWOULDBLOCK ? Fault::kBusy : Fault::kNotWritable, "", errno);
        if (StillThere(root, work_.get()))
            break;
        work_ = Descriptor();
    }
    if (!work_)
        return Found(Fault::kBusy);
    // Root works only where nobody else could have put anything, a journal
    // above all, as in the destination itself.
    const Fault distrust = RootsDistrust(work_.get());
    if (distrust != Fault::kNone) {
        Leave();
        return Found(distrust == Fault::kFolderForeign ? Fault::kWorkFolderForeign
                                                       : Fault::kWorkFolderOpenToOthers);
    }
    if (!Recover(recovered)) {
        const int error = errno;
        Leave();  // what it keeps has no other copy; only an empty folder goes
        unlinkat(root, kWorkName, AT_REMOVEDIR);
        return Found(*recovered == Recovered::kNothing ? Fault::kInterrupted : Fault::kNotPutBack,
                     "", error);
    }
    if (!Empty()) {
        const int error = errno;
        Remove();
        return Found(Fault::kNotWritable, "", error);
    }
    return Outcome();
}

// Whatever a killed run left: carried out from its journal, or, without
// one, removed, unless it keeps replaced entries.
bool WorkFolder::Recover(Recovered* recovered)
{
    Journal journal;
    staging_ = OpenBeneath(work_.get(), kStagingName, O_PATH | O_DIRECTORY);
    if (!staging_ && errno != ENOENT)
        return false;
    backups_ = OpenBeneath(work_.get(), kBackupName, O_PATH | O_DIRECTORY);
    if (!backups_ && errno != ENOENT)
        return false;
    switch (ReadJournal(work_.get(), &journal)) {
    case JournalRead::kUnreadable:
        return false;
    case JournalRead::kNone:
        errno = 0;
        return !backups_ || !HoldsAnythingBut(backups_.get(), "");
    case JournalRead::kRead:
        break;
    }
    if (!staging_ || !backups_)
        return true;  // it was being cleared: its moves were done or undone
    if (Exists(staging_.get(), journal.moves.back().staged)) {
        *recovered = Recovered::kUndone;
        if (!Undo(journal))
            return false;
    } else {
        *recovered = Recovered::kCompleted;
        if (!Complete(journal))
            return false;
    }
    return syncfs(root_) == 0;
}

// Fresh staging and backup folders, the journal gone.
bool WorkFolder::Empty()
{
    staging_ = Descriptor();
    backups_ = Descriptor();
    for (const char* name : kClearingOrder)
        if (!RemoveTree(work_.get(), name))
            return false;
    if (mkdirat(work_.get(), kStagingName, 0700) == -1 || mkdirat(work_.get(), kBackupName, 0700) == -1)
        return false;
    staging_ = OpenBeneath(work_.get(), kStagingName, O_PATH | O_DIRECTORY);
    backups_ = OpenBeneath(work_.get(), kBackupName, O_PATH | O_DIRECTORY);
    return staging_ && backups_;
}

bool WorkFolder::WriteJournal(const Journal& journal)
{
    const std::string text = JournalText(journal);
    const Descriptor file(openat(work_.get(), kJournalName,
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    return file && WriteAll(file.get(), text);
}

bool WorkFolder::Undo(const Journal& journal)
{
    bool allBack = true;
    for (auto move = journal.moves.rbegin(); move != journal.moves.rend(); ++move)
        allBack = UndoMove(root_, staging_.get(), backups_.get(), *move) && allBack;
    // Modes and times last: putting entries back changed the folders' times.
    for (auto state = journal.before.rbegin(); state != journal.before.rend(); ++state)
        ApplyFolderState(root_, *state);
    return allBack;
}

bool WorkFolder::Complete(const Journal& journal)
{
    bool allKept = true;
    for (const Move& move : journal.moves) {
        std::string saved;
        if (!move.keepReplaced)
            continue;
        if (!KeepReplaced(root_, backups_.get(), move, &saved)) {
            const int error = errno;
            notKept_.push_back(Found(Fault::kNotKeptBeside, move.path, error));
            notKept_.back().other = std::string(kWorkName) + "/" + kBackupName + "/" + move.staged;
            allKept = false;
        } else if (!saved.empty()) {
            saved_.push_back(saved);
        }
    }
    for (auto state = journal.after.rbegin(); state != journal.after.rend(); ++state)
        ApplyFolderState(root_, *state);
    return allKept;
}

// Emptied through the descriptor held, which keeps the lock and spares
// one where descriptors run short, then removed once the lock is let go.
void WorkFolder::Remove()
{
    staging_ = Descriptor();
    backups_ = Descriptor();
    if (!work_)
        return;
    for (const char* name : kClearingOrder)
        RemoveTree(work_.get(), name);
    work_ = Descriptor();
    unlinkat(root_, kWorkName, AT_REMOVEDIR);
}

void WorkFolder::Leave()
{
    staging_ = Descriptor();
    backups_ = Descriptor();
    work_ = Descriptor();
}
