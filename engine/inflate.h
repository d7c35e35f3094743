// The product archive out of the payload: the gzip member is decompressed,
// every block passes the archive checks (tar_filter.h), and what passed is
// handed on in order, in whole blocks.  A payload with a chunk index
// (chunk_index.h) is decompressed on every core the process may use; one
// without in one stream.
#ifndef OVELO_ENGINE_INFLATE_H
#define OVELO_ENGINE_INFLATE_H

#include "installer_file.h"
#include "observer.h"
#include "outcome.h"
#include "tar_filter.h"

#include <cstddef>

enum class Streamed {
    kComplete,  // the whole archive passed, and ended where it should
    kDamaged,   // the payload is damaged; the outcome says how
    kRefused,   // the sink took no more
    kStopped,   // the observer said stop
};

// Reads the payload of the file with pread.  The end-of-archive blocks
// are not handed on: the caller knows the archive ended.  A sealed file's
// archive must add up to its seal: the filter is given it.  kDamaged also
// when memory ran short (kOutOfMemory): the outcome says which.
Streamed StreamArchive(const InstallerFile& file, TarFilter& filter, Observer& observer,
                       const ArchiveSink& sink, Outcome* damage);

#endif
