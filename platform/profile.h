#pragma once

#include <cstdint>

// INI files with the host platform's semantics, on DOS paths (see drives.h).
// Byte-oriented: the file is never decoded, and every byte that is not the value
// being written stays as it was.

// The key's value read as an integer; defaultValue when the file, the section or
// the key is missing or the value is empty.
uint32_t GetPrivateProfileIntA(const char* section, const char* key, int32_t defaultValue,
                               const char* fileName);

// Puts value into key of section, replacing the file atomically. Nonzero on success;
// on failure the file is unchanged and LastFileError() says which step failed.
int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                               const char* fileName);
