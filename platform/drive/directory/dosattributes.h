#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/drive/directory/filetarget.h"

// Where a file on a host directory keeps its DOS attributes: on a FAT mount in its
// directory entry, through the kernel's FAT attribute ioctl; elsewhere hidden, system and
// archive in the extended attribute below (as Wine and Samba keep them), read-only in the
// write permission bits. All of these take an open descriptor of the file.

inline constexpr const char* DosAttributeName = "user.DOSATTRIB";

// Whether the file lives on a FAT mount; nullopt, with errno, when that cannot be told.
std::optional<bool> OnFatMount(int fd);

// The attribute byte of the file's FAT directory entry; false with errno.
bool ReadFatAttributes(int fd, uint32_t& attributes);
bool WriteFatAttributes(int fd, uint32_t attributes);

// The extended attribute's bytes as stored, or nullopt when there is none (errno ENODATA,
// or ENOTSUP where none can be kept) or it cannot be read (errno says why).
std::optional<std::string> StoredDosAttribute(int fd);

// Stores bytes as the extended attribute, or removes it for nullopt; false with errno.
bool StoreDosAttribute(int fd, const std::optional<std::string>& bytes);

// Sets exactly this set of read-only, hidden, system and archive on the file target names.
// Read-only is the write permission bits; the full set goes through the FAT attribute
// ioctl on a FAT mount and into the extended attribute elsewhere (as text, "0x7"; removed
// when no hidden, system or archive remains). Clearing read-only gives the owner write
// permission when nobody had it. Where extended attributes are unsupported, hidden, system
// and archive cannot be set. A FAT mount that refuses the change to this process (EPERM:
// it lacks CAP_LINUX_IMMUTABLE) fails with FatAttributesNeedPrivilege. Returns false
// (details in LastFileError()) when the set could not be stored; then whatever part of it
// was stored has been undone.
bool SetTargetAttributes(const FileTarget& target, uint32_t attributes);
