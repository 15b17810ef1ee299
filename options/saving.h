#pragma once

#include <optional>
#include <string>

#include "options/bootoptions.h"
#include "platform/file/fileerror.h"

// Where writing the fifteen keys stopped, and why.
struct BootWriteFailure {
    enum class Stage {
        FileMissing,      // msdos.sys is gone; nothing was touched
        Refused,          // msdos.sys may not be replaced (CheckReplaceable); nothing was touched
        ClearAttributes,  // its attributes could not be cleared; nothing was written
        WriteKey,         // the write of key failed; the keys before it hold their new values
    };
    Stage stage;
    FileError error;
    const char* key = nullptr;  // WriteKey only
    int keysWritten = 0;        // keys, in writing order, written before the failure
};

// Clears the file's attributes and writes the fifteen keys in writing order, one profile
// write each. Refuses a file that is not there, at the start or at any write: a new
// msdos.sys holding only these keys would leave the drive unable to start. Refuses, before
// changing anything, a file that may not be replaced (a link out of the drive, other hard
// links, an owner a new copy could not keep). Stops at the first failure and returns it.
std::optional<BootWriteFailure> WriteBootOptions(const BootOptions& options, const std::string& fileName);

// Read-only, hidden and system: how msdos.sys is always left.
inline constexpr uint32_t BootFileAttributes = 0x07;
