#pragma once

#include "platform/drive/drive.h"

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

// The file operations the program calls on DOS paths "X:\name", under the platform's own
// names. Each resolves the path's letter once into its drive (drives.h) and leaves the
// work to it: a directory drive (platform/drive/directory) or an image drive
// (platform/drive/image). Failures leave the details in LastFileError().

// True for an existing regular file (also through a link); directories, devices, FIFOs,
// dangling links and any lookup error give false. Never blocks. On an image drive, a file
// of the FAT file system's root directory, never a directory or a volume label.
bool FileExists(const char* path);

// Why the file path names is not found, where that is more than its absence, as
// Describe() words it: its disk image cannot be opened, holds no usable FAT file system,
// needs a program that is not installed, or is damaged where the file is. "" when the
// file exists, is merely missing, or its drive is unmapped, and on directory drives.
std::string WhyFileNotFound(const char* path);

// True when another program, such as a running emulator, holds the disk image of path's
// drive now, so that a write would be refused; false on directory drives.
bool DriveInUseByAnotherProgram(const char* path);

// Sets exactly this set of read-only, hidden, system and archive (other bits are
// ignored): on a directory drive as SetTargetAttributes
// (platform/drive/directory/dosattributes.h) says, on an image drive in the directory
// entry. A link out of the drive is refused. Returns false when the set could not be
// stored; then whatever part of it was stored has been undone.
bool SetFileAttributesA(const char* path, uint32_t attributes);

// Makes the n-th following call of SetFileAttributesA (1 = the next one) fail with code,
// changing nothing, for fault tests. 0 turns it off.
void FailAttributeChangeForTesting(int nthCall, int code = EIO);

// Rewrites the existing file dosPath names as change says, so that it holds either its
// old or its new contents whatever happens: on a directory drive as ReplaceTarget
// (platform/drive/directory/atomicreplace.h), on an image drive through a complete copy
// (platform/drive/image/recovery.h). A missing file is never created (Inspect, ENOENT).
bool RewriteFile(std::string_view dosPath, const FileChange& change);

// True when RewriteFile could replace the file now (on a directory drive: a regular file
// inside the drive, without other hard links, whose owner and group a new copy can keep;
// on an image drive: there, and the image may be written now). Changes nothing, so that
// a caller can ask before it changes anything else.
bool CheckReplaceable(std::string_view dosPath);
