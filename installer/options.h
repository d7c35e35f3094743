// The command lines the installer answers without its window.
#ifndef OVELO_INSTALLER_OPTIONS_H
#define OVELO_INSTALLER_OPTIONS_H

#include <optional>

// Runs what the command line asks for when it is one of ours, exactly as
// main received it (a toolkit option in front makes it the wizard's), and
// returns the exit status; nothing when the command line opens the wizard.
std::optional<int> RunCommandLineOption(int argc, char** argv);

#endif
