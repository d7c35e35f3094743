// Uninstalling by the manifest.
#include "uninstall.h"

#include "beneath.h"
#include "manifest.h"
#include "work_folder.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

enum class Removal { kGone, kKept, kFailed };

Removal Remove(int folder, const ManifestEntry& entry)
{
    const Descriptor at = OpenBeneath(folder, FolderOf(entry.path), O_PATH | O_DIRECTORY);
    const std::string name = LastName(entry.path);
    struct stat info;
    // Only what is not there is gone: a folder on the way that can not be
    // searched, or a link put in its place, hides what may still be there.
    if (!at || fstatat(at.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == -1)
        return errno == ENOENT ? Removal::kGone : Removal::kFailed;
    if (entry.type != 'd' && !Unchanged(folder, entry))
        return errno == 0 ? Removal::kKept : Removal::kFailed;
    if (unlinkat(at.get(), name.c_str(), entry.type == 'd' ? AT_REMOVEDIR : 0) == 0)
        return Removal::kGone;
    if (entry.type == 'd' && (errno == ENOTEMPTY || errno == EEXIST))
        return Removal::kKept;
    return Removal::kFailed;
}

void RemoveAll(int folder, const std::vector<ManifestEntry>& entries, bool folders,
               UninstallReport* report)
{
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if ((entry->type == 'd') != folders)
            continue;
        switch (Remove(folder, *entry)) {
        case Removal::kGone:
            break;
        case Removal::kKept:
            (folders ? report->holding : report->changed).push_back(entry->path);
            break;
        case Removal::kFailed:
            report->failed.push_back(Found(Fault::kCannotRemove, entry->path, errno));
            break;
        }
    }
}

}  // namespace

Uninstalled Uninstall(const Destination& destination, UninstallReport* report)
{
    const int folder = destination.folder.get();
    WorkFolder work;
    report->refusal = work.Take(folder, &report->recovered);
    if (!report->refusal.ok())
        return Uninstalled::kRefused;
    std::vector<ManifestEntry> entries;
    switch (ReadManifest(folder, &entries)) {
    case ManifestRead::kMissing:
        work.Remove();
        return Uninstalled::kNoManifest;
    case ManifestRead::kBadManifest:
        report->refusal = Found(Fault::kBadManifest, "", errno);
        work.Remove();
        return Uninstalled::kBadManifest;
    case ManifestRead::kRead:
        break;
    }
    RemoveAll(folder, entries, false, report);
    RemoveAll(folder, entries, true, report);
    if (report->failed.empty() && unlinkat(folder, kManifestName, 0) == -1 && errno != ENOENT)
        report->failed.push_back(Found(Fault::kCannotRemove, kManifestName, errno));
    work.Remove();
    if (destination.parent)
        unlinkat(destination.parent.get(), destination.name.c_str(), AT_REMOVEDIR);
    const bool complete = report->changed.empty() && report->holding.empty() && report->failed.empty();
    return complete ? Uninstalled::kComplete : Uninstalled::kIncomplete;
}
