#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Reading and writing whole runs of bytes on an open descriptor, resuming after
// interruptions and short transfers.

// Far beyond any real msdos.sys; larger files are neither read nor written.
inline constexpr size_t MaxFileSize = 16 * 1024 * 1024;

// Up to count bytes from offset on (fewer at the end of the file); false with errno.
bool ReadAt(int fd, uint64_t offset, size_t count, std::string& bytes);

// Reads the whole file from its start; false with errno (EFBIG beyond MaxFileSize).
bool ReadWholeFile(int fd, std::string& bytes);

// Writes every byte at the current position; false with errno (EIO when nothing moves).
bool WriteAll(int fd, std::string_view bytes);
