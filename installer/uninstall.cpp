// FILE --uninstall DIR: removes the product installed in DIR by its
// manifest, without a display; what the user added or changed stays and is
// named on standard error.
#include "destination.h"
#include "format.h"
#include "manifest.h"
#include "state.h"
#include "uninstall.h"

#include <cstdio>
#include <string>

namespace {

void Say(const std::string& text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
}

void SayEach(const std::string& directory, const std::vector<std::string>& paths,
             const char* format)
{
    for (const std::string& path : paths)
        Say(FormatText(format, (directory + "/" + path).c_str()));
}

// The folder to uninstall from, walked as a destination is; false when
// it was refused (and said why).
bool FindInstallation(const std::string& directory, Destination* place)
{
    std::string message;
    switch (WalkDestination(directory, place, &message)) {
    case Walked::kReached:
        message = RefusedDestination(directory, place->folder.get());
        break;
    case Walked::kRefused:
        break;
    case Walked::kMissing:
    case Walked::kFailed:
        message = FormatText("There is no folder %s to uninstall from.", directory.c_str());
        break;
    }
    if (!message.empty())
        Say(message);
    return message.empty();
}

}  // namespace

int UninstallProduct(const char* directory)
{
    if (!*directory) {
        Say("You must specify a destination directory.");
        return 1;
    }
    Destination place;
    if (!FindInstallation(directory, &place))
        return 1;
    UninstallReport report;
    switch (Uninstall(place, &report)) {
    case Uninstalled::kComplete:
        return 0;
    case Uninstalled::kNoManifest:
        Say(FormatText("%s holds no record of an installation (%s); nothing was removed.",
                       directory, kManifestName));
        return 1;
    case Uninstalled::kBadManifest:
        Say(FormatText("The record of the installation %s/%s can not be read; nothing was "
                       "removed.", directory, kManifestName));
        return 1;
    case Uninstalled::kIncomplete:
        break;
    }
    SayEach(directory, report.changed, "Kept %s: it was changed since it was installed.");
    SayEach(directory, report.holding, "Kept %s: it holds files that were not installed.");
    SayEach(directory, report.failed, "Can not remove %s");
    return 1;
}
