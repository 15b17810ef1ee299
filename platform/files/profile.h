#pragma once

#include <cstdint>
#include <span>
#include <string>

// INI files with the host platform's semantics, on DOS paths (see files.h), by the rules
// of platform/ini/inifile.h. Byte-oriented: the file is never decoded, and every byte
// that is not the value being written stays as it was.

// The key's value read as an integer; defaultValue when the file, the section or
// the key is missing or the value is empty. When the file exists but cannot be read
// (no permission, too large, a link out of its drive, an I/O error) it also gives
// defaultValue, and LastFileError() says why; otherwise LastFileError() is clear.
uint32_t GetPrivateProfileIntA(const char* section, const char* key, int32_t defaultValue,
                               const char* fileName);

// Puts value into key of section of an existing file, replacing the file atomically
// (RewriteFile in files.h). Never creates a file: a missing one is a failure
// (FileStep::Inspect, ENOENT). Nonzero on success; on failure the file is unchanged and
// LastFileError() says which step failed. On success, *changed (when given) tells
// whether the file's bytes changed: a key that already held value is not written.
int WriteExistingProfileString(const char* section, const char* key, const char* value,
                               const char* fileName, bool* changed = nullptr);

// One key and the value to put into it.
struct ProfileEntry {
    const char* key;
    std::string value;
};

// Puts each value into its key of section in one replace of an existing file: all of them
// reach the file, or none does. Otherwise as WriteExistingProfileString, *changed telling
// whether any byte changed.
int WriteExistingProfileStrings(const char* section, std::span<const ProfileEntry> entries, const char* fileName,
                                bool* changed = nullptr);
