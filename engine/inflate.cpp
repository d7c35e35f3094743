// Decompressing the payload and checking the archive on the way.
#include "inflate.h"

#include "chunk_index.h"
#include "parallel_inflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kReadSize = 256 * 1024;      // payload bytes per read
constexpr std::size_t kInflatedSize = 256 * 1024;  // archive bytes per round

struct Inflater {
    Inflater() { ready = inflateInit2(&stream, 15 + 16) == Z_OK; }  // a gzip member
    ~Inflater() { inflateEnd(&stream); }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    z_stream stream{};
    bool ready = false;
};

// The next bytes of the payload for the decompressor.
bool ReadPayload(int fd, const Payload& payload, off_t* consumed, std::vector<unsigned char>* input,
                 z_stream* stream)
{
    const std::size_t want = std::min<off_t>(input->size(), payload.length - *consumed);
    const ssize_t got = pread(fd, input->data(), want, payload.start + *consumed);
    if (got <= 0)
        return false;
    *consumed += got;
    stream->next_in = input->data();
    stream->avail_in = static_cast<uInt>(got);
    return true;
}

// Inflates behind the carried bytes of the output; false (and *damage
// says why) when the member is damaged or cut short, or zlib ran out of
// memory.
bool InflateInto(z_stream* stream, std::vector<char>* output, std::size_t carry, int* status,
                 Outcome* damage)
{
    stream->next_out = reinterpret_cast<Bytef*>(output->data() + carry);
    stream->avail_out = static_cast<uInt>(output->size() - carry);
    *status = inflate(stream, Z_NO_FLUSH);
    if (*status == Z_BUF_ERROR) {
        *damage = Found(Fault::kCutShort);
    } else if (*status == Z_MEM_ERROR) {
        *damage = Found(Fault::kOutOfMemory);
    } else if (*status != Z_OK && *status != Z_STREAM_END) {
        *damage = Found(Fault::kCorrupt);
        damage->detail = stream->msg ? stream->msg : "no detail";
    }
    return damage->ok();
}

// Once the member has ended: nothing may follow it, and the archive must
// have ended where it should, with the player in it.
bool EndsCleanly(const z_stream& stream, off_t consumed, const Payload& payload,
                 std::size_t carry, TarFilter* filter, Outcome* damage)
{
    if (stream.avail_in != 0 || consumed != payload.length)
        *damage = Found(Fault::kTrailingData);
    else if (carry != 0)
        *damage = Found(Fault::kArchiveEndsEarly);
    else if (!filter->Finish())
        *damage = filter->Refusal();
    return damage->ok();
}

// The decompressed archive in pieces of any length, through the filter to
// the sink in whole blocks: in place when a piece is whole blocks, as the
// chunks' pieces are but at a damaged archive's end, else through a carry.
class BlockFeed {
public:
    BlockFeed(TarFilter& filter, const ArchiveSink& sink) : filter_(filter), sink_(sink) {}

    bool Add(const char* data, std::size_t count)
    {
        if (carry_.empty() && count % kTarBlock == 0)
            return Pass(data, count);
        carry_.insert(carry_.end(), data, data + count);
        const std::size_t whole = carry_.size() - carry_.size() % kTarBlock;
        if (!Pass(carry_.data(), whole))
            return false;
        carry_.erase(carry_.begin(), carry_.begin() + whole);
        return true;
    }
    bool sinkRefused() const { return sinkRefused_; }
    bool carrying() const { return !carry_.empty(); }

private:
    bool Pass(const char* blocks, std::size_t count)
    {
        sinkRefused_ = !filter_.Pass(blocks, count, sink_) && !filter_.Refused();
        return !filter_.Refused() && !sinkRefused_;
    }

    TarFilter& filter_;
    const ArchiveSink& sink_;
    std::vector<char> carry_;
    bool sinkRefused_ = false;
};

// An indexed payload: its chunks decompressed on every core the process
// may use (parallel_inflate.h), the archive checked on the way as ever.
Streamed StreamChunks(const InstallerFile& file, TarFilter& filter, Observer& observer,
                      const ArchiveSink& sink, Outcome* damage)
{
    const std::vector<Chunk>& chunks = file.chunks;
    BlockFeed feed(filter, sink);
    double archive = 0;
    for (const Chunk& chunk : chunks)
        archive += chunk.size;
    // The share of the archive handed on, as payload bytes: all of them
    // once the last chunk is.
    const auto total = static_cast<std::uint64_t>(file.payload.length);
    const ChunksOutcome outcome = InflateChunks(
        file.fd, file.payload.start, chunks, DecompressionThreads(),
        [&](const char* data, std::size_t count) { return feed.Add(data, count); },
        [&](std::uint64_t handed) {
            const double share = archive > 0 ? static_cast<double>(handed) / archive : 1;
            return observer.Unpacked(static_cast<std::uint64_t>(share * total), total);
        });
    if (outcome.end == ChunksEnd::Damaged)
        *damage = Found(outcome.damage);
    else if (filter.Refused())
        *damage = filter.Refusal();
    else if (outcome.end == ChunksEnd::Done && feed.carrying())
        *damage = Found(Fault::kArchiveEndsEarly);
    else if (outcome.end == ChunksEnd::Done && !filter.Finish())
        *damage = filter.Refusal();
    if (!damage->ok())
        return Streamed::kDamaged;
    if (outcome.end == ChunksEnd::Done)
        return Streamed::kComplete;
    return feed.sinkRefused() ? Streamed::kRefused : Streamed::kStopped;
}

// A payload without an index, in one stream.
Streamed StreamOne(const InstallerFile& file, TarFilter& filter, Observer& observer,
                   const ArchiveSink& sink, Outcome* damage)
{
    Inflater inflater;
    if (!inflater.ready) {
        *damage = Found(Fault::kOutOfMemory);
        return Streamed::kDamaged;
    }
    const int fd = file.fd;
    const Payload& payload = file.payload;
    z_stream& stream = inflater.stream;
    std::vector<unsigned char> input(kReadSize);
    std::vector<char> output(kInflatedSize);
    std::size_t carry = 0;  // the start of a block, completed by the next round
    off_t consumed = 0;
    for (int status = Z_OK; status != Z_STREAM_END;) {
        if (stream.avail_in == 0 && consumed < payload.length &&
            !ReadPayload(fd, payload, &consumed, &input, &stream)) {
            *damage = Found(Fault::kPayloadUnreadable);
            return Streamed::kDamaged;
        }
        if (!InflateInto(&stream, &output, carry, &status, damage))
            return Streamed::kDamaged;
        const std::size_t have = output.size() - stream.avail_out;
        const std::size_t whole = have - have % kTarBlock;
        if (!filter.Pass(output.data(), whole, sink)) {
            if (!filter.Refused())
                return Streamed::kRefused;
            *damage = filter.Refusal();
            return Streamed::kDamaged;
        }
        std::memmove(output.data(), output.data() + whole, have - whole);
        carry = have - whole;
        if (!observer.Unpacked(consumed, payload.length))
            return Streamed::kStopped;
    }
    return EndsCleanly(stream, consumed, payload, carry, &filter, damage) ? Streamed::kComplete
                                                                          : Streamed::kDamaged;
}

}  // namespace

Streamed StreamArchive(const InstallerFile& file, TarFilter& filter, Observer& observer,
                       const ArchiveSink& sink, Outcome* damage)
{
    *damage = Outcome();
    if (file.seal)
        filter.Expect(*file.seal);
    if (file.indexMisfit) {
        *damage = Found(Fault::kIndexMisfit);
        return Streamed::kDamaged;
    }
    // Memory may run out anywhere on the way, in the checks and the sink
    // too: said as such, and the caller puts back what was written.
    try {
        return file.chunks.empty() ? StreamOne(file, filter, observer, sink, damage)
                                   : StreamChunks(file, filter, observer, sink, damage);
    } catch (const std::bad_alloc&) {
        *damage = Found(Fault::kOutOfMemory);
        return Streamed::kDamaged;
    }
}
