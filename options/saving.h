#pragma once

#include <bitset>
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

// The text written for that option's value (ValueText).
std::string OptionValueText(const BootOptions& options, const OptionKey& option);

// Which keys a write sets, by their index in ReadingOrder.
using ChosenKeys = std::bitset<ReadingOrder.size()>;

// Sets only the chosen keys, all in one replace of the file, so that they all reach it or
// none does; a missing key is added to the section as the profile writer adds it. The same
// checks and failure texts as WriteBootOptions; the attributes are cleared first only on a
// directory drive (an image's copy keeps them anyway), and on success the file is left
// read-only, hidden and system (a failure of that alone is returned too).
std::optional<std::string> WriteChosenBootOptions(const BootOptions& options, ChosenKeys keys,
                                                  const std::string& bootPath);

// Makes msdos.sys, when it is there, read-only, hidden and system; what the user reads
// when that failed.
std::optional<std::string> ProtectBootFile(const std::string& bootPath);
