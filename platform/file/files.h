#pragma once

#include <cerrno>
#include <cstdint>

#include <string>

// File lookup and attribute sets on DOS paths (see drives.h), on directory drives and on
// image drives (imagedrive.h) alike.

inline constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
inline constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x04;
inline constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr uint32_t INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

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

// Sets exactly this set of read-only, hidden, system and archive. Read-only is the
// write permission bits; the full set goes through the FAT attribute ioctl on a FAT
// mount and into the extended attribute "user.DOSATTRIB" elsewhere (as text, "0x7";
// removed when no hidden, system or archive remains). Clearing read-only gives the owner
// write permission when nobody had it. Other bits of attributes are ignored.
// Where extended attributes are unsupported, hidden, system and archive cannot be set.
// A FAT mount that refuses the change to this process (EPERM: it lacks CAP_LINUX_IMMUTABLE)
// fails with FatAttributesNeedPrivilege. On an image drive all four are the directory
// entry's.
// The file is reached as ResolveFileTarget (drives.h) reaches it: a link out of the drive
// is refused. Returns false (details in LastFileError()) when the set could not be
// stored; then whatever part of it was stored has been undone.
bool SetFileAttributesA(const char* path, uint32_t attributes);

// Makes the n-th following call of SetFileAttributesA (1 = the next one) fail with code,
// changing nothing, for fault tests. 0 turns it off.
void FailAttributeChangeForTesting(int nthCall, int code = EIO);

// The attribute set as stored, or INVALID_FILE_ATTRIBUTES (details in LastFileError()).
// Only regular files have attributes here; a directory gives INVALID_FILE_ATTRIBUTES.
uint32_t GetFileAttributesA(const char* path);
