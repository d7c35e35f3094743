// The words of the installer: every outcome the engine or the installer
// meets, as the text the user reads and the exit status it ends the run
// with.  What shows them is the face of the run (errors.cpp).
#ifndef OVELO_INSTALLER_MESSAGES_H
#define OVELO_INSTALLER_MESSAGES_H

#include "outcome.h"
#include "work_folder.h"

#include <string>
#include <vector>

// A name or path on its way to the user, on one line whatever it holds,
// as the terminal or the window will draw it: each byte of a character
// that does not print (a newline, a terminal's escape), of a sequence that
// is no character in the encoding of LC_CTYPE, and of the backslash, in
// octal, \ooo.  Every name the installer shows goes through it.
std::string Shown(const std::string& name);

// A step that failed for want of memory or descriptors, said as that
// shortage (never as damage or a permission, which would send the user
// after the wrong cause); any other outcome as it is.
Outcome AsShortage(const Outcome& outcome);

// The message of an outcome, with every name in it shown.
std::string Words(const Outcome& outcome);

// The exit status a run ends with after the outcome.
int StatusOf(Fault fault);

// Files of an earlier version that an upgrade kept, changed since: one
// message naming them all beneath the destination; empty when none.
std::string KeptFilesNote(const std::string& destination, const std::vector<std::string>& paths);

// Files of the user's that the new version replaced, kept beside it: one
// message naming them as they are kept now; empty when none.
std::string SavedFilesNote(const std::string& destination, const std::vector<std::string>& paths);

// A run killed in the destination before, which this one finished or
// undid first: a line saying so; empty when there was none.
std::string RecoveryNote(const std::string& destination, Recovered recovered);

#endif
