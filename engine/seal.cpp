// Reading the payload's seal, and the checksum it records.
#include "seal.h"

#include "bytes.h"
#include "cksum.h"
#include "format.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kCheckStep = 256 * 1024;  // bytes read and summed between two looks

// Decimal digits up to a blank or the end; false on anything else.
bool ParseNumber(const std::string& text, std::size_t* at, std::uint64_t* value)
{
    const std::size_t first = *at;
    *value = 0;
    for (; *at < text.size() && text[*at] >= '0' && text[*at] <= '9'; ++*at) {
        if (*value > (UINT64_MAX - 9) / 10)
            return false;
        *value = *value * 10 + (text[*at] - '0');
    }
    return *at > first && (*at == text.size() || text[(*at)++] == ' ');
}

// Version 2 adds the room taken for each fragment size.
bool ParseRoom(const std::string& data, std::size_t* at, Seal* seal)
{
    for (std::uint64_t& room : seal->room)
        if (!ParseNumber(data, at, &room))
            return false;
    seal->hasRoom = true;
    return true;
}

std::optional<Seal> ParseSeal(const std::string& data, off_t dataOffset)
{
    if (data.size() < 2 + kSealCrcDigits)
        return std::nullopt;
    const bool withRoom = data.compare(0, 2, "2 ") == 0;
    if (!withRoom && data.compare(0, 2, "1 ") != 0)
        return std::nullopt;
    Seal seal;
    std::size_t at = 2;
    std::uint64_t crc = 0;
    const std::size_t crcAt = data.size() - kSealCrcDigits;
    if (!ParseNumber(data, &at, &seal.bytes) || !ParseNumber(data, &at, &seal.entries) ||
        (withRoom && !ParseRoom(data, &at, &seal)) || at != crcAt ||
        !ParseNumber(data, &at, &crc) || crc > UINT32_MAX)
        return std::nullopt;
    seal.crc = static_cast<std::uint32_t>(crc);
    seal.crcOffset = dataOffset + static_cast<off_t>(crcAt);
    return seal;
}

}  // namespace

bool SealOf(const GzipHeader& header, std::optional<Seal>* seal)
{
    seal->reset();
    std::optional<Subfield> field;
    if (!FindSubfield(header.extra, kSealId, &field))
        return false;
    if (!field)
        return true;  // no seal
    *seal = ParseSeal(header.extra.substr(field->offset, field->size),
                      header.extraOffset + static_cast<off_t>(field->offset));
    return seal->has_value();
}

namespace {

// Adds the bytes from..to of the file to the checksum, read with pread a
// step at a time into one buffer, so that the memory used is the same
// whatever the payload's size.  A file that can not be read to its end
// does not give the checksum.
Fault AddToChecksum(int fd, off_t from, off_t to, CksumCrc* crc, Observer& observer)
{
    std::vector<unsigned char> buffer(kCheckStep);
    while (from < to) {
        const std::size_t count = std::min<off_t>(kCheckStep, to - from);
        if (!ReadExactly(fd, buffer.data(), count, from))
            return Fault::kChecksumMismatch;
        crc->Update(buffer.data(), count);
        if (!observer.KeepGoing())
            return Fault::kStopped;
        from += count;
    }
    return Fault::kNone;
}

}  // namespace

std::string SealData(const SealTally& tally, std::uint32_t crc)
{
    std::string data = "2 " + std::to_string(tally.bytes) + " " + std::to_string(tally.entries) + " ";
    for (const std::uint64_t room : tally.room)
        data += std::to_string(room) + " ";
    return data + FormatText("%010u", crc);
}

Fault PayloadChecksum(int fd, const Payload& payload, off_t crcOffset, Observer& observer,
                      std::uint32_t* crc)
{
    CksumCrc sum;
    const off_t digits = payload.start + crcOffset;
    Fault fault = AddToChecksum(fd, payload.start, digits, &sum, observer);
    if (fault == Fault::kNone)
        fault = AddToChecksum(fd, digits + static_cast<off_t>(kSealCrcDigits),
                              payload.start + payload.length, &sum, observer);
    *crc = sum.Final();
    return fault;
}

Fault CheckSeal(int fd, const Payload& payload, const Seal& seal, Observer& observer)
{
    std::uint32_t crc = 0;
    const Fault fault = PayloadChecksum(fd, payload, seal.crcOffset, observer, &crc);
    return fault == Fault::kNone && crc != seal.crc ? Fault::kChecksumMismatch : fault;
}

namespace {

constexpr std::size_t kLongLink = 60;  // bytes of target that no longer fit in an inode

std::uint64_t Plus(std::uint64_t a, std::uint64_t b)
{
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// Sizes come from tar headers, at most 2^63: rounding up can not wrap.
std::uint64_t RoundedUp(std::uint64_t size, std::uint64_t unit)
{
    return (size + unit - 1) / unit * unit;
}

}  // namespace

void SealTally::Add(char type, std::uint64_t size, std::size_t linkLength, bool top)
{
    if (type == '1')
        return;
    const bool file = type != '2' && type != '5';
    if (!top)
        ++entries;
    if (file)
        bytes = Plus(bytes, size);
    for (std::size_t i = 0; i < room.size(); ++i) {
        const std::uint64_t fragment = std::uint64_t{512} << i;
        std::uint64_t taken = fragment;
        if (file)
            taken = RoundedUp(size, fragment);
        else if (type == '2' && linkLength < kLongLink)
            taken = 0;
        room[i] = Plus(room[i], taken);
    }
}

bool SealTally::Within(const Seal& seal) const
{
    if (bytes > seal.bytes || entries > seal.entries)
        return false;
    for (std::size_t i = 0; seal.hasRoom && i < room.size(); ++i)
        if (room[i] > seal.room[i])
            return false;
    return true;
}

bool SealTally::Matches(const Seal& seal) const
{
    return bytes == seal.bytes && entries == seal.entries && (!seal.hasRoom || room == seal.room);
}
