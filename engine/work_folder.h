// The hidden folder ".ovelo8-work" of an existing destination: the lock of
// whoever installs into it or removes from it, the staging area of an
// upgrade ("new": its entries waiting to move in; "old": what they replace,
// kept until all are in), and the journal that lets the next run finish or
// undo a run that was killed while its entries moved.
//
// Every step of a move is a rename, and the next one is always told by what
// the work folder holds: an entry still in "new" has not moved in, one in
// "old" was replaced or moved aside.  Undoing a move first takes the entry
// that moved in back into "new", then puts back what "old" keeps, so that
// a run killed while undoing is undone by the next in the same way.  The
// last move puts the new manifest in place: once it is in, the upgrade is
// complete, and whoever finds the journal then drops what "old" keeps.
#ifndef OVELO_ENGINE_WORK_FOLDER_H
#define OVELO_ENGINE_WORK_FOLDER_H

#include "descriptor.h"
#include "outcome.h"

#include <ctime>
#include <string>
#include <sys/types.h>
#include <vector>

constexpr char kWorkName[] = ".ovelo8-work";

// One step of putting an upgrade in place.
struct Move {
    enum class Kind : char {
        kEntry = 'e',  // the staged entry moves in, over what was there
        kAside = 'r',  // what was there goes, nothing takes its place
    };
    Kind kind = Kind::kEntry;
    std::string path;    // in the destination
    std::string staged;  // its name in "new" and in "old"
    // What it replaces is the user's: kept beside it once the upgrade is
    // complete, not dropped.
    bool keepReplaced = false;
};

// A folder of the destination, with the mode and times it had or is to have.
struct FolderState {
    std::string path;  // "" for the destination itself
    mode_t mode = 0;
    timespec times[2]{};  // access and modification; an access time of UTIME_OMIT is kept
};

struct Journal {
    std::vector<FolderState> before;  // the folders the moves change, as they were
    std::vector<FolderState> after;   // the existing folders, as the product has them
    std::vector<Move> moves;          // in order; the last puts the manifest in place
};

enum class Recovered {
    kNothing,    // no run was interrupted
    kCompleted,  // one was, after its manifest was in: its upgrade was completed
    kUndone,     // one was, before: the destination was put back as it was
};

class WorkFolder {
public:
    // Makes and locks the work folder of the existing destination open on
    // root (read access), for as long as this lives.  What a killed run
    // left there is dealt with first, as *recovered says; without a journal
    // it is removed.  kBusy when a run going on holds it; kInterrupted when
    // a leftover keeps replaced entries and no journal says where they
    // belong; kNotPutBack when its journal could not be carried out (what
    // could not is still kept); kWorkFolderForeign or kWorkFolderOpenToOthers
    // when root finds one another user could have changed; kNotWritable
    // (with the errno) when it can not be made.
    Outcome Take(int root, Recovered* recovered);

    int Staging() const { return staging_.get(); }
    int Backups() const { return backups_.get(); }

    // Before the first move: made durable by the caller's next syncfs.
    bool WriteJournal(const Journal& journal);

    // Takes every move back, last first, and gives the folders their
    // modes and times from before; false when something could not be put
    // back, which stays kept here.
    bool Undo(const Journal& journal);
    // After the last move: what the user made is kept beside the new
    // version (Saved), and the folders get their modes and times; false
    // when some of it could not be, which stays kept here (NotKept).
    bool Complete(const Journal& journal);
    // The paths the user's versions are kept as, by this run's Complete
    // or a killed run's completed in Take; and those that could not be.
    const std::vector<std::string>& Saved() const { return saved_; }
    const std::vector<Outcome>& NotKept() const { return notKept_; }

    // Everything is where it belongs: the folder goes, and the lock with it.
    void Remove();
    // The folder stays, holding what could not be put back; the lock goes.
    void Leave();

private:
    bool Recover(Recovered* recovered);
    bool Empty();

    int root_ = -1;
    Descriptor work_;
    Descriptor staging_;
    Descriptor backups_;
    std::vector<std::string> saved_;
    std::vector<Outcome> notKept_;
};

// Gives the folder at path beneath root the mode and times of state; false,
// errno set, when it could not be given both.
bool ApplyFolderState(int root, const FolderState& state);

#endif
