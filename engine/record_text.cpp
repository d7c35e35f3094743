// Escaping paths and reading fields of the installer's records.
#include "record_text.h"

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Relative, one name after another.
bool IsPlainPath(const std::string& path)
{
    std::size_t begin = 0;
    for (;;) {
        const std::size_t slash = path.find('/', begin);
        const std::string name = path.substr(begin, slash == std::string::npos ? slash : slash - begin);
        if (name.empty() || name == "." || name == "..")
            return false;
        if (slash == std::string::npos)
            return true;
        begin = slash + 1;
    }
}

}  // namespace

std::string EscapedPath(const std::string& path)
{
    // One pass over the characters: find_first_of with a set searches the
    // set for each of them, which shows on paths of thousands of bytes.
    const auto special = [](char c) { return c == '\\' || c == '\n'; };
    std::string text;
    text.reserve(path.size());
    auto from = path.begin();
    for (auto at = std::find_if(from, path.end(), special); at != path.end();
         at = std::find_if(from, path.end(), special)) {
        text.append(from, at);
        text += *at == '\\' ? "\\\\" : "\\n";
        from = at + 1;
    }
    return text.append(from, path.end());
}

bool ReadRecordFile(int fd, std::size_t largest, std::string* text)
{
    struct stat info;
    if (fstat(fd, &info) == -1 || !S_ISREG(info.st_mode) ||
        static_cast<std::uint64_t>(info.st_size) > largest)
        return false;
    text->resize(static_cast<std::size_t>(info.st_size));
    for (std::size_t done = 0; done < text->size();) {
        const ssize_t got = pread(fd, text->data() + done, text->size() - done, done);
        if (got <= 0)
            return false;
        done += got;
    }
    return true;
}

bool UnescapedText(std::string_view field, std::string* text)
{
    text->clear();
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            *text += field[i];
            continue;
        }
        if (++i == field.size() || (field[i] != '\\' && field[i] != 'n'))
            return false;
        *text += field[i] == 'n' ? '\n' : '\\';
    }
    return true;
}

bool UnescapedPath(std::string_view text, std::string* path)
{
    return UnescapedText(text, path) && !path->empty() && IsPlainPath(*path);
}

bool TakeNumber(std::string_view* rest, int base, std::uint64_t largest, std::uint64_t* value)
{
    const std::size_t blank = rest->find(' ');
    if (blank == 0 || blank == std::string_view::npos || blank > 20)
        return false;
    *value = 0;
    for (const char c : rest->substr(0, blank)) {
        const unsigned digit = static_cast<unsigned char>(c) - '0';
        if (digit >= static_cast<unsigned>(base) || *value > (largest - digit) / base)
            return false;
        *value = *value * base + digit;
    }
    rest->remove_prefix(blank + 1);
    return true;
}
