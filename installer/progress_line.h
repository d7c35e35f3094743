// The progress of an unpacking as one line of text, rewritten in place:
// on the terminal of the terminal wizard, and on standard error when a
// silent installation runs at a terminal.  Into a file or a pipe it is a
// whole line each tenth of the way instead.
#ifndef OVELO_INSTALLER_PROGRESS_LINE_H
#define OVELO_INSTALLER_PROGRESS_LINE_H

#include <cstdint>

// The progress line goes to fd from the next ShowProgressLine on.
void StartProgressLine(int fd);

// Rewrites the line in place with the share done of total, at most ten
// times a second; at done == total for the last time, ending it with a
// newline.  Into a file, adds a line when another tenth is done, the last
// at 100 percent.  Does nothing unless a line was started.
void ShowProgressLine(std::uint64_t done, std::uint64_t total);

// Clears a line still being rewritten, so that a message starts at the
// start of a line of its own.
void EraseProgressLine();

#endif
