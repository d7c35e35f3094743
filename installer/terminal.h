// The installer in a terminal: the wizard as questions and answers.
#ifndef OVELO_INSTALLER_TERMINAL_H
#define OVELO_INSTALLER_TERMINAL_H

// The wizard's road in the terminal: the licence a screenful at a time and
// its question, the destinations numbered, then the installation sequence
// of the window's Finish with its progress.  All of it goes to standard
// output, or to the terminal itself when only standard input is one, so
// that its user never answers blind; messages go to standard error.
// Returns the exit status when the player was not started: 0 after a
// refusal or at the end of the input, 1 when the installation failed.
// Ctrl-C ends the process with status 130 at any moment.
int RunTerminalWizard();

#endif
