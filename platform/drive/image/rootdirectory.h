#pragma once

#include "platform/drive/image/mtools.h"
#include "platform/drive/image/mtoolsformat.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// The root directory of an image drive's FAT file system, with what was read of its files,
// cached for as long as the image is unchanged (same device, inode, size and modification
// time), so that repeated lookups and reads cost one mtools run, not one each. Every call
// runs under a lock on the image whose descriptor is lockFd.
//
// Names are plain 8.3 names matched without regard to case as on FAT, never by a long
// name. mtools acts on every entry whose 8.3 or long name matches the name it is given,
// so a file is usable only while no other entry answers to its name.
class RootDirectory {
public:
    // identityPath: the file whose identity keys the cache (an export's image, whose raw
    // disk shows no changes), or "" for the locked file itself.
    RootDirectory(const MtoolsImage& tools, std::string identityPath)
        : tools_(tools), identityPath_(std::move(identityPath)) {}

    void setClusterBytes(uint64_t bytes) { clusterBytes_ = bytes; }

    // Reads the entries anew unless the cache is still good (always when force).
    bool refresh(int lockFd, bool force);
    const RootEntry* find(std::string_view name) const;
    // The entry of a regular, sound file that only name reaches; nullptr, with the failure
    // recorded (Inspect: ENOENT, EISDIR, EIO; EEXIST when another entry answers too).
    const RootEntry* usable(std::string_view name, int lockFd);
    // True when a tool run on name reaches just expected entries, as mtools matches names;
    // otherwise records the failure of step.
    bool reaches(const std::string& name, size_t expected, FileStep step, int lockFd);
    // The file's bytes; a size that disagrees with its clusters is a Read failure.
    std::optional<std::string> contents(const RootEntry& entry, int lockFd);
    std::optional<uint32_t> attributes(const std::string& shortName, int lockFd);
    bool setAttributes(const std::string& shortName, uint32_t attributes, int lockFd);

    // Takes the entries out while a change is under way: a failure leaves nothing cached.
    std::vector<RootEntry> release();
    // Puts entries back after a replace of shortName with bytes and attributes succeeded.
    void replaced(std::vector<RootEntry> entries, const std::string& shortName, std::string bytes,
                  uint32_t attributes, int lockFd);

private:
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        int64_t modified = 0;  // nanoseconds
        bool operator==(const Identity&) const = default;
    };
    Identity identity(int lockFd) const;

    const MtoolsImage& tools_;
    std::string identityPath_;
    uint64_t clusterBytes_ = 0;

    Identity cachedFor_;
    std::optional<std::vector<RootEntry>> entries_;
    std::map<std::string, size_t> reached_;  // entries a tool run reaches, by upper-case name
    std::map<std::string, std::string> contents_;  // by 8.3 name
    std::map<std::string, uint32_t> attributes_;
};
