// The tar process that unpacks the payload, and the waits for it.  Nothing
// here blocks while the window is up: every wait also serves the window's
// events, so it repaints and C ends the installer at any moment.
#ifndef OVELO_INSTALLER_UNPACKER_H
#define OVELO_INSTALLER_UNPACKER_H

#include <cstddef>
#include <string>

// Starts "tar -xf -" in the current directory (in the wizard in a process
// group of its own), reading from a pipe whose other end is returned
// (non-blocking).
// -1, with the system's reason in *reason, when it cannot be started.
int StartUnpacker(std::string* reason);

// Writes count bytes into the pipe; false when tar no longer reads.
bool FeedUnpacker(int pipe, const char* data, std::size_t count);

// Closes the pipe and waits for tar; true when it ended with status 0.
bool FinishUnpacker(int pipe);

// In the wizard: the window's pending events and due timers, at most every
// few milliseconds, however often it is called.
void ServeWindowEventsNow();
void ServeWindowEventsSometimes();

#endif
