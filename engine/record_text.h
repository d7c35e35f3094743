// Lines of the installer's own records, the manifest and the journal:
// fields one blank apart, numbers without signs, and a path last, all that
// follows its blank, with a backslash written "\\" and a newline "\n".
#ifndef OVELO_ENGINE_RECORD_TEXT_H
#define OVELO_ENGINE_RECORD_TEXT_H

#include <cstdint>
#include <string>
#include <string_view>

std::string EscapedPath(const std::string& path);

// A record's last field, its escapes undone, into *text; false for an
// escape that is none.
bool UnescapedText(std::string_view field, std::string* text);
// The same for a path, false unless it is a plain relative path, one name
// after another: a record that names anything else was not written by us,
// and nothing it names is touched.
bool UnescapedPath(std::string_view text, std::string* path);

// The whole of a record's file into *text: false unless it is a regular
// file of at most largest bytes read to its end.
bool ReadRecordFile(int fd, std::size_t largest, std::string* text);

// One field of digits in base (8 or 10), at most largest, and the blank
// after it, taken from the front of *rest.
bool TakeNumber(std::string_view* rest, int base, std::uint64_t largest, std::uint64_t* value);

#endif
