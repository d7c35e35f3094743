// Finding the destination: its path walked once, a name at a time, each
// opened under the folder before it without following it, so that what is
// checked is what is used.  Everything after works through the descriptors
// the walk leaves.
//
// A link on the way must be the installing user's or root's; when root
// installs, every folder on the way must be root's and writable by root
// alone unless sticky, and an existing destination must be nobody else's.
#ifndef OVELO_ENGINE_DESTINATION_H
#define OVELO_ENGINE_DESTINATION_H

#include "descriptor.h"
#include "outcome.h"

#include <string>

enum class Walked {
    kReached,  // it exists: folder holds it (whatever it is, not yet checked)
    kMissing,  // only its last name is missing: parent and name say where
    kRefused,  // a link or folder on the way is not to be trusted
    kFailed,   // the path is empty, or something else on the way is missing or no folder
};

struct Destination {
    Descriptor folder;  // the destination, open for reading (kReached)
    Descriptor parent;  // the folder that holds it, or is to hold it (O_PATH)
    std::string name;   // its name there
};

// Walks path from "/" or the current directory.  *refusal says why for
// kRefused, naming the destination as given; for kFailed its error is the
// errno of the call that failed (0 for an empty path), so that a run short
// of descriptors or memory can say so.
Walked WalkDestination(const std::string& path, Destination* destination, Outcome* refusal);

// Whether a walk that did not reach the destination found nothing there:
// its last name, or a folder on the way, missing or no folder (or no path
// at all), rather than a step it was not let take (a folder it may not
// search, a shortage) or a refusal.
inline bool FoundNothing(Walked walked, const Outcome& refusal)
{
    return walked == Walked::kMissing ||
           (walked == Walked::kFailed &&
            (refusal.error == 0 || refusal.error == ENOENT || refusal.error == ENOTDIR));
}

// Why an existing destination may not be installed into or removed from:
// not a folder, another user's, or, when root installs, open to others.
// kNone when it may.
Outcome RefusedDestination(const std::string& path, int folder);

// Whether the folder held by fd is the root directory, however the path
// led there ("/", "/tmp/..", a link to "/"): no product is installed
// straight into it.
bool IsRootDirectory(int folder);

// When root installs, why a folder (held by fd) is not to be trusted:
// another user's (kFolderForeign), or one that group or others may change
// without the sticky bit (kFolderOpenToOthers); kNone when it is, and
// always for anybody else.
Fault RootsDistrust(int folder);

#endif
