#pragma once

#include <string>

#include "options/bootoptions.h"
#include "platform/sys/fileerror.h"

// What a boot drive gives the main window when it loads.
struct BootDriveOptions {
    BootOptions options;     // from msdos.sys, missing keys as their defaults
    bool earlierDos;         // io.dos, msdos.dos and command.dos are all in the root
    std::string unreadable;  // what to tell the user when msdos.sys could not be read; else empty
    std::string inUse;       // what to tell the user when another program holds the drive; else empty
};

// Reads msdos.sys in the boot drive's root (bootPath as "C:\") key by key, then looks
// for the three files of an earlier MS-DOS beside it.
BootDriveOptions ReadBootDrive(const std::string& bootPath);

// Whether io.dos, msdos.dos and command.dos, which an earlier MS-DOS leaves, are all in the
// boot drive's root.
bool EarlierDosPresent(const std::string& bootPath);

// The options of a file, read key by key through the profile reader (DOS path). When the
// file exists but cannot be read, the keys read as their defaults and readFailure (if
// given) says why; otherwise it is left as it was.
BootOptions ReadBootOptions(const std::string& fileName, FileError* readFailure = nullptr);
