#pragma once

#include <cstddef>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file/descriptor.h"

// What drive letter maps to on the host: the path in the environment variable
// VARNELLO_DRIVE_X when it is set (set but empty: "", no drive), otherwise
// $WINEPREFIX/dosdevices/x: (~/.wine when WINEPREFIX is unset or empty). A directory there
// is a directory drive (below); a regular file or a block device is an image drive
// (imagedrive.h), which the file operations reach instead.
std::string DriveMapping(char letter);

// "X:\name" split into its drive letter, in upper case, and its name (empty for "X:\");
// nullopt, with FileStep::ResolvePath and EINVAL, for anything else.
struct DosName {
    char letter;
    std::string_view name;
};
std::optional<DosName> ParseDosPath(std::string_view dosPath);

// Maps a DOS path "X:\" or "X:\name" onto a directory drive's host directory. A name
// matches without regard to case, as on FAT; a name that matches nothing keeps its
// spelling (so a new file can be created).
// Returns nullopt when the drive is unmapped or missing, or when the name is anything
// but a single plain file name (no further separators, no "." or "..", no NUL); then
// LastFileError() holds FileStep::ResolvePath with ENODEV (drive unmapped or missing),
// ENOTDIR (mapped to something that is not a directory) or EINVAL (bad path or name).
// "X:\" alone gives the drive's directory.
std::optional<std::string> HostPath(std::string_view dosPath);

// A file of a drive, reached through an open descriptor of the directory it lives in,
// so that every step of a read or a write reaches that directory whatever is renamed
// meanwhile. name is a single entry of it, no link when it was resolved (or missing).
struct FileTarget {
    Descriptor directory;
    std::string name;
};

// Resolves "X:\name" once, as HostPath does. A link of that name is followed only while
// it leads to a file inside the drive's directory (the drive's directory itself may be a
// link); one leading elsewhere fails with FileStep::LinkOutside, a dangling one with
// FileStep::Inspect. Other failures as HostPath.
std::optional<FileTarget> ResolveFileTarget(std::string_view dosPath);

// What OpenWithoutBlocking opens: a regular file, never through a link; or a disk image,
// a regular file or a block device, through links (the user named it).
enum class Openable { RegularFile, DiskImage };

// Opens name (relative to the directory open at directory, or AT_FDCWD) without ever
// blocking: it is looked at first, so that nothing but what kinds allows (no FIFO, no
// terminal) is opened at all, and again once open. access is O_RDONLY or O_RDWR, with
// O_EXCL to open a block device exclusively (EBUSY while it is mounted); O_EXCL means
// nothing for a regular file. An invalid descriptor with errno set otherwise (ENOENT,
// EISDIR for a directory, ELOOP for a link where none is followed, EINVAL for anything else).
Descriptor OpenWithoutBlocking(int directory, const char* name, Openable kinds = Openable::RegularFile,
                               int access = O_RDONLY);

// OpenWithoutBlocking for the regular file that target names.
Descriptor OpenRegularFile(const FileTarget& target);

// Calls visit with the name of each entry of the directory open at directory, until it
// returns false. Lists nothing when the directory cannot be read.
void ForEachEntry(int directory, const std::function<bool(const char* name)>& visit);

// Far beyond any real msdos.sys; larger files are neither read nor written.
inline constexpr size_t MaxFileSize = 16 * 1024 * 1024;

// Reads the whole file from its start; false with errno (EFBIG beyond MaxFileSize).
bool ReadWholeFile(int fd, std::string& bytes);
