// The words of the installer: every outcome the engine or the installer
// meets, as the text the user reads and the exit status it ends the run
// with.  What shows them is the face of the run (errors.cpp).
#ifndef OVELO_INSTALLER_MESSAGES_H
#define OVELO_INSTALLER_MESSAGES_H

#include "outcome.h"
#include "work_folder.h"

#include <string>
#include <vector>

// A name or path on its way to the user, on one line whatever it holds:
// control characters (a newline, a terminal's escape) and the backslash
// in octal, \ooo.
std::string Shown(const std::string& name);

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
