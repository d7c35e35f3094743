// Writes the product into its destination, all or nothing.
//
// A destination that does not exist is written as a hidden folder beside
// it, ".ovelo8-NAME", made durable and renamed into place at the end, never
// over anything that appeared meanwhile.  Into an existing destination
// every entry is first written under its work folder (work_folder.h); at
// the end each is renamed into its place, what it replaces kept there (a
// hard link, or the entry itself) until all are in, so that anything going
// wrong puts the destination back exactly as it was.  What the earlier
// installation's manifest lists and the new one no longer ships is moved
// aside the same way, unless changed since.  The journal written before
// the first move lets the next run finish or undo a run killed meanwhile.
//
// Everything is reached through the destination's descriptor, never
// through a link that lies in it.  When root installs into an existing
// destination, every folder of it that the product writes into or removes
// from must be root's and closed to others, as the destination itself.
#ifndef OVELO_ENGINE_WRITER_H
#define OVELO_ENGINE_WRITER_H

#include "cksum.h"
#include "descriptor.h"
#include "entry_stream.h"
#include "manifest.h"
#include "outcome.h"
#include "tar_filter.h"
#include "work_folder.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>
#include <vector>

class ProductWriter {
public:
    ProductWriter();
    ~ProductWriter();  // rolls back what was not finished
    ProductWriter(const ProductWriter&) = delete;
    ProductWriter& operator=(const ProductWriter&) = delete;

    // Into name, missing from the folder open on parent: kCannotMakeDestination
    // or kBusy (another run is writing there) when it can not begin.
    Outcome BeginNew(int parent, const std::string& name);
    // Into the existing folder open on folder (read access): kCannotEnter
    // when it may not be searched, or what taking its work folder found.
    // A run killed in it before is finished or undone first (Recovered).
    Outcome BeginExisting(int folder);
    Recovered RecoveredRun() const { return recovered_; }

    // The archive: each entry as it passed the checks, announced before
    // its blocks are taken; then the blocks, in order.  Take is false when
    // a write failed (Failure says why); nothing is put in place until Finish.
    void Announce(const ArchiveEntry& entry);
    bool Take(const char* blocks, std::size_t count);

    // Everything written and on the disk, nothing yet in place: until
    // Finish starts moving entries, RollBack leaves the destination exactly
    // as it was.  False, everything put back, when that fails.
    bool Ready();
    // Ready if not yet, then puts the product in place and removes what
    // the earlier version left and the user did not change.  False,
    // everything put back, when that fails.
    bool Finish();
    // The product's version the manifest names; none when not given.
    void SetProductVersion(const std::string& version) { productVersion_ = version; }

    // Puts the destination back as it was; a no-op after Finish succeeded.
    void RollBack();
    // Whether the last RollBack could not put everything back: the earlier
    // entries it left are kept in kWorkName.
    bool LeftBehind() const { return leftBehind_; }

    const Outcome& Failure() const { return failure_; }
    // Whether Finish failed because the new destination's name was taken
    // meanwhile.
    bool Appeared() const { return appeared_; }
    // The destination, once begun; after Finish its descriptor.
    int Folder() const;
    // Whether the existing destination held anything before.
    bool HeldFiles() const { return heldFiles_; }
    // Earlier files that were to go but changed since, kept.
    const std::vector<std::string>& Kept() const { return kept_; }
    // Earlier entries that were to go but could not be removed
    // (kCannotRemove); files of the user's that could not be kept beside
    // the new ones, kept in the work folder (kNotKeptBeside).
    const std::vector<Outcome>& NotRemoved() const { return notRemoved_; }
    // Files of the user's that entries replaced, kept beside them: their
    // names now.
    const std::vector<std::string>& Saved() const { return work_.Saved(); }

private:
    // A folder of the archive: one the destination already had, or new,
    // then made where staged says (relative to the staging root).
    struct ArchiveFolder {
        bool existing = false;
        std::string staged;
    };
    struct FolderLook {
        std::string path;
        unsigned mode;
        std::int64_t mtime;
    };

    bool Fail(Fault fault, const std::string& path = std::string(), int error = 0);
    bool FailWithErrno(Fault fault, const std::string& path = std::string());
    int StagingRoot() const;
    bool Trusted(const std::string& path);
    const ArchiveFolder* EnsureFolder(const std::string& path);
    bool MakeFolder(const ArchiveEntry& entry);
    bool BeginEntry(const ArchiveEntry& entry);
    std::string StagedName(const ArchiveFolder& parent, const std::string& path);
    std::string Stage(const ArchiveFolder& parent, const std::string& path);
    bool AlreadyInPlace(const ArchiveEntry& entry);
    bool OwnedAsInstalled(const struct stat& info) const;
    bool CompareFile(const ArchiveEntry& entry);
    bool StartFile(const ArchiveEntry& entry, const std::string& staged);
    bool BeginData(const ArchiveEntry& entry);
    bool EndFile();
    bool TakeData(const char* data, std::size_t count);
    bool SameAsInPlace(const char* data, std::size_t count);
    bool Diverge();
    bool WriteData(const char* data, std::size_t count);
    bool PutBlocks(const char* data, std::size_t count);
    bool WriteAt(std::string_view before, const char* data, std::size_t count);
    bool MakeLink(const ArchiveEntry& entry, const std::string& staged);
    void ListLink(const ArchiveEntry& entry);
    bool ListHardLink(const ArchiveEntry& entry);
    int StagedFolder(const std::string& stagedPath);
    int DestinationFolder(const std::string& path);
    bool MakeHardLink(const ArchiveEntry& entry, const std::string& staged);
    void List(const ManifestEntry& entry);
    bool OnlyListed(int folder, const std::string& path);
    bool ListedUnchanged(const std::string& path);
    bool ExistsAsFolder(const std::string& path);
    void ForgetFolders();
    Descriptor Parent() const;
    void Own(int fd, const char* name, int flags);
    unsigned ModeOf(unsigned archived) const;
    bool ApplyNewFolderLooks();
    bool ApplyExistingFolderLooks();
    bool PlanStaleEntries();
    bool PlanJournal();
    bool FolderInPlace(const FolderLook& look);
    void MarkTheUsersOwn();
    bool WriteManifest();
    bool FinishNew();
    bool FinishExisting();
    bool Commit(const Move& move);
    void MoveAside(const Move& move);
    bool MayMoveAside(int at, const std::string& name, const std::string& path);
    bool Durable();

    bool existing_ = false;
    bool begun_ = false;
    bool ready_ = false;
    bool finished_ = false;
    bool moving_ = false;    // entries may have moved: RollBack takes them back
    bool leftBehind_ = false;
    bool heldFiles_ = false;
    bool appeared_ = false;
    bool asRoot_ = false;    // root installs: archived modes kept, owner 0/root
    bool chown_ = false;     // what we make is not yet 0/root
    mode_t umask_ = 022;
    Recovered recovered_ = Recovered::kNothing;
    FolderState rootBefore_;  // an existing destination's, before its work folder came
    std::string name_;       // a new destination's name in its parent
    std::string hidden_;     // the hidden staging folder's name there
    Descriptor root_;        // the new destination's staging folder, or the existing one
    WorkFolder work_;        // an existing destination's

    EntryStream stream_;     // the archive, entry by entry
    std::unordered_map<std::string, ArchiveFolder> folders_;
    // Non-folders, for hard links: where each was staged, when not as its
    // own path; empty when it was left in place.
    std::unordered_map<std::string, std::string> staged_;
    // Their lines in manifest_, by their paths there (a deque: they stay put).
    std::unordered_map<std::string_view, std::size_t> listed_;
    std::vector<FolderLook> looks_;
    Journal journal_;        // the moves, and the folders' modes and times around them
    std::deque<ManifestEntry> manifest_;
    std::string productVersion_;
    std::vector<ManifestEntry> earlier_;  // the earlier installation's manifest
    std::string earlierVersion_;          // and the version it names
    std::unordered_map<std::string_view, std::size_t> earlierIndex_;  // into earlier_
    // The folder last opened for writing into, and for moving into place.
    std::string stagedCachePath_, destinationCachePath_;
    Descriptor stagedCache_, destinationCache_;
    std::vector<std::string> kept_;
    std::vector<Outcome> notRemoved_;

    // The file being written, or compared with the one in place.
    ArchiveEntry current_{};
    Descriptor file_;
    Descriptor comparing_;
    std::uint64_t compared_ = 0;  // bytes found the same so far
    std::vector<char> compareBuffer_;
    std::uint64_t at_ = 0;   // the offset in it of the next bytes
    std::uint64_t end_ = 0;  // how far it is written; holes may follow
    std::string block_;      // the start of a block the next bytes complete; then that block
    std::size_t holeSize_ = 4096;  // the file system's block: a run of zeros as long is a hole
    CksumCrc crc_;
    Outcome failure_;
};

#endif
