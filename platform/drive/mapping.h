#pragma once

#include <optional>
#include <string>
#include <string_view>

// Where a drive letter leads on the host, and how a DOS path names a file of a drive.

// What drive letter maps to on the host: the path in the environment variable
// VARNELLO_DRIVE_X when it is set (set but empty: "", no drive), otherwise
// $WINEPREFIX/dosdevices/x: (~/.wine when WINEPREFIX is unset or empty).
std::string DriveMapping(char letter);

// The partition of an image drive that VARNELLO_PARTITION_X names: 0 (unset or empty:
// the drive chooses) or 1 to 4; nullopt, with ImageNotUnderstood recorded, for anything else.
std::optional<int> PartitionChoice(char letter);

// "X:\name" split into its drive letter, in upper case, and its name (empty for "X:\");
// nullopt, with FileStep::ResolvePath and EINVAL, for anything else: the name must be a
// single plain file name (no further separators, no "." or "..", no NUL).
struct DosName {
    char letter;
    std::string_view name;
};
std::optional<DosName> ParseDosPath(std::string_view dosPath);
