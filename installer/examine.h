// What an installer file tells about itself, installing nothing: each takes
// main's argument vector and returns the exit status, 0, or 1 after the
// message of a damaged or unreadable file on standard error.
#ifndef OVELO_INSTALLER_EXAMINE_H
#define OVELO_INSTALLER_EXAMINE_H

int ShowInfo(char** argv);      // --info: sizes, seal, the room the product needs
int ListContents(char** argv);  // --list: the entries as they would be installed
int CheckFile(char** argv);     // --check: the whole payload read and checked
// --verify DIRECTORY: a line a difference between DIRECTORY and what the
// file installs on standard output; 0 when there is none, 1 when there
// are, 2 when it can not tell.
int VerifyInstallation(char** argv);

#endif
