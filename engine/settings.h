// The settings file the installed player reads, in the home folder.
#ifndef OVELO_ENGINE_SETTINGS_H
#define OVELO_ENGINE_SETTINGS_H

#include "outcome.h"

constexpr char kSettingsName[] = ".Quorvex_ZembraSDK_60";

// Whether home (set, not empty, absolute) is a folder that belongs to us,
// so that a folder in it may be offered as a destination.
bool IsOwnHome(const char* home);

// Replaces the settings file in home with the player's two lines.  The
// home folder must be ours, and the file missing or a regular file of
// ours: nothing is written into another user's home folder, and a link, a
// FIFO or another user's file is never written through.  kNone when
// written, or when there is no usable home; otherwise why not, naming the
// file.
Outcome WriteSettingsFile(const char* home);

#endif
