#pragma once

#include "platform/drive/drive.h"
#include "platform/drive/image/imagelock.h"
#include "platform/drive/image/mtools.h"
#include "platform/drive/image/qemuexport.h"
#include "platform/drive/image/rootdirectory.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// A drive that is the FAT file system inside a disk image or block device. Every look
// and change inside the file system goes through mtools (mtools.h); nothing here reads FAT.
//
// Only regular files of the root directory count (hidden, system and read-only ones too),
// never directories or volume labels, nor files whose cluster chain loops or is shared
// (rootdirectory.h). A file whose size disagrees with its cluster chain exists but cannot
// be read, and so is never replaced.
//
// Writes hold ImageLock's write lock from the read to the end, so an emulator that holds
// the image is refused and one started meanwhile refuses it, and other Varnello processes
// wait their turn. Under a lock, mtools opens the locked descriptor, not the name, so an
// image traded under its name in the meantime is never written; every lock fails once
// the name leads to another file than the one opened, or its size changed (ImageReplaced),
// or once an export's daemon has ended (ImageTool). Replacing goes through a complete copy
// that the next lookup finishes should we be killed (recovery.h).
class ImageDrive : public Drive {
public:
    // Opens the FAT file system in the regular file or block device at path. partition 0
    // chooses (see FindFatArea); 1 to 4 name a primary partition. The file system must lie
    // within its partition. Images in QEMU's other formats are exported as raw disks while
    // the object lives (see QemuExport), unless they keep data in other files.
    // nullptr on failure: OpenImage, ImageNotUnderstood, ImageTool, ImageInUse or
    // ImageRefused.
    static std::unique_ptr<ImageDrive> Open(const std::string& path, int partition = 0);

    bool exists(std::string_view name) override;
    std::string whyMissing(std::string_view name) override;
    bool inUse() const override;
    std::optional<std::string> read(std::string_view name) override;
    bool replace(std::string_view name, const FileChange& change) override;
    // Takes the very lock a write takes, so it fails as the write would; changes nothing
    // but what a killed write left.
    bool checkReplaceable(std::string_view name) override;
    bool setAttributes(std::string_view name, uint32_t attributes) override;

private:
    // What the drive was opened on: the user's image file (or device) and the disk's size.
    struct Origin {
        dev_t device = 0;
        ino_t inode = 0;
        uint64_t diskSize = 0;
        bool operator==(const Origin&) const = default;
    };

    ImageDrive(std::string path, std::unique_ptr<QemuExport> qemuExport, std::string toolPath, uint64_t offset,
               Origin origin);

    bool checkFileSystem(uint64_t areaOffset, uint64_t areaSize);
    std::optional<ImageLock> takeLock(ImageLock::Mode mode);
    Origin originNow(int lockFd) const;
    const RootEntry* lookUp(std::string_view name, std::optional<ImageLock>& lock);
    const RootEntry* lookUpForWriting(std::string_view name, std::optional<ImageLock>& lock);

    std::string path_;  // the user's image
    std::unique_ptr<QemuExport> export_;
    std::string toolPath_;  // what a lock opens: the image, or the export's raw disk
    Origin origin_;
    MtoolsImage tools_;
    RootDirectory root_;
};
