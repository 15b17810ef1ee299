#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Where a disk image keeps its FAT file system, worked out from the image's first and
// last sectors only: its container format, a fixed VHD's footer, the MBR partition table.
// Nothing inside the file system is read here; mtools does that.

inline constexpr uint64_t SectorSize = 512;

// The QEMU block driver for an image that is not a raw disk (qcow2, vdi, vmdk, vpc for a
// dynamic VHD, vhdx), or "" for a raw disk. head is the image's first sector.
std::string_view QemuDriverFor(std::string_view head);

// How many bytes of a raw image of fileSize bytes are disk: all of them, or all but the
// 512-byte footer of a fixed-size VHD. tail is the image's last sector.
uint64_t RawDiskSize(std::string_view tail, uint64_t fileSize);

// True when a write through QEMU's driver could reach files other than the image: a
// qcow2 with an external data file, or a VMDK descriptor, whose extents are other files.
// head is the image's first sector.
bool KeepsDataInOtherFiles(std::string_view head);

// Where the FAT file system may lie in a raw disk: from offset, size bytes (bytes).
struct FatArea {
    uint64_t offset;
    uint64_t size;
    bool operator==(const FatArea&) const = default;
};

// The FAT area of a raw disk of diskSize bytes whose first sector is sector0. partition 0
// chooses: the active primary FAT partition (FAT12, FAT16, FAT32, LBA or not), else the
// first primary FAT partition, else, when the table has no FAT partition at all, the whole
// disk (a floppy or superfloppy). 1 to 4 name a primary partition of any type. nullopt,
// with why set, when the partition chosen or named is empty, reaches beyond the end of the
// disk or overlaps another partition.
std::optional<FatArea> FindFatArea(std::string_view sector0, uint64_t diskSize, int partition, std::string& why);
