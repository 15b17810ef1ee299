#pragma once

#include <optional>
#include <string>
#include <string_view>

// Maps a DOS path "X:\" or "X:\name" onto the host. Drive X is the directory named by
// the environment variable VARNELLO_DRIVE_X, otherwise $WINEPREFIX/dosdevices/x:
// (~/.wine when WINEPREFIX is unset). A name matches without regard to case, as on FAT;
// a name that matches nothing keeps its spelling (so a new file can be created).
// Returns nullopt when the drive is unmapped or missing, or when the name is anything
// but a single plain file name (no further separators, no "." or "..", no NUL); then
// LastFileError() holds FileStep::ResolvePath with ENODEV (drive unmapped or missing),
// ENOTDIR (mapped to something that is not a directory) or EINVAL (bad path or name).
// "X:\" alone gives the drive's directory. An empty VARNELLO_DRIVE_X counts as unset.
std::optional<std::string> HostPath(std::string_view dosPath);
