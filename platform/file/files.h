#pragma once

#include <cerrno>
#include <cstdint>

// File lookup and attribute sets on DOS paths (see drives.h).

inline constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
inline constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x04;
inline constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr uint32_t INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

// True for an existing regular file (also through a link); directories, devices, FIFOs,
// dangling links and any lookup error give false. Never blocks.
bool FileExists(const char* path);

// Sets exactly this set of read-only, hidden, system and archive. Read-only is the
// write permission bits; the full set goes through the FAT attribute ioctl on a FAT
// mount and into the extended attribute "user.DOSATTRIB" elsewhere (as text, "0x7";
// removed when no hidden, system or archive remains). Clearing read-only gives the owner
// write permission when nobody had it. Other bits of attributes are ignored.
// Where extended attributes are unsupported, hidden, system and archive cannot be set.
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
