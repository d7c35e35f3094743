// ovelo8-pack: compresses a product's ustar archive into the payload of an
// installer file on every core the process may use, and seals it.
//
// The payload is one gzip member made of chunks that decompress
// independently (engine/chunk_index.h), with the chunk index and the seal
// (engine/seal.h) in its header.  Each chunk is compressed afresh at
// gzip's default level and the chunks are written in order, so the bytes
// are the same whatever the number of threads.  The payload is then read
// back as the installer reads it, on every core too.  mkinstaller runs it;
// it is not meant to be run by hand.
#include "bytes.h"
#include "chunk_index.h"
#include "cksum.h"
#include "descriptor.h"
#include "parallel_inflate.h"
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
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kTarBlock = 512;
// Small enough that eight threads of the installer hold their chunks in
// well under 64 MiB, large enough that starting each afresh costs little.
constexpr std::size_t kChunkSize = 2 * 1024 * 1024;
constexpr int kLevel = 6;  // gzip's default
constexpr std::size_t kCheckRead = 1024 * 1024;

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

// ---- What the product needs on disk, read from the archive's headers ----

// Bytes a product occupies on a file system of fragment size 512 << k: a
// file rounded up to it, a folder one fragment, a symbolic link nothing
// unless its target is too long to live in its inode.
constexpr int kFragmentSizes = kSealFragmentSizes;

struct Need {
    std::uint64_t bytes = 0;    // contents of the files
    std::uint64_t entries = 0;  // files, folders and links, the top folder not counted
    std::array<std::uint64_t, kFragmentSizes> used{};
};

std::uint64_t RoundUp(std::uint64_t value, std::uint64_t unit)
{
    return (value + unit - 1) / unit * unit;
}

// ustar sizes are octal digits ended by a NUL or a blank.
bool ParseOctal(const char* field, std::size_t width, std::uint64_t* value)
{
    *value = 0;
    std::size_t i = 0;
    for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i)
        *value = *value << 3 | static_cast<std::uint64_t>(field[i] - '0');
    return i > 0 && (i == width || field[i] == '\0' || field[i] == ' ');
}

void Count(Need* need, char type, std::uint64_t size, std::size_t linkLength)
{
    ++need->entries;
    for (int k = 0; k < kFragmentSizes; ++k) {
        const std::uint64_t fragment = std::uint64_t{512} << k;
        if (type == '5')
            need->used[k] += fragment;
        else if (type == '2')
            need->used[k] += linkLength >= 60 ? fragment : 0;
        else
            need->used[k] += RoundUp(size, fragment);
    }
    if (type != '5' && type != '2')
        need->bytes += size;
}

// Files, hard links, symbolic links and folders: what mkinstaller ships.
bool IsShipped(char type)
{
    return type == '0' || type == '\0' || type == '1' || type == '2' || type == '5';
}

// Hard links are counted once, with the file they name; the first member
// is the top folder, which is the destination itself.
bool Measure(int fd, off_t size, Need* need, std::string* error)
{
    static const char kZero[kTarBlock] = {};
    char header[kTarBlock];
    for (off_t at = 0; at + static_cast<off_t>(kTarBlock) <= size;) {
        std::uint64_t length = 0;
        if (!ReadExactly(fd, header, sizeof header, at) ||
            std::memcmp(header, kZero, sizeof header) == 0)
            break;
        const char type = header[156];
        if (std::memcmp(header + 257, "ustar", 5) != 0 || !ParseOctal(header + 124, 12, &length) ||
            (at == 0 && std::strncmp(header, "./", 100) != 0) || !IsShipped(type)) {
            *error = "the archive is not a ustar archive of a product tree";
            return false;
        }
        if (type != '1')
            Count(need, type, length, strnlen(header + 157, 100));
        at += kTarBlock + RoundUp(length, kTarBlock);
    }
    if (need->entries == 0) {
        *error = "the archive holds nothing";
        return false;
    }
    --need->entries;
    return true;
}

// ---- Compressing the chunks ----

// Workers compress the chunks ahead, each into a slot of its own; the
// main thread writes the slots in order.  Chunk i goes into slot i modulo
// the slots, once chunk i - slots is written.  An error is a constant,
// which a worker short of memory can still record.
struct Slot {
    std::vector<unsigned char> data;
    std::uint32_t size = 0;  // archive bytes in it
    std::uint32_t crc = 0;
    bool ready = false;
    const char* error = nullptr;
};

struct Job {
    int archive = -1;
    int output = -1;
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

void CompressInto(Job* job, std::size_t i, std::vector<unsigned char>* input, Slot* slot)
{
    const std::uint64_t from = std::uint64_t{i} * job->chunkSize;
    const std::size_t count = std::min<std::uint64_t>(job->chunkSize, job->archiveSize - from);
    slot->size = static_cast<std::uint32_t>(count);
    try {
        input->resize(job->chunkSize);
        if (!ReadExactly(job->archive, input->data(), count, static_cast<off_t>(from)))
            slot->error = "could not read the archive";
        else if (!Deflate(input->data(), count, i + 1 == job->chunkCount, &slot->data))
            slot->error = "could not compress the archive";
        else
            slot->crc = static_cast<std::uint32_t>(crc32(0, input->data(), static_cast<uInt>(count)));
    } catch (const std::bad_alloc&) {
        slot->error = "out of memory";
    }
}

void Work(Job* job)
{
    std::vector<unsigned char> input;
    for (;;) {
        std::unique_lock<std::mutex> lock(job->mutex);
        const std::size_t i = job->claimed++;
        if (i >= job->chunkCount)
            return;
        job->changed.wait(lock, [&] { return job->stop || i < job->written + job->slots.size(); });
        if (job->stop)
            return;
        Slot& slot = job->slots[i % job->slots.size()];
        lock.unlock();
        CompressInto(job, i, &input, &slot);
        lock.lock();
        slot.ready = true;
        job->changed.notify_all();
    }
}

// The slots in order into the output, each chunk's entry into *chunks.
bool WriteInOrder(Job* job, std::vector<Chunk>* chunks, std::string* error)
{
    std::uint64_t offset = job->dataStart;
    for (std::size_t i = 0; i < job->chunkCount; ++i) {
        Slot& slot = job->slots[i % job->slots.size()];
        std::unique_lock<std::mutex> lock(job->mutex);
        job->changed.wait(lock, [&] { return slot.ready; });
        lock.unlock();
        if (slot.error) {
            *error = slot.error;
            return false;
        }
        if (!WriteExactly(job->output, slot.data.data(), slot.data.size(), static_cast<off_t>(offset))) {
            *error = std::string("could not write the payload: ") + std::strerror(errno);
            return false;
        }
        chunks->push_back({offset, static_cast<std::uint32_t>(slot.data.size()), slot.size, slot.crc});
        offset += slot.data.size();
        lock.lock();
        slot.ready = false;
        job->written = i + 1;
        job->changed.notify_all();
    }
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
// takes long holds up no other worker.
bool CompressAll(Job* job, std::vector<Chunk>* chunks, std::string* error)
{
    const std::size_t threads = std::min<std::size_t>(UsableProcessors(), job->chunkCount);
    job->slots.resize(2 * threads);
    Crew crew(job);
    if (!crew.Start(threads)) {
        *error = "could not start a thread to compress with";
        return false;
    }
    return WriteInOrder(job, chunks, error);
}

// ---- The member's header and trailer, and the seal ----

// The seal's data but its CRC digits: "2 BYTES ENTRIES U512 ... U65536 ".
std::string SealText(const Need& need)
{
    std::string text = "2 " + std::to_string(need.bytes) + " " + std::to_string(need.entries) + " ";
    for (const std::uint64_t used : need.used)
        text += std::to_string(used) + " ";
    return text;
}

// gzip's fixed header (no name, no time, made on Unix) with the extra
// field: the index, then the seal, whose 10 CRC digits close the header.
std::string Header(const std::vector<Chunk>& chunks, const std::string& seal, std::uint32_t crc)
{
    const std::string index = EncodeChunkIndex(chunks);
    char digits[11];
    std::snprintf(digits, sizeof digits, "%010u", crc);
    std::string header("\x1f\x8b\x08\x04\0\0\0\0\0\x03", 10);
    PutLittleEndian(&header, 4 + index.size() + 4 + seal.size() + 10, 2);
    header += kChunkIndexId;
    PutLittleEndian(&header, index.size(), 2);
    header += index;
    header += "Ov";
    PutLittleEndian(&header, seal.size() + 10, 2);
    return header + seal + digits;
}

// The seal's CRC: cksum's, of the whole member without its own digits.
bool SealCrc(int fd, const std::string& header, std::uint64_t end, std::uint32_t* crc)
{
    CksumCrc cksum;
    cksum.Update(reinterpret_cast<const unsigned char*>(header.data()), header.size() - 10);
    std::vector<unsigned char> buffer(kCheckRead);
    for (std::uint64_t at = header.size(); at < end;) {
        const std::size_t count = std::min<std::uint64_t>(buffer.size(), end - at);
        if (!ReadExactly(fd, buffer.data(), count, static_cast<off_t>(at)))
            return false;
        cksum.Update(buffer.data(), count);
        at += count;
    }
    *crc = cksum.Final();
    return true;
}

// Reads the payload back as the installer will: the index must fit the
// member, and every chunk decompress to its length and CRC, which were
// taken from the archive itself.
bool SelfCheck(int fd, std::uint64_t end, std::string* error)
{
    std::vector<Chunk> chunks;
    if (!ReadChunkIndex(fd, 0, static_cast<off_t>(end), &chunks) || chunks.empty()) {
        *error = "self-check: the payload's index does not fit it";
        return false;
    }
    const ChunksOutcome outcome = InflateChunks(
        fd, 0, chunks, DecompressionThreads(), [](char*, std::size_t) { return true; },
        [](std::uint64_t) { return true; });
    if (outcome.end != ChunksEnd::Done) {
        *error = outcome.damage == Fault::kOutOfMemory
                     ? "self-check: out of memory"
                     : "self-check: the payload does not decompress to the archive";
        return false;
    }
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

bool Pack(const char* archivePath, const char* outputPath, std::string* error)
{
    const Descriptor archive(open(archivePath, O_RDONLY | O_CLOEXEC));
    struct stat status;
    if (archive.get() < 0 || fstat(archive.get(), &status) != 0) {
        *error = std::string("could not read ") + archivePath + ": " + std::strerror(errno);
        return false;
    }
    Need need;
    if (!Measure(archive.get(), status.st_size, &need, error))
        return false;
    const std::size_t chunkSize = ChunkSizeFor(static_cast<std::uint64_t>(status.st_size));
    if (chunkSize == 0) {
        *error = "the archive is too large: at most " +
                 std::to_string(std::uint64_t{kMaxChunks} * kMaxChunkSize) +
                 " bytes can be packed, in chunks the installer can hold";
        return false;
    }
    const Descriptor output(open(outputPath, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (output.get() < 0) {
        *error = std::string("could not write ") + outputPath + ": " + std::strerror(errno);
        return false;
    }
    Job job;
    job.archive = archive.get();
    job.output = output.get();
    job.archiveSize = static_cast<std::uint64_t>(status.st_size);
    job.chunkSize = chunkSize;
    job.chunkCount = (job.archiveSize + job.chunkSize - 1) / job.chunkSize;
    const std::string seal = SealText(need);
    job.dataStart = Header(std::vector<Chunk>(job.chunkCount), seal, 0).size();
    std::vector<Chunk> chunks;
    if (!CompressAll(&job, &chunks, error))
        return false;
    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t compressed = 0;
    for (const Chunk& chunk : chunks) {
        compressed += chunk.compressedSize;
        crc = crc32_combine(crc, chunk.crc, static_cast<z_off_t>(chunk.size));
    }
    std::string trailer;
    PutLittleEndian(&trailer, crc, 4);
    PutLittleEndian(&trailer, job.archiveSize & 0xffffffffu, 4);
    const std::uint64_t end = job.dataStart + compressed + trailer.size();
    std::uint32_t sealCrc = 0;
    std::string header = Header(chunks, seal, 0);
    if (!WriteExactly(output.get(), trailer.data(), trailer.size(),
                      static_cast<off_t>(job.dataStart + compressed)) ||
        !SealCrc(output.get(), header, end, &sealCrc)) {
        *error = std::string("could not write the payload: ") + std::strerror(errno);
        return false;
    }
    header = Header(chunks, seal, sealCrc);
    if (!WriteExactly(output.get(), header.data(), header.size(), 0)) {
        *error = std::string("could not write the payload: ") + std::strerror(errno);
        return false;
    }
    return SelfCheck(output.get(), end, error);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: ovelo8-pack ARCHIVE OUTPUT\n", stderr);
        return 2;
    }
    std::string error;
    bool packed = false;
    try {
        packed = Pack(argv[1], argv[2], &error);
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    }
    if (!packed) {
        std::fprintf(stderr, "ovelo8-pack: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
