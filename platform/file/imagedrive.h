#pragma once

#include "platform/file/atomicfile.h"
#include "platform/file/fileerror.h"
#include "platform/file/imagelock.h"
#include "platform/file/qemuexport.h"
#include "platform/file/toolrun.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// A drive that is the FAT file system inside a disk image or block device. Every look
// and change inside the file system goes through mtools; nothing here reads FAT.
//
// Names are plain 8.3 names in the root directory, matched without regard to case as on
// FAT, never by a long name; only regular files count (hidden, system and read-only ones
// too), never directories or volume labels, nor files whose cluster chain loops or is
// shared. mtools acts on every entry whose 8.3 or long name matches the name it is given,
// so a file is reached only while no other entry answers to its name. A file whose size
// disagrees with its cluster chain exists but cannot be read, and so is never rewritten.
// Every operation returns a plain result and leaves the details in LastFileError().
//
// Reads are cached for as long as the image is unchanged (same device, inode, size and
// modification time), so repeated lookups and reads cost one mtools run, not one each.
//
// Writes hold ImageLock's write lock from the read to the end, so an emulator that holds
// the image is refused and one started meanwhile refuses it, and other Varnello processes
// wait their turn. Under a lock, mtools opens the locked descriptor, not the name, so an
// image traded under its name in the meantime is never written; every lock fails once
// the name leads to another file than the one opened, or its size changed (ImageReplaced),
// or once an export's daemon has ended (ImageTool). FAT has no atomic
// rename, so rewrite() writes a complete copy under a temporary name (VRNLxxxx.TMP,
// xxxx derived from the file's name), reads it back, flushes the image, then removes the
// original and renames the copy. A process killed between those two steps leaves only
// the complete copy; the next lookup of that name renames it into place. A copy beside
// an existing original (a write killed earlier) is removed. The mtools runs themselves
// outlive us and finish; the lock they inherit makes the next lookup wait for them. The
// image is flushed before a write reports success.
class ImageDrive {
public:
    // Opens the FAT file system in the regular file or block device at path. partition 0
    // chooses (see FindFatArea); 1 to 4 name a primary partition. The file system must lie
    // within its partition. Images in QEMU's other formats are exported as raw disks while
    // the object lives (see QemuExport), unless they keep data in other files.
    // nullptr on failure: OpenImage, ImageNotUnderstood, ImageTool, ImageInUse or
    // ImageRefused.
    static std::unique_ptr<ImageDrive> Open(const std::string& path, int partition = 0);

    // True when another program, such as a running emulator, holds the image now, so a
    // save would be refused.
    bool inUse() const;

    bool exists(std::string_view name);
    std::optional<std::string> read(std::string_view name);
    // Replaces an existing file's contents with what change makes of them, keeping its
    // directory entry's name and attributes; never creates a file (Inspect, ENOENT).
    bool rewrite(std::string_view name, const FileChange& change);
    // True when rewrite() could replace the file now: it is there and the image may be
    // written (OpenImage) and is not in use (ImageInUse). Changes nothing but what a killed
    // write left.
    bool checkReplaceable(std::string_view name);
    // Read-only 0x01, hidden 0x02, system 0x04, archive 0x20; INVALID_FILE_ATTRIBUTES
    // (0xFFFFFFFF) on failure.
    uint32_t attributes(std::string_view name);
    // Sets exactly this set of those four; other bits are ignored.
    bool setAttributes(std::string_view name, uint32_t attributes);

private:
    struct Entry {
        std::string shortName;  // the 8.3 name as mdir shows it: what every tool run names
        std::string longName;   // "" when it has none
        uint64_t size = 0;      // as its directory entry says
        bool directory = false;
        bool sound = false;          // its cluster chain neither loops nor is shared
        bool sizeFitsChain = false;  // its chain has just the clusters its size needs
    };
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        int64_t modified = 0;  // nanoseconds
        bool operator==(const Identity&) const = default;
    };
    // What the drive was opened on: the user's image file (or device) and the disk's size.
    struct Origin {
        dev_t device = 0;
        ino_t inode = 0;
        uint64_t diskSize = 0;
        bool operator==(const Origin&) const = default;
    };

    ImageDrive(std::string path, std::unique_ptr<QemuExport> qemuExport, std::string toolPath, uint64_t offset,
               Origin origin);

    std::optional<ImageLock> Lock(ImageLock::Mode mode);
    Origin OriginNow(int lockFd) const;
    ToolResult Mtools(const char* tool, std::vector<std::string> arguments, int lockFd,
                      std::string_view input = {}, size_t outputLimit = 1 << 20) const;
    Identity CurrentIdentity(int lockFd) const;
    bool Refresh(int lockFd, bool force);
    bool Reaches(const std::string& name, size_t expected, FileStep step, int lockFd);
    const Entry* Find(std::string_view name) const;
    const Entry* Usable(std::string_view name, int lockFd);
    const Entry* Lookup(std::string_view name, std::optional<ImageLock>& lock);
    bool Repair(std::string_view name);
    bool RepairLocked(std::string_view name, int lockFd);
    std::optional<std::string> ReadContents(const Entry& entry, int lockFd);  // cached
    std::optional<uint32_t> ReadAttributes(const std::string& entryName, int lockFd);  // cached
    bool WriteAttributes(const std::string& entryName, uint32_t attributes, int lockFd);

    std::string path_;  // the user's image; its identity keys the cache
    std::unique_ptr<QemuExport> export_;
    std::string toolPath_;  // what a lock opens: the image, or the export's raw disk
    uint64_t offset_;  // of the FAT file system in it
    Origin origin_;
    uint64_t clusterBytes_ = 0;

    Identity cachedFor_;
    std::optional<std::vector<Entry>> entries_;
    std::map<std::string, size_t> reached_;  // entries a tool run reaches, by upper-case name
    std::map<std::string, std::string> contents_;  // by 8.3 name
    std::map<std::string, uint32_t> attributes_;
};

// A file on an image drive: the drive, nullptr when its image cannot be opened (then
// LastFileError() says why, the same every time), and the file's name in it.
struct ImageFile {
    ImageDrive* drive;
    std::string_view name;
};

// Where dosPath ("X:\name") lies when drive X maps (DriveMapping in drives.h) to a regular
// file or a block device; nullopt for any other drive. The drive is opened on first use
// and kept for the process; its partition comes from the environment variable
// VARNELLO_PARTITION_X (1 to 4; unset or empty chooses).
std::optional<ImageFile> ImageFileFor(std::string_view dosPath);

// Closes every image drive opened so far, stopping their exports, so that another program
// (varnello, started in this process's place) finds the images free at once.
void CloseImageDrives();
