#pragma once

#include <string>

#include "options/bootoptions.h"

// The rules the window keeps between the options, in one place for every program that
// changes them.

// Without an earlier MS-DOS beside msdos.sys there is no other system to start.
inline constexpr const char* NoEarlierDosNotice =
    "MS-DOS Version 5 or 6.x is not found.\r\nSome options are disabled and setted by default";
// Switching a compressed-drive driver off leaves the user to install the drives by hand.
inline constexpr const char* CompressedDriveWarning =
    "If you deselect this option, you must manually install compressed drives.\r\n\r\nDo you want to continue?";

// What loading does to the options read from a drive without an earlier MS-DOS: dual boot
// off and Windows 95 the system to start.
void ApplyNoEarlierDos(BootOptions& options);

// Without dual boot Windows 95 is the only system to start, so BootWin is on.
void ApplySingleBoot(BootOptions& options);

// Whether going from `before` to `after` switches a compressed-drive driver off.
bool TurnsCompressedDriveOff(const BootOptions& before, const BootOptions& after);

// Why `options` cannot stand on a drive with or without an earlier MS-DOS, or "" when they
// keep every rule: dual boot needs an earlier MS-DOS, and BootWin is on without dual boot.
std::string RuleBroken(const BootOptions& options, bool earlierDos);
