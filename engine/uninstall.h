// Removing an installed product by its manifest: only what was installed
// and is unchanged since goes; whatever the user added or changed stays.
#ifndef OVELO_ENGINE_UNINSTALL_H
#define OVELO_ENGINE_UNINSTALL_H

#include "destination.h"
#include "outcome.h"
#include "work_folder.h"

#include <string>
#include <vector>

enum class Uninstalled {
    kComplete,     // everything listed is gone
    kIncomplete,   // something listed is left (the report says what)
    kNoManifest,   // nothing was removed
    kBadManifest,  // nothing was removed
    kRefused,      // the work folder could not be taken (the report's refusal says why)
};

struct UninstallReport {
    std::vector<std::string> changed;  // files and links kept, changed since
    std::vector<std::string> holding;  // folders kept, holding what was not installed
    std::vector<Outcome> failed;       // could not be removed: kCannotRemove, path, errno
    Recovered recovered = Recovered::kNothing;  // a killed run, dealt with first
    Outcome refusal;
};

// Under the lock of the destination's work folder, as an installation
// takes it (a run killed in it is finished or undone first): files and
// links first, then the folders left empty, then the manifest (unless a
// removal failed, so that another run can finish), then the destination
// itself when empty.
Uninstalled Uninstall(const Destination& destination, UninstallReport* report);

#endif
