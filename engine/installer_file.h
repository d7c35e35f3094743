// An installer file, opened once for whatever reads it: installing,
// checking, listing or describing it.  Its trailer says where the payload
// lies; the payload's gzip header, read once, gives the seal and the chunk
// index.  Then the seal's checksum is checked and the archive streamed
// (inflate.h) from what was read here.
#ifndef OVELO_ENGINE_INSTALLER_FILE_H
#define OVELO_ENGINE_INSTALLER_FILE_H

#include "chunk_index.h"
#include "observer.h"
#include "outcome.h"
#include "payload.h"
#include "seal.h"

#include <optional>
#include <string>
#include <vector>

struct InstallerFile {
    int fd = -1;  // open for reading, kept open by the caller
    Payload payload;
    std::optional<Seal> seal;   // none: the file was made without one
    std::vector<Chunk> chunks;  // none: the payload is one stream
    std::string productVersion;  // empty: the packager gave none
    // An index that does not fit its member is reported when the archive
    // is streamed, once the seal's checksum has had its say: a damaged
    // index breaks the checksum too, the likelier reading of the damage.
    bool indexMisfit = false;
};

// Reads the trailer and the payload's header of the file open on fd into
// *file: kNoPayload, kSealUnreadable or kVersionUnreadable when the file
// is damaged there.
Outcome ReadInstallerFile(int fd, InstallerFile* file);

// Whether the payload gives its seal's checksum (always, without a seal):
// kNone, kChecksumMismatch, or kStopped when the observer said so.
Outcome CheckSealedChecksum(const InstallerFile& file, Observer& observer);

#endif
