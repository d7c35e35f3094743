// Chunks decompressed by worker threads, handed on in order by the caller.
#include "parallel_inflate.h"

#include "bytes.h"
#include "worker_signals.h"

#include <libdeflate.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <new>
#include <mutex>
#include <sched.h>
#include <thread>

namespace {

constexpr int kMaxThreads = 8;
// Chunks read and decompressed but not yet handed on, at most: with chunks
// of 2 MiB that lets eight threads work, and with the largest a reader
// takes (kMaxChunkSize) still one: two slots and the worker's input.
constexpr std::uint64_t kBufferBudget = 48 * 1024 * 1024;
constexpr std::size_t kHandOver = 256 * 1024;  // archive bytes between two callbacks
constexpr auto kLook = std::chrono::milliseconds(10);  // between callbacks while waiting

// The empty final block (fixed codes, end of block at once) that completes
// a chunk ended by a full flush into a deflate stream of its own, as the
// decompressor wants one.
constexpr unsigned char kFinalBlock[] = {0x03, 0x00};

struct DecompressorFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// A worker that found damage has nothing to allocate to say so.
struct Slot {
    std::unique_ptr<char[]> data;
    bool ready = false;
    Fault damage = Fault::kNone;
};

class Decoder {
public:
    Decoder(int fd, off_t start, const std::vector<Chunk>& chunks)
        : fd_(fd), start_(start), chunks_(chunks)
    {
    }
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    bool Start(int threads);
    ChunksOutcome Run(const ChunkSink& sink, const ChunkProgress& progress);

private:
    bool MakeSlots(std::size_t count, std::size_t size);
    void StartWorkers(int threads);
    void Work();
    void DecodeHere(std::size_t i);
    Fault Decode(const Chunk& chunk, bool last, libdeflate_decompressor* decompressor,
                 unsigned char* input, char* output) const;
    bool WaitReady(std::size_t i, std::uint64_t handed, const ChunkProgress& progress);

    const int fd_;
    const off_t start_;
    const std::vector<Chunk>& chunks_;
    std::vector<Slot> slots_;
    std::size_t inputSize_ = 0;  // a worker's, for the largest chunk and its final block
    std::vector<std::thread> workers_;
    // The calling thread's, when no worker could start.
    std::unique_ptr<libdeflate_decompressor, DecompressorFree> here_;
    std::unique_ptr<unsigned char[]> hereInput_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t claimed_ = 0;  // chunks taken by a worker
    std::size_t handed_ = 0;   // chunks handed on, whose slots are free again
    bool stop_ = false;
};

// Threads and slots as many as the budget allows: a slot more than the
// threads, so that a worker need not wait while a slot is handed on.  When
// threads run short the workers started do the work; when not one could
// start (too many processes, no room for a stack) the calling thread
// decodes each chunk itself, into one slot.  False when memory runs short
// even for that.
bool Decoder::Start(int threads)
{
    std::uint64_t size = 1, compressed = 1;
    for (const Chunk& chunk : chunks_) {
        size = std::max<std::uint64_t>(size, chunk.size);
        compressed = std::max<std::uint64_t>(compressed, chunk.compressedSize);
    }
    threads = std::clamp(threads, 1, static_cast<int>(std::max<std::size_t>(chunks_.size(), 1)));
    while (threads > 1 && (threads + 1) * size + threads * compressed > kBufferBudget)
        --threads;
    inputSize_ = compressed + sizeof kFinalBlock;
    if (MakeSlots(threads + 1, size))
        StartWorkers(threads);
    if (!workers_.empty())
        return true;
    here_.reset(libdeflate_alloc_decompressor());
    hereInput_.reset(new (std::nothrow) unsigned char[inputSize_]);
    return here_ && hereInput_ && MakeSlots(1, size);
}

// Slots for count chunks of size bytes; none when memory runs short.
bool Decoder::MakeSlots(std::size_t count, std::size_t size)
{
    slots_.clear();
    try {
        slots_.resize(count);
        for (Slot& slot : slots_)
            slot.data.reset(new char[size]);
        return true;
    } catch (const std::bad_alloc&) {
        slots_.clear();
        return false;
    }
}

// As many workers as threads, or as could start.
void Decoder::StartWorkers(int threads)
{
    const WorkerSignalsBlocked blocked;
    try {
        workers_.reserve(threads);
        for (int i = 0; i < threads; ++i)
            workers_.emplace_back(&Decoder::Work, this);
    } catch (const std::exception&) {  // std::system_error from a thread, or std::bad_alloc
    }
}

// Workers end after the chunk at hand; nothing they hold outlives them.
Decoder::~Decoder()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

// Whole chunk in, exactly its length out, all of it consumed, CRC matching;
// the damage found, or kNone.
Fault Decoder::Decode(const Chunk& chunk, bool last, libdeflate_decompressor* decompressor,
                      unsigned char* input, char* output) const
{
    const std::size_t count = chunk.compressedSize;
    if (!ReadExactly(fd_, input, count, start_ + static_cast<off_t>(chunk.offset)))
        return Fault::kPayloadUnreadable;
    const std::size_t in = last ? count : count + sizeof kFinalBlock;
    if (!last)
        std::copy(std::begin(kFinalBlock), std::end(kFinalBlock), input + count);
    std::size_t used = 0, made = 0;
    if (libdeflate_deflate_decompress_ex(decompressor, input, in, output, chunk.size, &used,
                                         &made) != LIBDEFLATE_SUCCESS ||
        used != in || made != chunk.size || libdeflate_crc32(0, output, made) != chunk.crc)
        return Fault::kChunkCorrupt;
    return Fault::kNone;
}

// Chunk i goes into slot i modulo the slots, once chunk i - slots is
// handed on.  The chunks are claimed in order, so a worker waiting for
// its slot never holds up an earlier chunk.  A worker that could not have
// its decompressor or input fails the chunk it took, which stops the
// decompression.
void Decoder::Work()
{
    const std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor(
        libdeflate_alloc_decompressor());
    const std::unique_ptr<unsigned char[]> input(new (std::nothrow) unsigned char[inputSize_]);
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex_);
        const std::size_t i = claimed_++;
        if (i >= chunks_.size())
            return;
        changed_.wait(lock, [&] { return stop_ || i < handed_ + slots_.size(); });
        if (stop_)
            return;
        Slot& slot = slots_[i % slots_.size()];
        lock.unlock();
        const Fault damage = decompressor && input
                                 ? Decode(chunks_[i], i + 1 == chunks_.size(), decompressor.get(),
                                          input.get(), slot.data.get())
                                 : Fault::kOutOfMemory;
        lock.lock();
        slot.damage = damage;
        slot.ready = true;
        changed_.notify_all();
    }
}

// Until chunk i is ready, calling back every few milliseconds; false
// when the callback cancels.
bool Decoder::WaitReady(std::size_t i, std::uint64_t handed, const ChunkProgress& progress)
{
    const Slot& slot = slots_[i % slots_.size()];
    std::unique_lock<std::mutex> lock(mutex_);
    while (!changed_.wait_for(lock, kLook, [&] { return slot.ready; })) {
        lock.unlock();
        if (!progress(handed))
            return false;
        lock.lock();
    }
    return true;
}

// Without workers: chunk i, into its slot.
void Decoder::DecodeHere(std::size_t i)
{
    Slot& slot = slots_[i % slots_.size()];
    slot.damage = Decode(chunks_[i], i + 1 == chunks_.size(), here_.get(), hereInput_.get(),
                         slot.data.get());
    slot.ready = true;
}

ChunksOutcome Decoder::Run(const ChunkSink& sink, const ChunkProgress& progress)
{
    std::uint64_t handed = 0;
    for (std::size_t i = 0; i < chunks_.size(); ++i) {
        Slot& slot = slots_[i % slots_.size()];
        if (workers_.empty())
            DecodeHere(i);
        else if (!WaitReady(i, handed, progress))
            return {ChunksEnd::Stopped};
        if (slot.damage != Fault::kNone)
            return {ChunksEnd::Damaged, slot.damage};
        const std::size_t size = chunks_[i].size;
        for (std::size_t at = 0; at < size; at += kHandOver) {
            const std::size_t count = std::min(kHandOver, size - at);
            if (!sink(slot.data.get() + at, count) || !progress(handed + at + count))
                return {ChunksEnd::Stopped};
        }
        handed += size;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            slot.ready = false;
            handed_ = i + 1;
        }
        changed_.notify_all();
    }
    return {ChunksEnd::Done};
}

}  // namespace

int UsableProcessors()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    return std::max(CPU_COUNT(&set), 1);
}

int DecompressionThreads()
{
    return std::min(UsableProcessors(), kMaxThreads);
}

// The sink and the progress may run short of memory too: the decoder's
// workers are joined as it goes, and the shortage is reported as any other.
ChunksOutcome InflateChunks(int fd, off_t start, const std::vector<Chunk>& chunks, int threads,
                            const ChunkSink& sink, const ChunkProgress& progress)
{
    try {
        Decoder decoder(fd, start, chunks);
        if (!decoder.Start(threads))
            return {ChunksEnd::Damaged, Fault::kOutOfMemory};
        return decoder.Run(sink, progress);
    } catch (const std::bad_alloc&) {
        return {ChunksEnd::Damaged, Fault::kOutOfMemory};
    }
}
