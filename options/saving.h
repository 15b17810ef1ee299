#pragma once

#include <optional>
#include <string>

#include "options/bootoptions.h"
#include "platform/fileerror.h"

// Clears the file's attributes and writes the fifteen keys in writing order, one profile
// write each. Refuses a file that is no longer there: a new msdos.sys holding only these
// keys would leave the drive unable to start. Stops at the first failure and returns it.
std::optional<FileError> WriteBootOptions(const BootOptions& options, const std::string& fileName);

// Read-only, hidden and system: how msdos.sys is always left.
inline constexpr uint32_t BootFileAttributes = 0x07;
