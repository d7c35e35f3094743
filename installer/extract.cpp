// Unpacking of the payload that follows our executable image in our own
// file, with the progress it makes, and the settings file of the player.
//
// Layout of the file's end: the payload (one gzip member of a tar archive),
// then a trailer of a newline, the payload's length in decimal and a newline.
// The member is decompressed here and the archive handed to tar, checked
// header by header on the way (tar_filter.h); its seal (seal.h), when it
// has one, is checked before anything is written.
#include "chunk_index.h"
#include "format.h"
#include "parallel_inflate.h"
#include "seal.h"
#include "state.h"
#include "tar_filter.h"
#include "unpacker.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kBlockSize = 1024;    // the trailer is looked for in the last block
constexpr std::size_t kReadSize = 256 * 1024;      // payload bytes per read
constexpr std::size_t kInflatedSize = 256 * 1024;  // archive bytes per round to tar
constexpr std::size_t kCheckWindow = 4 * 1024 * 1024;  // payload bytes mapped at a time
constexpr off_t kSealCrcDigits = 10;
static_assert(sizeof(off_t) >= 8, "payloads of 2 GiB and more need 64-bit file offsets");

const char kUnpackFailed[] =
    "Installation failed.  Perhaps the destination directory is unwriteable or you\n"
    "are out of disk space?\n";

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

struct Payload {
    off_t start;
    off_t length;
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// Decimal digits, perhaps between blanks; no sign, no other base, no zero.
std::optional<off_t> ParseLength(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    const std::size_t first = i;
    off_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > (std::numeric_limits<off_t>::max() - 9) / 10)
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    const std::size_t digits = i - first;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    if (digits == 0 || i != text.size() || value == 0)
        return std::nullopt;
    return value;
}

// Reads the trailer from the last 1,024 bytes of the file: the last byte
// closes it, the nearest newline before that opens it.  Nothing when the
// trailer is missing or names more payload than the file holds.
std::optional<Payload> FindPayload(FILE* file)
{
    if (fseeko(file, 0, SEEK_END) != 0)
        return std::nullopt;
    const off_t size = ftello(file);
    const off_t tail = std::min<off_t>(size, kBlockSize);
    char block[kBlockSize];
    if (tail < 2 || fseeko(file, size - tail, SEEK_SET) != 0 ||
        std::fread(block, 1, tail, file) != static_cast<std::size_t>(tail))
        return std::nullopt;
    const std::string_view text(block, tail - 1);
    const std::size_t opening = text.rfind('\n');
    if (opening == std::string_view::npos)
        return std::nullopt;
    const std::optional<off_t> length = ParseLength(text.substr(opening + 1));
    const off_t trailer = tail - static_cast<off_t>(opening);
    if (!length || *length > size - trailer)
        return std::nullopt;
    return Payload{size - trailer - *length, *length};
}

void IgnoreSignal(int) {}

// One signal's action, changed for as long as the guard lives.
class SignalGuard {
public:
    SignalGuard(int signal, void (*handler)(int)) : signal_(signal)
    {
        struct sigaction action {};
        action.sa_handler = handler;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(signal_, &action, &saved_);
    }
    ~SignalGuard() { sigaction(signal_, &saved_, nullptr); }
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

private:
    int signal_;
    struct sigaction saved_ {};
};

void ReportDamaged(const char* start, const std::string& what)
{
    ReportError(FormatText("The installer file %s is damaged: %s.", start, what.c_str()).c_str());
}

// A window of the file mapped into memory, so that the check reads the
// payload without copying it (the file is our running image: nobody can
// change it under us).  One window at a time keeps the memory used the
// same whatever the payload's size.  Null data when it cannot be mapped.
class MappedWindow {
public:
    MappedWindow(int fd, off_t offset, std::size_t count)
    {
        skip_ = static_cast<std::size_t>(offset % sysconf(_SC_PAGESIZE));
        size_ = skip_ + count;
        void* map = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, offset - skip_);
        if (map != MAP_FAILED)
            map_ = static_cast<unsigned char*>(map);
    }
    ~MappedWindow()
    {
        if (map_)
            munmap(map_, size_);
    }
    MappedWindow(const MappedWindow&) = delete;
    MappedWindow& operator=(const MappedWindow&) = delete;

    const unsigned char* data() const { return map_ ? map_ + skip_ : nullptr; }

private:
    unsigned char* map_ = nullptr;
    std::size_t skip_ = 0;
    std::size_t size_ = 0;
};

// Adds the bytes from..to of the file to the checksum, window by window,
// read into a buffer where a window cannot be mapped.
bool AddToChecksum(int fd, off_t from, off_t to, CksumCrc* crc)
{
    std::vector<unsigned char> buffer;
    while (from < to) {
        const std::size_t count = std::min<off_t>(kCheckWindow, to - from);
        const MappedWindow window(fd, from, count);
        const unsigned char* bytes = window.data();
        if (!bytes) {
            buffer.resize(count);
            if (pread(fd, buffer.data(), count, from) != static_cast<ssize_t>(count))
                return false;
            bytes = buffer.data();
        }
        for (std::size_t done = 0; done < count; done += kReadSize) {
            crc->Update(bytes + done, std::min(kReadSize, count - done));
            if (!bIsSilent)
                ServeWindowEventsSometimes();
        }
        from += count;
    }
    return true;
}

// The checksum covers the whole payload but its own digits.
bool SealHolds(int fd, const Payload& payload, const Seal& seal)
{
    CksumCrc crc;
    const off_t digits = payload.start + seal.crcOffset;
    return AddToChecksum(fd, payload.start, digits, &crc) &&
           AddToChecksum(fd, digits + kSealCrcDigits, payload.start + payload.length, &crc) &&
           crc.Final() == seal.crc;
}

// MB, or GB from 1,000 MB on, with one decimal (two below 1 MB); what is
// needed is rounded up and what is available down, so that the two never
// read alike.
std::string ShownSize(std::uint64_t bytes, bool roundUp)
{
    const bool giga = bytes >= 1000000000u;
    const int decimals = bytes < 1000000u ? 2 : 1;
    const double scale = std::pow(10.0, decimals);
    const double units = static_cast<double>(bytes) / (giga ? 1e9 : 1e6) * scale;
    const double shown = (roundUp ? std::ceil(units) : std::floor(units)) / scale;
    return FormatText("%.*f %s", decimals, shown, giga ? "GB" : "MB");
}

// The file system of the current directory, the destination entered.
// Nothing is refused when the file system cannot tell its free space.
bool FreeSpaceSuffices(const char* directory, const Seal& seal)
{
    struct statvfs space;
    if (statvfs(".", &space) != 0)
        return true;
    const std::uint64_t available = std::uint64_t{space.f_bavail} * space.f_frsize;
    std::string needed, free;
    if (seal.bytes > available) {
        needed = ShownSize(seal.bytes, true);
        free = ShownSize(available, false);
    } else if (space.f_files > 0 && seal.entries > space.f_favail) {
        needed = FormatText("%llu files", static_cast<unsigned long long>(seal.entries));
        free = FormatText("%llu files", static_cast<unsigned long long>(space.f_favail));
    } else {
        return true;
    }
    ReportError(FormatText("There is not enough free space in %s: %s needed, %s available.",
                           directory, needed.c_str(), free.c_str()).c_str());
    return false;
}

// With a seal, damage and a file system too small are found before
// anything is written, and a destination made for us goes again.
bool SealAllows(int fd, const Payload& payload, const char* start, const char* directory)
{
    std::optional<Seal> seal;
    if (!ReadSeal(fd, payload.start, payload.length, &seal)) {
        ReportDamaged(start, "its seal can not be read");
        RemoveMadeDestination();
        return false;
    }
    if (!seal)
        return true;
    if (!SealHolds(fd, payload, *seal)) {
        ReportDamaged(start, "its checksum does not match its content");
        RemoveMadeDestination();
        return false;
    }
    if (!FreeSpaceSuffices(directory, *seal)) {
        RemoveMadeDestination();
        return false;
    }
    return true;
}

void ShowProgress()
{
    DrawProgressBar(page3progressbar, nullptr, nullptr);
    ServeWindowEventsSometimes();
}

struct Inflater {
    Inflater() { ready = inflateInit2(&stream, 15 + 16) == Z_OK; }  // a gzip member
    ~Inflater() { inflateEnd(&stream); }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    z_stream stream{};
    bool ready = false;
};

// The next bytes of the payload for the decompressor; the share read so
// far is the progress shown.
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
    fPercentDone = static_cast<float>(static_cast<double>(*consumed) / payload.length * 100.0);
    return true;
}

// Inflates behind the carried bytes of the output; false (and *damage
// says why) when the member is damaged or cut short.
bool InflateInto(z_stream* stream, std::vector<char>* output, std::size_t carry, int* status,
                 std::string* damage)
{
    stream->next_out = reinterpret_cast<Bytef*>(output->data() + carry);
    stream->avail_out = static_cast<uInt>(output->size() - carry);
    *status = inflate(stream, Z_NO_FLUSH);
    if (*status == Z_BUF_ERROR)
        *damage = "its compressed archive is cut short";
    else if (*status != Z_OK && *status != Z_STREAM_END)
        *damage = FormatText("its compressed archive is corrupt (%s)",
                             stream->msg ? stream->msg : "no detail");
    return damage->empty();
}

// Once the member has ended: nothing may follow it, and the archive must
// have ended where it should, with the player in it.
bool EndsCleanly(const z_stream& stream, off_t consumed, const Payload& payload,
                 std::size_t carry, TarFilter* filter, std::string* damage)
{
    if (stream.avail_in != 0 || consumed != payload.length)
        *damage = "other data follows its compressed archive";
    else if (carry != 0)
        *damage = "its archive ends in the middle";
    else if (!filter->Finish())
        *damage = filter->Refusal();
    return damage->empty();
}

// The archive's next bytes, in any pieces, through the filter to tar in
// whole blocks; false when tar stopped reading or the filter refused.
class FilteredFeed {
public:
    explicit FilteredFeed(int pipe) : pipe_(pipe) {}
    bool Add(const char* data, std::size_t count)
    {
        blocks_.insert(blocks_.end(), data, data + count);
        const std::size_t whole = blocks_.size() - blocks_.size() % kTarBlock;
        const std::size_t kept = filter_.Pass(blocks_.data(), whole);
        if (filter_.Refused() || !FeedUnpacker(pipe_, blocks_.data(), kept))
            return false;
        blocks_.erase(blocks_.begin(), blocks_.begin() + whole);
        return true;
    }
    // The archive must have ended where it should, with the player in it.
    bool Finish(std::string* damage)
    {
        if (!blocks_.empty())
            *damage = "its archive ends in the middle";
        else if (!filter_.Finish())
            *damage = filter_.Refusal();
        return damage->empty();
    }
    const TarFilter& filter() const { return filter_; }

private:
    int pipe_;
    TarFilter filter_;
    std::vector<char> blocks_;
};

// An indexed payload: decompressed on every core, handed to tar in order.
bool StreamChunks(int fd, const Payload& payload, const std::vector<Chunk>& chunks, int pipe,
                  std::string* damage)
{
    FilteredFeed feed(pipe);
    const ChunksOutcome outcome = InflateChunks(
        fd, payload.start, chunks, DecompressionThreads(),
        [&](const char* data, std::size_t count) { return feed.Add(data, count); },
        [&](std::uint64_t done) {
            fPercentDone = static_cast<float>(static_cast<double>(done) / payload.length * 100.0);
            if (!bIsSilent)
                ShowProgress();
            return true;
        });
    if (outcome.end == ChunksEnd::Damaged)
        *damage = outcome.damage;
    else if (feed.filter().Refused())
        *damage = feed.filter().Refusal();
    if (outcome.end != ChunksEnd::Done || !feed.Finish(damage))
        return false;
    fPercentDone = 100;
    static const char kEndOfArchive[2 * kTarBlock] = {};
    return FeedUnpacker(pipe, kEndOfArchive, sizeof kEndOfArchive);
}

// Decompresses the payload and hands tar the archive, checked and made
// safe header by header.  False when tar stopped reading or damage was
// found (*damage says what).
bool Stream(int fd, const Payload& payload, int pipe, std::string* damage)
{
    std::vector<Chunk> chunks;
    if (!ReadChunkIndex(fd, payload.start, payload.length, &chunks)) {
        *damage = "its chunk index does not fit its compressed archive";
        return false;
    }
    if (!chunks.empty())
        return StreamChunks(fd, payload, chunks, pipe, damage);

    Inflater inflater;
    if (!inflater.ready)
        return false;
    z_stream& stream = inflater.stream;
    TarFilter filter;
    std::vector<unsigned char> input(kReadSize);
    std::vector<char> output(kInflatedSize);
    std::size_t carry = 0;  // the start of a block, completed by the next round
    off_t consumed = 0;
    for (int status = Z_OK; status != Z_STREAM_END;) {
        if (stream.avail_in == 0 && consumed < payload.length &&
            !ReadPayload(fd, payload, &consumed, &input, &stream)) {
            *damage = "it can not be read to its end";
            return false;
        }
        if (!InflateInto(&stream, &output, carry, &status, damage))
            return false;
        const std::size_t have = output.size() - stream.avail_out;
        const std::size_t whole = have - have % kTarBlock;
        const std::size_t kept = filter.Pass(output.data(), whole);
        if (filter.Refused()) {
            *damage = filter.Refusal();
            return false;
        }
        if (!FeedUnpacker(pipe, output.data(), kept))
            return false;
        std::memmove(output.data(), output.data() + whole, have - whole);
        carry = have - whole;
        if (!bIsSilent)
            ShowProgress();
    }
    if (!EndsCleanly(stream, consumed, payload, carry, &filter, damage))
        return false;
    static const char kEndOfArchive[2 * kTarBlock] = {};
    return FeedUnpacker(pipe, kEndOfArchive, sizeof kEndOfArchive);
}

// Runs tar in the current directory and feeds it the payload.  Reports
// its own failures: a damaged file stops tar where the damage shows.
bool Unpack(int fd, const Payload& payload, const char* start)
{
    // A tar that ends early must turn our writes into EPIPE rather than
    // kill us.  A handler, not SIG_IGN, which tar would inherit.
    const SignalGuard brokenPipe(SIGPIPE, IgnoreSignal);
    // tar must be there to wait for: with SIGCHLD ignored, as whoever
    // started us may have left it, it would be reaped unseen.
    const SignalGuard childEnds(SIGCHLD, SIG_DFL);
    std::string reason;
    const int pipe = StartUnpacker(&reason);
    if (pipe < 0) {
        ReportError(FormatText("Can not start tar: %s", reason.c_str()).c_str());
        return false;
    }
    std::string damage;
    const bool fed = Stream(fd, payload, pipe, &damage);
    if (!damage.empty()) {
        StopUnpacking();
        close(pipe);
        ReportDamaged(start, damage);
        return false;
    }
    if (!FinishUnpacker(pipe) || !fed) {
        ReportError(kUnpackFailed);
        return false;
    }
    return true;
}

// The two lines the installed player reads its bandwidth from.
void WriteSettings()
{
    const char* home = std::getenv("HOME");
    if (!home)
        return;
    const std::string path = std::string(home) + "/" + ".Quorvex_ZembraSDK_60";
    const File settings(std::fopen(path.c_str(), "we"));
    if (!settings)
        return;
    std::fputs("Bandwidth=10485800\n", settings.get());
    std::fputs("MaxBandwidth=10485800\n", settings.get());
}

}  // namespace

bool Extract(char* directory, int ownFile)
{
    const char* start = pArgv[0];
    const int copy = fcntl(ownFile, F_DUPFD_CLOEXEC, 0);
    File file(fdopen(copy, "rb"));
    if (!file) {
        if (copy != -1)
            close(copy);
        ReportError(kUnpackFailed);
        return false;
    }
    const std::optional<Payload> payload = FindPayload(file.get());
    if (!payload) {
        ReportError(FormatText("The installer file %s is damaged: "
                               "no product archive was found at its end.", start).c_str());
        return false;
    }
    if (!EnterDestination(directory))
        return false;
    const int fd = fileno(file.get());
    if (!SealAllows(fd, *payload, start, directory) || !Unpack(fd, *payload, start))
        return false;
    file.reset();
    if (!bIsSilent)
        WriteSettings();
    return true;
}
