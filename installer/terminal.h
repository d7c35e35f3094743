// The installer in a terminal: the wizard as questions and answers, and
// the progress of an unpacking as one line of text.
#ifndef OVELO_INSTALLER_TERMINAL_H
#define OVELO_INSTALLER_TERMINAL_H

#include <cstdint>

// The wizard's road in the terminal: the licence a screenful at a time and
// its question, the destinations numbered, then the installation sequence
// of the window's Finish with the progress on standard output.  Returns the
// exit status when the player was not started: 0 after a refusal or at the
// end of the input, 1 when the installation failed.  Ctrl-C ends the
// process with status 130 at any moment.
int RunTerminalWizard();

// The progress line goes to fd from the next ShowProgressLine on.
void StartProgressLine(int fd);

// Rewrites the line in place with the share done of total, at most ten
// times a second; at done == total for the last time, ending it with a
// newline.  Does nothing unless a line was started.
void ShowProgressLine(std::uint64_t done, std::uint64_t total);

// Clears a line still being rewritten, so that a message starts at the
// start of a line of its own.
void EraseProgressLine();

#endif
