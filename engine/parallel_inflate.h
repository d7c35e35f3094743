// Decompression of an indexed payload (chunk_index.h) on every core the
// process may use, the archive handed on in order.
//
// Worker threads decompress the chunks ahead, each into a slot of its own;
// the calling thread hands the slots on in order, and waits for the next
// one a little at a time, calling back in between, so that a window stays
// alive and a cancel is seen at once.  The chunks held at any time are few
// and small: the memory used does not grow with the payload.
#ifndef OVELO_ENGINE_PARALLEL_INFLATE_H
#define OVELO_ENGINE_PARALLEL_INFLATE_H

#include "chunk_index.h"
#include "outcome.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// The next bytes of the archive; false stops the decompression.
using ChunkSink = std::function<bool(const char* data, std::size_t count)>;
// Called often with the archive bytes handed on so far; false stops.
using ChunkProgress = std::function<bool(std::uint64_t handed)>;

enum class ChunksEnd { Done, Damaged, Stopped };

struct ChunksOutcome {
    ChunksEnd end = ChunksEnd::Done;
    Fault damage = Fault::kNone;  // what was found, when Damaged
};

// The processors the process may run on.
int UsableProcessors();
// Threads to decompress with: the processors the process may run on, at
// most 8.
int DecompressionThreads();

// Decompresses the chunks of the payload at start in fd with threads
// workers (at least one), checking each chunk's length and CRC, and hands
// the archive to sink in order, in pieces of any length; when no worker
// thread can start, on the calling thread.  Stopped when the sink or the
// progress callback said so; Damaged, with kOutOfMemory, when memory ran
// short.
ChunksOutcome InflateChunks(int fd, off_t start, const std::vector<Chunk>& chunks, int threads,
                            const ChunkSink& sink, const ChunkProgress& progress);

#endif
