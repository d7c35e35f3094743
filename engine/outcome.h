// What the engine found, for the installer to put into words.
//
// The engine never words a message for the user: it says which case it
// met, the names concerned as it found or was given them and the system's
// error number, and the installer's one table of messages turns that into
// the text and the exit status of the run.  The few cases the installer
// meets by itself are listed here too, so that the one table words them all.
#ifndef OVELO_ENGINE_OUTCOME_H
#define OVELO_ENGINE_OUTCOME_H

#include <cerrno>
#include <cstdint>
#include <string>

enum class Fault {
    kNone,
    kStopped,  // the observer said stop: no message, the caller knows why

    // The run itself short of memory or of descriptors, whatever step met it.
    kOutOfMemory, kTooManyOpenFiles,

    // The installer file itself, found by the installer.
    kCannotFindSelf, kCannotReadSelf, kSelfNotRegular,
    // The installer file, damaged: its payload and the compression.
    kNoPayload, kSealUnreadable, kVersionUnreadable, kChecksumMismatch, kIndexMisfit, kPayloadUnreadable,
    kCutShort, kCorrupt, kChunkCorrupt, kTrailingData,
    // The archive in it, damaged or not safe to install.
    kDamagedHeader, kDataAfterEnd, kArchiveEndsEarly, kNoPlayer, kPlayerNotRegular,
    kPlayerNotExecutable, kMemberOutside, kTopFolderAsOther, kBelowLink, kBelowFile, kTwice,
    kReservedName, kHardLinkToNothing, kUnsupportedMember, kExtendedTooLarge, kSealMismatch,

    // The destination, before anything is written.
    kEmptyDestination, kForeignLink, kBehindForeignLink, kOnWayOpenToOthers, kNotDirectory,
    kForeignDestination, kDestinationOpenToOthers, kCannotMakeDestination, kCannotEnter,
    kNotWritable, kBusy, kInterrupted, kNoRoom, kNoEntries, kRootDestination, kFolderForeign,
    kFolderOpenToOthers, kWorkFolderForeign, kWorkFolderOpenToOthers, kRecoveredCompleted,
    kRecoveredUndone,
    // Writing the product and putting it in place.
    kCannotMake, kCannotWrite, kCannotMakeLink, kCannotLink, kBlocksMismatch, kCannotSetMode,
    kCannotSync, kEndedInEntry, kCannotSetDestinationMode, kCannotPutDestination,
    kCannotReach, kCannotPutInPlace, kOwnFolderWhereFile, kOwnFolderWhereFolder,
    kOwnFileWhereFolder, kCannotReplace, kAppeared, kNotPutBack, kNotKeptBeside,
    // After the installation.
    kReplacedAfterwards, kCannotStart, kSettingsLink, kSettingsNotRegular, kSettingsForeign,
    kSettingsFailed, kSettingsForeignHome,
    // Stopped by a signal: what became of the destination.
    kStoppedInstalled, kStoppedPutBack, kStoppedNotPutBack,

    // Uninstalling.
    kNoFolderToUninstall, kNoManifest, kBadManifest, kKeptChanged, kKeptHolding,
    kCannotRemove,

    // The faces.
    kUsageNotUnderstood, kUsageMissingOperand, kReportUnwritten, kCannotVerify, kNoSuchChoice,
    kNoDisplay, kNoDisplayTerminal, kUnknownFailure,  // the last
};

struct Outcome {
    Fault fault = Fault::kNone;
    std::string name;   // the path or member concerned, as found or as given
    std::string other;  // a second one: the folder on the way, a member's type
    int error = 0;      // errno of the call that failed, 0 when none did
    std::string detail; // a library's own words about it (zlib's)
    // The room or the entries the product needs and those there are.
    std::uint64_t needed = 0;
    std::uint64_t available = 0;
    bool besideEarlier = false;  // what the destination holds stays meanwhile

    bool ok() const { return fault == Fault::kNone; }
};

// Whether a call failed for want of memory or descriptors, which the
// installer says as such rather than what the call was for.
inline bool IsShortage(int error)
{
    return error == ENOMEM || error == EMFILE || error == ENFILE;
}

inline Outcome Found(Fault fault, std::string name = std::string(), int error = 0)
{
    Outcome outcome;
    outcome.fault = fault;
    outcome.name = std::move(name);
    outcome.error = error;
    return outcome;
}

#endif
