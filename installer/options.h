// The command lines the installer answers without its window.
#ifndef OVELO_INSTALLER_OPTIONS_H
#define OVELO_INSTALLER_OPTIONS_H

#include <optional>

// Runs what the command line asks for when it is one of ours, exactly as
// main received it, and returns the exit status (2 for a command line that
// is neither ours nor the toolkit's); nothing when the command line opens
// the wizard.
std::optional<int> RunCommandLineOption(int argc, char** argv);

#endif
