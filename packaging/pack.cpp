// ovelo8-pack: makes an installer file of the image and a product tree,
// compressed on every core the process may use, and sealed.
//
// It reads the tree into its archive (product_archive.h) as it compresses
// it: the payload is one gzip member made of chunks that decompress
// independently (engine/chunk_index.h), with the chunk index and the seal
// (engine/seal.h) in its header.  Each chunk is compressed afresh at
// gzip's default level and the chunks are written in order, so the bytes
// are the same whatever the number of threads.  The payload is then read
// back as the installer reads it, on every core too.  mkinstaller runs it;
// it is not meant to be run by hand.
#include "bytes.h"
#include "chunk_index.h"
#include "gzip_header.h"
#include "descriptor.h"
#include "parallel_inflate.h"
#include "product_archive.h"
#include "seal.h"
#include "worker_signals.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Small enough that eight threads of the installer hold their chunks in
// well under 64 MiB, large enough that starting each afresh costs little.
constexpr std::size_t kChunkSize = 2 * 1024 * 1024;
constexpr int kLevel = 6;  // gzip's default
constexpr std::size_t kCheckRead = 1024 * 1024;

// What went wrong; a full output file system is told apart, for
// mkinstaller to say so.
struct Failure {
    std::string what;
    bool noSpace = false;
};

bool Fail(Failure* failure, const std::string& what)
{
    failure->what = what;
    return false;
}

bool FailedWrite(Failure* failure)
{
    failure->noSpace = errno == ENOSPC || errno == EDQUOT;
    return Fail(failure, std::string("could not write the installer file: ") + std::strerror(errno));
}

bool WriteExactly(int fd, const void* buffer, std::size_t count, off_t offset)
{
    const char* bytes = static_cast<const char*>(buffer);
    while (count > 0) {
        const ssize_t written = pwrite(fd, bytes, count, offset);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        count -= written;
        offset += written;
    }
    return true;
}

// ---- What the product needs on disk ----

// As the installer counts it when it checks the archive against the seal.
SealTally Measure(const std::vector<Member>& members)
{
    SealTally need;
    for (const Member& member : members)
        need.Add(member.type, member.size, member.link.size(), member.path.empty());
    return need;
}

// ---- Compressing the chunks ----

// The main thread reads the archive into slots, chunk i into slot i modulo
// the slots once chunk i - slots is written; workers compress the chunks
// ahead, each in its slot; the main thread writes the slots in order.  An
// error is a constant, which a worker short of memory can still record.
struct Slot {
    std::vector<unsigned char> input;  // the chunk's archive bytes
    std::vector<unsigned char> data;   // compressed
    std::size_t chunk = SIZE_MAX;      // the chunk read into it
    std::uint32_t size = 0;  // archive bytes in it
    std::uint32_t crc = 0;
    bool ready = false;
    const char* error = nullptr;
};

struct Job {
    int output = -1;
    std::uint64_t base = 0;  // the payload's offset in the output
    std::uint64_t archiveSize = 0;
    std::size_t chunkSize = 0;
    std::size_t chunkCount = 0;
    std::uint64_t dataStart = 0;
    std::vector<Slot> slots;

    std::mutex mutex;
    std::condition_variable changed;
    std::size_t claimed = 0;  // chunks taken by a worker
    std::size_t written = 0;  // chunks written, whose slots are free again
    bool stop = false;
};

// One chunk as a raw deflate stream started afresh; every chunk but the
// last ends with a full flush, which leaves the next on a byte boundary.
bool Deflate(const unsigned char* input, std::size_t count, bool last,
             std::vector<unsigned char>* output)
{
    z_stream stream{};
    if (deflateInit2(&stream, kLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    output->resize(deflateBound(&stream, count) + 64);  // room for the flush's block
    stream.next_in = const_cast<unsigned char*>(input);
    stream.avail_in = static_cast<uInt>(count);
    stream.next_out = output->data();
    stream.avail_out = static_cast<uInt>(output->size());
    const int status = deflate(&stream, last ? Z_FINISH : Z_FULL_FLUSH);
    const bool done = last ? status == Z_STREAM_END
                           : status == Z_OK && stream.avail_in == 0 && stream.avail_out > 0;
    output->resize(stream.total_out);
    deflateEnd(&stream);
    return done;
}

void Compress(Slot* slot, bool last)
{
    try {
        if (!Deflate(slot->input.data(), slot->size, last, &slot->data))
            slot->error = "could not compress the archive";
        else
            slot->crc = static_cast<std::uint32_t>(crc32(0, slot->input.data(), slot->size));
    } catch (const std::bad_alloc&) {
        slot->error = "out of memory";
    }
}

void Work(Job* job)
{
    for (;;) {
        std::unique_lock<std::mutex> lock(job->mutex);
        const std::size_t i = job->claimed++;
        if (i >= job->chunkCount)
            return;
        Slot& slot = job->slots[i % job->slots.size()];
        job->changed.wait(lock, [&] { return job->stop || slot.chunk == i; });
        if (job->stop)
            return;
        lock.unlock();
        Compress(&slot, i + 1 == job->chunkCount);
        lock.lock();
        slot.ready = true;
        job->changed.notify_all();
    }
}

// The next chunk of the archive into its slot, for a worker to take.
bool ReadChunk(Job* job, std::size_t i, ArchiveStream* archive, Failure* failure)
{
    Slot& slot = job->slots[i % job->slots.size()];
    const std::uint64_t from = std::uint64_t{i} * job->chunkSize;
    const std::size_t count = std::min<std::uint64_t>(job->chunkSize, job->archiveSize - from);
    slot.input.resize(job->chunkSize);
    std::string error;
    if (!archive->Fill(slot.input.data(), count, &error))
        return Fail(failure, error);
    const std::lock_guard<std::mutex> lock(job->mutex);
    slot.size = static_cast<std::uint32_t>(count);
    slot.chunk = i;
    job->changed.notify_all();
    return true;
}

// The next chunk in order into the output, its entry into *chunks.
bool WriteChunk(Job* job, std::vector<Chunk>* chunks, Failure* failure)
{
    Slot& slot = job->slots[job->written % job->slots.size()];
    std::unique_lock<std::mutex> lock(job->mutex);
    job->changed.wait(lock, [&] { return slot.ready; });
    lock.unlock();
    if (slot.error)
        return Fail(failure, slot.error);
    const std::uint64_t offset = chunks->empty() ? job->dataStart
                                                 : chunks->back().offset + chunks->back().compressedSize;
    if (!WriteExactly(job->output, slot.data.data(), slot.data.size(),
                      static_cast<off_t>(job->base + offset)))
        return FailedWrite(failure);
    chunks->push_back({offset, static_cast<std::uint32_t>(slot.data.size()), slot.size, slot.crc});
    lock.lock();
    slot.ready = false;
    ++job->written;
    return true;
}

// The workers of a job, stopped after the chunk at hand and joined however
// the writing ends.  When threads run short, those started do the work.
class Crew {
public:
    explicit Crew(Job* job) : job_(job) {}
    ~Crew()
    {
        {
            const std::lock_guard<std::mutex> lock(job_->mutex);
            job_->stop = true;
        }
        job_->changed.notify_all();
        for (std::thread& worker : workers_)
            worker.join();
    }
    Crew(const Crew&) = delete;
    Crew& operator=(const Crew&) = delete;

    // False when not one worker could be started.
    bool Start(std::size_t threads)
    {
        const WorkerSignalsBlocked blocked;
        try {
            workers_.reserve(threads);
            for (std::size_t t = 0; t < threads; ++t)
                workers_.emplace_back(Work, job_);
        } catch (const std::system_error&) {
        } catch (const std::bad_alloc&) {
        }
        return !workers_.empty();
    }

private:
    Job* const job_;
    std::vector<std::thread> workers_;
};

// A worker for every core, and twice as many slots, so that a chunk that
// takes long holds up no other worker.  The main thread reads the archive
// ahead of them and writes what they made.
bool CompressAll(Job* job, ArchiveStream* archive, std::vector<Chunk>* chunks, Failure* failure)
{
    const std::size_t threads = std::min<std::size_t>(UsableProcessors(), job->chunkCount);
    job->slots.resize(2 * threads);
    Crew crew(job);
    if (!crew.Start(threads))
        return Fail(failure, "could not start a thread to compress with");
    for (std::size_t i = 0; i < job->chunkCount; ++i)
        if ((i >= job->slots.size() && !WriteChunk(job, chunks, failure)) ||
            !ReadChunk(job, i, archive, failure))
            return false;
    while (job->written < job->chunkCount)
        if (!WriteChunk(job, chunks, failure))
            return false;
    return true;
}

// ---- The member's header and trailer, and the seal ----

// gzip's fixed header (no name, no time, made on Unix) with the extra
// field: the index, the product's version when there is one, then the
// seal, whose CRC digits close the header.
std::string Header(const std::vector<Chunk>& chunks, const std::string& version,
                   const std::string& seal)
{
    const auto subfield = [](const char* id, const std::string& data) {
        std::string field = id;
        PutLittleEndian(&field, data.size(), 2);
        return field + data;
    };
    const std::string extra = subfield(kChunkIndexId, EncodeChunkIndex(chunks)) +
                              (version.empty() ? "" : subfield(kProductVersionId, version)) +
                              subfield(kSealId, seal);
    std::string header("\x1f\x8b\x08\x04\0\0\0\0\0\x03", 10);
    PutLittleEndian(&header, extra.size(), 2);
    return header + extra;
}

// Reads the payload back as the installer will: the index must fit the
// member, and every chunk decompress to its length and CRC, which were
// taken from the archive itself.
bool SelfCheck(int fd, std::uint64_t base, std::uint64_t end, Failure* failure)
{
    std::vector<Chunk> chunks;
    if (!ReadChunkIndex(fd, static_cast<off_t>(base), static_cast<off_t>(end), &chunks) ||
        chunks.empty())
        return Fail(failure, "self-check: the payload's index does not fit it");
    const ChunksOutcome outcome = InflateChunks(
        fd, static_cast<off_t>(base), chunks, DecompressionThreads(),
        [](const char*, std::size_t) { return true; }, [](std::uint64_t) { return true; });
    if (outcome.end != ChunksEnd::Done)
        return Fail(failure, outcome.damage == Fault::kOutOfMemory
                                 ? "self-check: out of memory"
                                 : "self-check: the payload does not decompress to the archive");
    return true;
}

// The smallest chunk size from kChunkSize up, doubled, whose index fits;
// 0 when even the largest a reader takes is too small: a larger chunk
// would ask the installer for more memory than it may take.
std::size_t ChunkSizeFor(std::uint64_t archiveSize)
{
    for (std::size_t size = kChunkSize; size <= kMaxChunkSize; size *= 2)
        if ((archiveSize + size - 1) / size <= kMaxChunks)
            return size;
    return 0;
}

// The image, unchanged, at the start of the output; its length.
bool CopyImage(const char* imagePath, int output, std::uint64_t* length, Failure* failure)
{
    const Descriptor image(open(imagePath, O_RDONLY | O_CLOEXEC));
    if (!image)
        return Fail(failure, std::string("could not read ") + imagePath + ": " + std::strerror(errno));
    std::vector<char> buffer(kCheckRead);
    *length = 0;
    for (;;) {
        const ssize_t got = read(image.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Fail(failure, std::string("could not read ") + imagePath + ": " +
                                     std::strerror(errno));
        if (got == 0)
            return true;
        if (!WriteExactly(output, buffer.data(), static_cast<std::size_t>(got),
                          static_cast<off_t>(*length)))
            return FailedWrite(failure);
        *length += static_cast<std::uint64_t>(got);
    }
}

// The payload behind the image: its chunks, then the member's trailer,
// then its header with the index and the seal, checked once written.
// Its length into *length.
bool WritePayload(Job* job, ArchiveStream* archive, const SealTally& need,
                  const std::string& version, std::uint64_t* length, Failure* failure)
{
    job->dataStart = Header(std::vector<Chunk>(job->chunkCount), version, SealData(need, 0)).size();
    std::vector<Chunk> chunks;
    if (!CompressAll(job, archive, &chunks, failure))
        return false;
    job->slots = std::vector<Slot>();  // their memory, for the reading back
    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t compressed = 0;
    for (const Chunk& chunk : chunks) {
        compressed += chunk.compressedSize;
        crc = crc32_combine(crc, chunk.crc, static_cast<z_off_t>(chunk.size));
    }
    std::string trailer;
    PutLittleEndian(&trailer, crc, 4);
    PutLittleEndian(&trailer, job->archiveSize & 0xffffffffu, 4);
    *length = job->dataStart + compressed + trailer.size();
    // The header goes in twice: the seal's checksum is that of the whole
    // member as the installer reads it, but its own digits.
    std::string header = Header(chunks, version, SealData(need, 0));
    if (!WriteExactly(job->output, trailer.data(), trailer.size(),
                      static_cast<off_t>(job->base + job->dataStart + compressed)) ||
        !WriteExactly(job->output, header.data(), header.size(), static_cast<off_t>(job->base)))
        return FailedWrite(failure);
    Payload payload;
    payload.start = static_cast<off_t>(job->base);
    payload.length = static_cast<off_t>(*length);
    Observer unwatched;
    std::uint32_t sealCrc = 0;
    if (PayloadChecksum(job->output, payload, static_cast<off_t>(header.size() - kSealCrcDigits),
                        unwatched, &sealCrc) != Fault::kNone)
        return Fail(failure, std::string("could not read the installer file back: ") +
                                 std::strerror(errno));
    header = Header(chunks, version, SealData(need, sealCrc));
    if (!WriteExactly(job->output, header.data(), header.size(), static_cast<off_t>(job->base)))
        return FailedWrite(failure);
    return SelfCheck(job->output, job->base, *length, failure);
}

struct Request {
    const char* image = nullptr;
    const char* product = nullptr;
    const char* output = nullptr;
    std::optional<std::int64_t> latestTime;
    std::string productVersion;
};

bool Pack(const Request& request, Failure* failure)
{
    const Descriptor root(open(request.product, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root)
        return Fail(failure, std::string("could not read ") + request.product + ": " +
                                 std::strerror(errno));
    std::vector<Member> members;
    std::string error;
    if (!ListProduct(root.get(), request.product, request.latestTime, &members, &error))
        return Fail(failure, error);
    Job job;
    job.archiveSize = ArchiveSize(members);
    job.chunkSize = ChunkSizeFor(job.archiveSize);
    if (job.chunkSize == 0)
        return Fail(failure, "the archive is too large: at most " +
                                 std::to_string(std::uint64_t{kMaxChunks} * kMaxChunkSize) +
                                 " bytes can be packed, in chunks the installer can hold");
    job.chunkCount = (job.archiveSize + job.chunkSize - 1) / job.chunkSize;
    const Descriptor output(open(request.output, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!output)
        return FailedWrite(failure);
    job.output = output.get();
    ArchiveStream archive(root.get(), members);
    std::uint64_t length = 0;
    if (!CopyImage(request.image, output.get(), &job.base, failure) ||
        !WritePayload(&job, &archive, Measure(members), request.productVersion, &length, failure))
        return false;
    const std::string trailer = "\n" + std::to_string(length) + "\n";
    if (!WriteExactly(output.get(), trailer.data(), trailer.size(),
                      static_cast<off_t>(job.base + length)) ||
        fsync(output.get()) == -1)
        return FailedWrite(failure);
    return true;
}

// Decimal seconds, as SOURCE_DATE_EPOCH gives them.
std::optional<std::int64_t> Seconds(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 0)
        return std::nullopt;
    return value;
}

constexpr char kUsage[] =
    "usage: ovelo8-pack [--latest-time SECONDS] [--product-version VERSION] IMAGE PRODUCT_DIR "
    "OUTPUT\n";

// The options in front of the three operands; false for one it does not
// know or a value it can not take.
bool TakeOptions(int argc, char** argv, int* first, Request* request)
{
    for (*first = 1; *first + 1 < argc && argv[*first][0] == '-'; *first += 2) {
        const std::string option = argv[*first];
        const char* value = argv[*first + 1];
        if (option == "--latest-time" && (request->latestTime = Seconds(value)))
            continue;
        if (option == "--product-version" && IsProductVersion(request->productVersion = value))
            continue;
        return false;
    }
    return argc - *first == 3;
}

}  // namespace

// Exit status 3: the output's file system is full, which mkinstaller says.
int main(int argc, char** argv)
{
    Request request;
    int first = 1;
    if (!TakeOptions(argc, argv, &first, &request)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    request.image = argv[first];
    request.product = argv[first + 1];
    request.output = argv[first + 2];
    Failure failure;
    bool packed = false;
    try {
        packed = Pack(request, &failure);
    } catch (const std::bad_alloc&) {
        failure.what = "out of memory";
    }
    if (packed)
        return 0;
    if (failure.noSpace)
        return 3;
    std::fprintf(stderr, "mkinstaller: %s\n", failure.what.c_str());
    return 1;
}
