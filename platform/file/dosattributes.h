#pragma once

#include <cstdint>
#include <optional>
#include <string>

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
