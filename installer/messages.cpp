// The one table of messages: each outcome's words and exit status.
//
// A text names what it speaks of with fields in braces, filled from the
// outcome: {name} and {other} (shown), {file} (our own file as we were
// started), {reason} (": " and the system's words, when a call failed),
// {error} (the system's words alone), {detail}, {type} (a member's type),
// {needed} and {available}.
#include "messages.h"

#include "format.h"
#include "state.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <cwctype>

namespace {

// How a message is framed around its own words.
enum class Frame {
    kAlone,
    kDamaged,    // the installer file is damaged: says how
    kUnpacking,  // the unpacking failed: says where, then what to look at
    kSettings,   // the settings file was not written: says why
};

struct MessageRow {
    Fault fault;
    Frame frame;
    const char* text;
    int status;
};

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kBusy = 3;  // another run holds the destination: try again later

const MessageRow kMessages[] = {
    {Fault::kOutOfMemory, Frame::kAlone, "There is not enough memory to go on.", kFailed},
    {Fault::kTooManyOpenFiles, Frame::kAlone, "There are too many open files to go on.", kFailed},

    {Fault::kCannotFindSelf, Frame::kAlone,
     "unable to find location of executable {file} to self-extract.  Please run \n"
     "{file} with an absolute path (e.g. ./{file})\n", kFailed},
    {Fault::kCannotReadSelf, Frame::kAlone,
     "unable to read {file}.  Please do chmod 0500 {file} and try again\n", kFailed},
    {Fault::kSelfNotRegular, Frame::kAlone, "The installer file {file} is not a regular file.",
     kFailed},

    {Fault::kNoPayload, Frame::kDamaged, "no product archive was found at its end", kFailed},
    {Fault::kSealUnreadable, Frame::kDamaged, "its seal can not be read", kFailed},
    {Fault::kVersionUnreadable, Frame::kDamaged, "its product version can not be read", kFailed},
    {Fault::kChecksumMismatch, Frame::kDamaged, "its checksum does not match its content", kFailed},
    {Fault::kIndexMisfit, Frame::kDamaged, "its chunk index does not fit its compressed archive",
     kFailed},
    {Fault::kPayloadUnreadable, Frame::kDamaged, "it can not be read to its end", kFailed},
    {Fault::kCutShort, Frame::kDamaged, "its compressed archive is cut short", kFailed},
    {Fault::kCorrupt, Frame::kDamaged, "its compressed archive is corrupt ({detail})", kFailed},
    {Fault::kChunkCorrupt, Frame::kDamaged, "a chunk of its compressed archive is corrupt", kFailed},
    {Fault::kTrailingData, Frame::kDamaged, "other data follows its compressed archive", kFailed},
    {Fault::kDamagedHeader, Frame::kDamaged, "its archive holds a damaged tar header", kFailed},
    {Fault::kDataAfterEnd, Frame::kDamaged, "data follows the end of its archive", kFailed},
    {Fault::kArchiveEndsEarly, Frame::kDamaged, "its archive ends in the middle", kFailed},
    {Fault::kNoPlayer, Frame::kDamaged, "its archive holds no player ./ovelo", kFailed},
    {Fault::kPlayerNotRegular, Frame::kDamaged, "its player ./ovelo is not a regular file", kFailed},
    {Fault::kPlayerNotExecutable, Frame::kDamaged, "its player ./ovelo is not executable", kFailed},
    {Fault::kMemberOutside, Frame::kDamaged,
     "its archive holds a member named \"{name}\", outside the destination", kFailed},
    {Fault::kTopFolderAsOther, Frame::kDamaged, "its archive holds the top folder as {type}",
     kFailed},
    {Fault::kBelowLink, Frame::kDamaged,
     "its archive holds a member \"{name}\" below a symbolic link", kFailed},
    {Fault::kBelowFile, Frame::kDamaged, "its archive holds a member \"{name}\" below a file",
     kFailed},
    {Fault::kTwice, Frame::kDamaged, "its archive holds \"{name}\" twice", kFailed},
    {Fault::kReservedName, Frame::kDamaged,
     "its archive holds \"{name}\", a name the installer keeps for itself", kFailed},
    {Fault::kHardLinkToNothing, Frame::kDamaged,
     "its archive holds a hard link \"{name}\" to no earlier member", kFailed},
    {Fault::kUnsupportedMember, Frame::kDamaged, "its archive holds \"{name}\", {type}", kFailed},
    {Fault::kExtendedTooLarge, Frame::kDamaged,
     "its archive holds an extended tar header larger than 1 MiB", kFailed},
    {Fault::kSealMismatch, Frame::kDamaged, "its seal does not match its archive", kFailed},

    {Fault::kEmptyDestination, Frame::kAlone, "You must specify a destination directory.",
     kFailed},
    {Fault::kForeignLink, Frame::kAlone, "The destination {name} is a link owned by another user.",
     kFailed},
    {Fault::kBehindForeignLink, Frame::kAlone,
     "The destination {name} lies behind {other}, a link owned by another user.", kFailed},
    {Fault::kOnWayOpenToOthers, Frame::kAlone,
     "The destination {name} lies in {other}, which can be changed by other users.", kFailed},
    {Fault::kNotDirectory, Frame::kAlone, "The destination {name} is not a directory.", kFailed},
    {Fault::kForeignDestination, Frame::kAlone, "The destination {name} belongs to another user.",
     kFailed},
    {Fault::kDestinationOpenToOthers, Frame::kAlone,
     "The destination {name} can be changed by other users.", kFailed},
    {Fault::kCannotMakeDestination, Frame::kAlone, "Can not make directory {name}{reason}",
     kFailed},
    {Fault::kCannotEnter, Frame::kAlone, "Can not change to directory {name}", kFailed},
    {Fault::kNotWritable, Frame::kAlone,
     "You do not have write permission for the destination directory.", kFailed},
    {Fault::kBusy, Frame::kAlone, "Another installation or removal in {name} is under way.",
     kBusy},
    {Fault::kInterrupted, Frame::kAlone,
     "An installation into {name} was stopped while it replaced files; the earlier files it "
     "replaced are kept in {name}/.ovelo8-work/old.  Put them back or remove "
     "{name}/.ovelo8-work, then install again.", kFailed},
    {Fault::kNoRoom, Frame::kAlone,
     "There is not enough free space in {name}: {needed} needed, {available} available.",
     kFailed},
    {Fault::kNoEntries, Frame::kAlone,
     "There is not enough free space in {name}: {needed} files needed, {available} files "
     "available.", kFailed},
    {Fault::kFolderForeign, Frame::kAlone, "The folder {other}/{name} belongs to another user.",
     kFailed},
    {Fault::kFolderOpenToOthers, Frame::kAlone,
     "The folder {other}/{name} can be changed by other users.", kFailed},
    {Fault::kWorkFolderForeign, Frame::kAlone,
     "The folder {name}/.ovelo8-work belongs to another user.", kFailed},
    {Fault::kWorkFolderOpenToOthers, Frame::kAlone,
     "The folder {name}/.ovelo8-work can be changed by other users.", kFailed},
    {Fault::kRecoveredCompleted, Frame::kAlone,
     "An installation into {name} was interrupted after its files were in place; it was "
     "completed first.", kDone},
    {Fault::kRecoveredUndone, Frame::kAlone,
     "An installation into {name} was interrupted while it replaced files; what it replaced "
     "was put back first.", kDone},
    {Fault::kRootDestination, Frame::kAlone,
     "Installing into / is refused; choose a folder for the product.", kFailed},

    {Fault::kCannotMake, Frame::kUnpacking, "Can not make {name}{reason}", kFailed},
    {Fault::kCannotWrite, Frame::kUnpacking, "Can not write {name}{reason}", kFailed},
    {Fault::kCannotMakeLink, Frame::kUnpacking, "Can not make the link {name}{reason}", kFailed},
    {Fault::kCannotLink, Frame::kUnpacking, "Can not link {name}{reason}", kFailed},
    {Fault::kBlocksMismatch, Frame::kUnpacking, "the archive's blocks do not match its entries",
     kFailed},
    {Fault::kCannotSetMode, Frame::kUnpacking, "Can not set the mode of {name}{reason}", kFailed},
    {Fault::kCannotSync, Frame::kUnpacking, "Can not write the product to the disk{reason}",
     kFailed},
    {Fault::kEndedInEntry, Frame::kUnpacking, "the archive ended in the middle of an entry",
     kFailed},
    {Fault::kCannotSetDestinationMode, Frame::kUnpacking,
     "Can not set the destination's mode{reason}", kFailed},
    {Fault::kCannotPutDestination, Frame::kUnpacking, "Can not put the destination in place{reason}",
     kFailed},
    {Fault::kCannotReach, Frame::kUnpacking, "Can not reach {name}{reason}", kFailed},
    {Fault::kCannotPutInPlace, Frame::kUnpacking, "Can not put {name} in place{reason}", kFailed},
    {Fault::kOwnFolderWhereFile, Frame::kUnpacking,
     "{name} holds files of its own where the new version puts a file", kFailed},
    {Fault::kOwnFolderWhereFolder, Frame::kUnpacking,
     "{name} holds files of its own where the new version puts a folder", kFailed},
    {Fault::kOwnFileWhereFolder, Frame::kUnpacking,
     "{name} is a file or link of its own where the new version puts a folder", kFailed},
    {Fault::kCannotReplace, Frame::kUnpacking, "Can not replace {name}{reason}", kFailed},
    {Fault::kAppeared, Frame::kAlone,
     "The destination {name} appeared while it was being installed; nothing was installed.",
     kFailed},
    {Fault::kNotPutBack, Frame::kAlone,
     "Not everything in {name} could be put back as it was; the earlier files that could not "
     "are kept in {name}/.ovelo8-work/old.", kFailed},
    {Fault::kNotKeptBeside, Frame::kAlone,
     "Can not keep {name} beside the new version{reason}; it is kept as {other}.", kFailed},

    {Fault::kReplacedAfterwards, Frame::kAlone,
     "The destination {name} was replaced by another folder or a link after the installation; "
     "the player was not started.", kFailed},
    {Fault::kCannotStart, Frame::kAlone, "Can not start {name}{reason}", kFailed},
    {Fault::kSettingsLink, Frame::kSettings, "it is a symbolic link", kDone},
    {Fault::kSettingsNotRegular, Frame::kSettings, "it is not a regular file", kDone},
    {Fault::kSettingsForeign, Frame::kSettings, "it belongs to another user", kDone},
    {Fault::kSettingsFailed, Frame::kSettings, "{error}", kDone},
    {Fault::kSettingsForeignHome, Frame::kSettings, "the home folder belongs to another user",
     kDone},

    {Fault::kStoppedInstalled, Frame::kAlone,
     "Interrupted: {name} was installed, nothing more was done.", kFailed},
    {Fault::kStoppedPutBack, Frame::kAlone, "Interrupted: {name} was left as it was.", kFailed},
    {Fault::kStoppedNotPutBack, Frame::kAlone,
     "Interrupted: Not everything in {name} could be put back as it was; the earlier files that "
     "could not are kept in {name}/.ovelo8-work/old.", kFailed},

    {Fault::kNoFolderToUninstall, Frame::kAlone, "Nothing is installed in {name}.", kDone},
    {Fault::kNoManifest, Frame::kAlone,
     "{name} holds no record of an installation (.ovelo8-manifest); nothing was removed.",
     kFailed},
    {Fault::kBadManifest, Frame::kAlone,
     "The record of the installation {name}/.ovelo8-manifest can not be read; nothing was "
     "removed.", kFailed},
    {Fault::kKeptChanged, Frame::kAlone, "Kept {name}: it was changed since it was installed.",
     kDone},
    {Fault::kKeptHolding, Frame::kAlone, "Kept {name}: it holds files that were not installed.",
     kDone},
    {Fault::kCannotRemove, Frame::kAlone, "Can not remove {name}{reason}", kFailed},

    {Fault::kUsageNotUnderstood, Frame::kAlone,
     "{file}: \"{name}\" is not understood here; {file} --help tells what is.", kUsage},
    {Fault::kUsageMissingOperand, Frame::kAlone,
     "{file}: {name} needs a {other} after it; {file} --help tells more.", kUsage},
    {Fault::kReportUnwritten, Frame::kAlone, "Can not write the report{reason}", kFailed},
    {Fault::kCannotVerify, Frame::kAlone,
     "Not everything in {name} could be read{reason}; it can not be told whether it is what "
     "this file installs.", kUsage},
    {Fault::kNoSuchChoice, Frame::kAlone,
     "There is no choice {name}; type ./{name} for a folder of that name.", kFailed},
    {Fault::kNoDisplay, Frame::kAlone,
     "To install without a display: {file} -s DIRECTORY; {file} --help tells more.", kFailed},
    {Fault::kNoDisplayTerminal, Frame::kAlone,
     "No X display could be opened; the installation continues in the terminal.", kDone},
    {Fault::kUnknownFailure, Frame::kAlone, "Installation failed for unknown reason", kFailed},
};

const char kUnpackFailed[] =
    "Installation failed.  Perhaps the destination directory is unwriteable or you\n"
    "are out of disk space?\n";

const MessageRow& RowOf(Fault fault)
{
    for (const MessageRow& row : kMessages)
        if (row.fault == fault)
            return row;
    return RowOf(Fault::kUnknownFailure);  // a row of the table too
}

// MB, or GB from 1,000 MB on, with one decimal (two below 1 MB); what is
// needed is rounded up and what is available down, so that the two never
// read alike.
std::string ShownSize(std::uint64_t bytes, bool roundUp)
{
    const bool giga = bytes >= 1000000000u;
    const int decimals = bytes < 1000000u ? 2 : 1;
    const double scale = std::pow(10.0, decimals);
    const double units = static_cast<double>(bytes) / (giga ? 1e9 : 1e6) * scale;
    const double shown = (roundUp ? std::ceil(units) : std::floor(units)) / scale;
    return FormatText("%.*f %s", decimals, shown, giga ? "GB" : "MB");
}

std::string ShownCount(std::uint64_t count, Fault fault, bool roundUp)
{
    if (fault == Fault::kNoEntries)
        return std::to_string(count);
    return ShownSize(count, roundUp);
}

std::string TypeName(const std::string& type)
{
    const char letter = type.empty() ? '?' : type[0];
    switch (letter) {
    case '3': return "a character device";
    case '4': return "a block device";
    case '6': return "a FIFO";
    default: return FormatText("a member of type '%c'", letter >= ' ' && letter < 127 ? letter : '?');
    }
}

// What one field in braces stands for.
std::string FieldValue(const std::string& field, const Outcome& outcome)
{
    if (field == "name")
        return Shown(outcome.name);
    if (field == "other")
        return Shown(outcome.other);
    if (field == "file")
        return Shown(pArgv && pArgv[0] ? pArgv[0] : "");
    if (field == "reason")
        return outcome.error ? std::string(": ") + std::strerror(outcome.error) : "";
    if (field == "error")
        return std::strerror(outcome.error);
    if (field == "detail")
        return outcome.detail;
    if (field == "type")
        return TypeName(outcome.other);
    if (field == "needed")
        return ShownCount(outcome.needed, outcome.fault, true);
    if (field == "available")
        return ShownCount(outcome.available, outcome.fault, false);
    return "{" + field + "}";
}

std::string Filled(const char* text, const Outcome& outcome)
{
    std::string filled;
    for (const char* at = text; *at;) {
        const char* close = *at == '{' ? std::strchr(at, '}') : nullptr;
        if (!close) {
            filled += *at++;
            continue;
        }
        filled += FieldValue(std::string(at + 1, close), outcome);
        at = close + 1;
    }
    return filled;
}

}  // namespace

std::string Shown(const std::string& name)
{
    std::string text;
    std::mbstate_t state{};
    for (std::size_t at = 0; at < name.size();) {
        wchar_t character = 0;
        std::size_t length = std::mbrtowc(&character, name.data() + at, name.size() - at, &state);
        // Past the end: no character starts here, or only a part of one.
        const bool valid = length <= name.size() - at;
        if (!valid) {
            state = std::mbstate_t();
            length = 1;
        }
        length = std::max<std::size_t>(length, 1);  // a NUL is one byte
        if (valid && std::iswprint(character) && character != L'\\') {
            text.append(name, at, length);
        } else {
            for (std::size_t i = at; i < at + length; ++i)
                text += FormatText("\\%03o", static_cast<unsigned char>(name[i]));
        }
        at += length;
    }
    return text;
}

Outcome AsShortage(const Outcome& outcome)
{
    if (!IsShortage(outcome.error))
        return outcome;
    return Found(outcome.error == ENOMEM ? Fault::kOutOfMemory : Fault::kTooManyOpenFiles);
}

std::string Words(const Outcome& outcome)
{
    const MessageRow& row = RowOf(outcome.fault);
    const std::string words = Filled(row.text, outcome);
    switch (row.frame) {
    case Frame::kAlone:
        break;
    case Frame::kDamaged:
        return Filled("The installer file {file} is damaged: ", outcome) + words + ".";
    case Frame::kUnpacking:
        return words + "\n" + kUnpackFailed;
    case Frame::kSettings:
        return Filled("The settings file {name} was not written: ", outcome) + words + ".";
    }
    if ((outcome.fault == Fault::kNoRoom || outcome.fault == Fault::kNoEntries) &&
        outcome.besideEarlier)
        return words + "\nWhat it holds stays until the new version is complete,"
                       "\nso there must be room for both while installing.";
    return words;
}

int StatusOf(Fault fault)
{
    return fault == Fault::kNone ? kDone : RowOf(fault).status;
}

namespace {

// A heading, then each path beneath the destination on a line of its own.
std::string PathList(const char* heading, const std::string& destination,
                     const std::vector<std::string>& paths)
{
    std::string text;
    for (const std::string& path : paths)
        text += "\n  " + Shown(destination + "/" + path);
    return text.empty() ? text : heading + text;
}

}  // namespace

std::string KeptFilesNote(const std::string& destination, const std::vector<std::string>& paths)
{
    return PathList("These files of the earlier version were changed since; they are kept:",
                    destination, paths);
}

std::string SavedFilesNote(const std::string& destination, const std::vector<std::string>& paths)
{
    return PathList("The new version replaced files you had changed or put there yourself; "
                    "yours are kept beside them:", destination, paths);
}

std::string RecoveryNote(const std::string& destination, Recovered recovered)
{
    switch (recovered) {
    case Recovered::kNothing: break;
    case Recovered::kCompleted: return Words(Found(Fault::kRecoveredCompleted, destination));
    case Recovered::kUndone: return Words(Found(Fault::kRecoveredUndone, destination));
    }
    return std::string();
}
