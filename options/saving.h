#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "options/bootoptions.h"

// Read-only, hidden and system: how msdos.sys is always left.
inline constexpr uint32_t BootFileAttributes = 0x07;

// Clears the attributes of msdos.sys in the boot drive's root (bootPath as "C:\") and
// writes the fifteen keys in writing order, one profile write each. Refuses a file that is
// not there, at the start or at any write: a new msdos.sys holding only these keys would
// leave the drive unable to start. Refuses, before changing anything, a file that may not
// be replaced (a link out of the drive, other hard links, an owner a new copy could not
// keep). Stops at the first failure, makes a file it touched read-only, hidden and system
// again, and returns what the user reads: the file, the step that failed and why.
std::optional<std::string> WriteBootOptions(const BootOptions& options, const std::string& bootPath);

// Makes msdos.sys, when it is there, read-only, hidden and system; what the user reads
// when that failed.
std::optional<std::string> ProtectBootFile(const std::string& bootPath);
