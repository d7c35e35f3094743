// Writes the product into its destination, all or nothing.
//
// A destination that does not exist is written as a hidden folder beside
// it, ".ovelo8-NAME", made durable and renamed into place at the end, never
// over anything that appeared meanwhile.  Into an existing destination
// every entry is first written under a hidden folder of it, ".ovelo8-work";
// at the end each is renamed into its place, what it replaces kept there
// (a hard link, or the entry itself) until all are in, so that anything
// going wrong puts the destination back exactly as it was.  Then what the
// earlier installation's manifest lists and the new one no longer ships
// goes, unless changed since.  Either hidden folder left by a killed run is
// removed by the next one before it starts, unless the run was killed
// while it replaced entries: then the backups hold the only copies of the
// earlier ones, and the next run leaves them and refuses to start.
//
// Everything is reached through the destination's descriptor, never
// through a link that lies in it.
#ifndef OVELO_ENGINE_WRITER_H
#define OVELO_ENGINE_WRITER_H

#include "descriptor.h"
#include "manifest.h"
#include "seal.h"
#include "tar_filter.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

constexpr char kWorkName[] = ".ovelo8-work";  // in an existing destination

enum class Begun {
    kBegun,
    kCannotMake,   // a new destination's hidden folder can not be made
    kNotWritable,  // an existing destination can not be written into
    kCannotEnter,  // nor searched
    kBusy,         // another installation is writing there
    kInterrupted,  // a killed run left earlier entries in kWorkName
};

class ProductWriter {
public:
    ProductWriter();
    ~ProductWriter();  // rolls back what was not finished
    ProductWriter(const ProductWriter&) = delete;
    ProductWriter& operator=(const ProductWriter&) = delete;

    // Into name, missing from the folder open on parent.
    Begun BeginNew(int parent, const std::string& name);
    // Into the existing folder open on folder (read access).
    Begun BeginExisting(int folder);

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
    // Puts the destination back as it was; a no-op after Finish succeeded.
    void RollBack();
    // Whether the last RollBack could not put everything back: the earlier
    // entries it left are kept in kWorkName.
    bool LeftBehind() const { return leftBehind_; }

    const std::string& Failure() const { return failure_; }
    // Whether Finish failed because the new destination's name was taken
    // meanwhile.
    bool Appeared() const { return appeared_; }
    // The destination, once begun; after Finish its descriptor.
    int Folder() const;
    // Whether the existing destination held anything before.
    bool HeldFiles() const { return heldFiles_; }
    // Earlier files that were to go but changed since, kept.
    const std::vector<std::string>& Kept() const { return kept_; }

private:
    // A folder of the archive: one the destination already had, or new,
    // then made where stagedPath says (relative to the staging root).
    struct ArchiveFolder {
        bool existing = false;
        std::string staged;
    };
    // An entry moved into the existing destination at the end.
    struct Move {
        std::string path;    // in the destination
        std::string staged;  // its name in the staging area
        bool folder = false;
        // What it replaced, kept in the backups under its staged name: a
        // link to the file still in place, or the entry itself moved aside.
        bool linked = false;
        bool movedAside = false;
        bool in = false;  // it is in place
    };
    struct SavedFolder {
        std::string path;
        mode_t mode;
        timespec times[2];
    };
    struct FolderLook {
        std::string path;
        unsigned mode;
        std::int64_t mtime;
    };

    bool Fail(const std::string& what);
    bool FailWithErrno(const std::string& what);
    int StagingRoot() const;
    const ArchiveFolder* EnsureFolder(const std::string& path);
    bool MakeFolder(const ArchiveEntry& entry);
    bool BeginEntry(const ArchiveEntry& entry);
    std::string StagedName(const ArchiveFolder& parent, const std::string& path);
    bool StartFile(const ArchiveEntry& entry, const std::string& staged);
    bool EndFile();
    bool WriteData(const char* data, std::size_t count);
    bool PutBlocks(const char* data, std::size_t count);
    bool WriteAt(std::string_view before, const char* data, std::size_t count);
    bool MakeLink(const ArchiveEntry& entry, const std::string& staged);
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
    bool ApplyFolderLooks(bool existing);
    bool WriteManifest();
    bool FinishNew();
    bool FinishExisting();
    bool Commit(Move* move);
    bool MayMoveAside(int at, const std::string& name, const std::string& path);
    void Save(const std::string& path);
    bool PutBack(const Move& move);
    void RemoveStale();
    bool Durable();

    bool existing_ = false;
    bool begun_ = false;
    bool ready_ = false;
    bool finished_ = false;
    bool leftBehind_ = false;
    bool heldFiles_ = false;
    bool appeared_ = false;
    bool asRoot_ = false;    // root installs: archived modes kept, owner 0/root
    bool chown_ = false;     // what we make is not yet 0/root
    mode_t umask_ = 022;
    std::string name_;       // a new destination's name in its parent
    std::string hidden_;     // the hidden staging folder's name there
    Descriptor root_;        // the new destination's staging folder, or the existing one
    Descriptor work_;        // an existing destination's hidden folder
    Descriptor staging_;     // new entries in it
    Descriptor backups_;     // what they replaced

    std::deque<ArchiveEntry> announced_;
    std::unordered_map<std::string, ArchiveFolder> folders_;
    std::unordered_map<std::string, std::string> staged_;  // non-folders, for hard links
    std::unordered_map<std::string, std::size_t> listed_;  // their lines in manifest_
    std::vector<FolderLook> looks_;
    std::vector<Move> moves_;
    std::vector<SavedFolder> saved_;
    std::vector<ManifestEntry> manifest_;
    std::vector<ManifestEntry> earlier_;  // the earlier installation's manifest
    std::unordered_map<std::string, std::size_t> earlierIndex_;
    std::unordered_set<std::string> savedPaths_;
    // The folder last opened for writing into, and for moving into place.
    std::string stagedCachePath_, destinationCachePath_;
    Descriptor stagedCache_, destinationCache_;
    std::vector<std::string> kept_;

    // The file being written.
    ArchiveEntry current_{};
    Descriptor file_;
    std::uint64_t left_ = 0, padding_ = 0;
    std::uint64_t at_ = 0;   // the offset in it of the next bytes
    std::uint64_t end_ = 0;  // how far it is written; holes may follow
    std::string block_;      // the start of a block the next bytes complete; then that block
    std::size_t holeSize_ = 4096;  // the file system's block: a run of zeros as long is a hole
    CksumCrc crc_;
    std::string failure_;
};

#endif
