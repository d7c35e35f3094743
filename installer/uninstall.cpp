// FILE --uninstall DIR: removes the product installed in DIR by its
// manifest, without a display; what the user added or changed stays and is
// named on standard error.
#include "destination.h"
#include "manifest.h"
#include "messages.h"
#include "state.h"
#include "uninstall.h"

#include <string>

namespace {

// Each path of the report beneath the directory, in the message of fault.
void ReportEach(const std::string& directory, const std::vector<std::string>& paths, Fault fault)
{
    for (const std::string& path : paths)
        Report(Found(fault, directory + "/" + path));
}

// The folder to uninstall from, walked as a destination is; false when
// it was refused, not there, or could not be reached (and said so).
bool FindInstallation(const std::string& directory, Destination* place)
{
    Outcome refusal;
    const Walked walked = WalkDestination(directory, place, &refusal);
    switch (walked) {
    case Walked::kReached:
        refusal = RefusedDestination(directory, place->folder.get());
        break;
    case Walked::kRefused:
        break;
    case Walked::kMissing:
    case Walked::kFailed:
        refusal = Found(FoundNothing(walked, refusal) ? Fault::kNoFolderToUninstall
                                                      : Fault::kCannotRemove,
                        directory, refusal.error);
        break;
    }
    if (!refusal.ok())
        Report(AsShortage(refusal));
    return refusal.ok();
}

}  // namespace

int UninstallProduct(const char* directory)
{
    if (!*directory) {
        Report(Found(Fault::kEmptyDestination));
        return ReportedStatus();
    }
    Destination place;
    if (!FindInstallation(directory, &place))
        return ReportedStatus();
    UninstallReport report;
    const Uninstalled uninstalled = Uninstall(place, &report);
    if (report.recovered != Recovered::kNothing && uninstalled != Uninstalled::kRefused)
        Show(RecoveryNote(directory, report.recovered));
    switch (uninstalled) {
    case Uninstalled::kComplete:
        return 0;
    case Uninstalled::kRefused:
    case Uninstalled::kBadManifest:
        report.refusal.name = directory;
        Report(AsShortage(report.refusal));
        return ReportedStatus();
    case Uninstalled::kNoManifest:
        Report(Found(Fault::kNoManifest, directory));
        return ReportedStatus();
    case Uninstalled::kIncomplete:
        break;
    }
    ReportEach(directory, report.changed, Fault::kKeptChanged);
    ReportEach(directory, report.holding, Fault::kKeptHolding);
    for (Outcome failed : report.failed) {
        failed.name = std::string(directory) + "/" + failed.name;
        Report(failed);
    }
    return ReportedStatus();
}
