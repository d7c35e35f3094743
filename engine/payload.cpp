// Reading the trailer at the end of an installer file.
#include "payload.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The trailer is looked for in the last block only; it never needs more
// than a dozen bytes.
constexpr off_t kTailSize = 1024;

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

}  // namespace

std::optional<Payload> FindPayload(int fd)
{
    struct stat info;
    if (fstat(fd, &info) == -1)
        return std::nullopt;
    const off_t size = info.st_size;
    const off_t tail = std::min(size, kTailSize);
    char block[kTailSize];
    if (tail < 2 || pread(fd, block, tail, size - tail) != tail || block[tail - 1] != '\n')
        return std::nullopt;
    const std::string_view text(block, tail - 1);
    const std::size_t opening = text.rfind('\n');
    if (opening == std::string_view::npos)
        return std::nullopt;
    const std::optional<off_t> length = ParseLength(text.substr(opening + 1));
    const off_t trailer = tail - static_cast<off_t>(opening);
    if (!length || *length > size - trailer)
        return std::nullopt;
    return Payload{size - trailer - *length, *length, size};
}
