#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The attribute set of a file, as Win32 numbers it.
inline constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
inline constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x04;
inline constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr uint32_t INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
inline constexpr uint32_t KnownFileAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN
                                                | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// Gives the new contents for the current ones; false (with LastFileError() set) refuses.
using FileChange = std::function<bool(std::string_view current, std::string& updated)>;

// What a drive letter leads to: a host directory (drive/directory) or the FAT file system
// in a disk image (drive/image). name is always a plain name in the drive's root, as
// ParseDosPath gives it. Every operation returns a plain result and leaves the details in
// LastFileError().
class Drive {
public:
    virtual ~Drive() = default;

    // True for an existing regular file; never blocks.
    virtual bool exists(std::string_view name) = 0;
    // Why the file is not found, where that is more than its absence (as Describe words
    // it); "" when it exists or is merely missing.
    virtual std::string whyMissing(std::string_view name) = 0;
    // True when another program holds the drive now, so that a write would be refused.
    virtual bool inUse() const = 0;
    // The whole file.
    virtual std::optional<std::string> read(std::string_view name) = 0;
    // Replaces an existing file's contents with what change makes of them, so that it holds
    // its old or its new contents whatever happens; never creates a file (Inspect, ENOENT).
    virtual bool replace(std::string_view name, const FileChange& change) = 0;
    // True when replace() could replace the file now; changes nothing a user would see.
    virtual bool checkReplaceable(std::string_view name) = 0;
    // Sets exactly this set of the four KnownFileAttributes; other bits are ignored.
    virtual bool setAttributes(std::string_view name, uint32_t attributes) = 0;
};
