#include "platform/drive/image/imagelayout.h"

#include <optional>
#include <string>
#include <vector>

namespace {

constexpr size_t tableStart = 446;
constexpr size_t entrySize = 16;
constexpr uint8_t fatTypes[] = {0x01, 0x04, 0x06, 0x0B, 0x0C, 0x0E};

uint32_t LittleEndian32(std::string_view bytes, size_t at)
{
    uint32_t value = 0;
    for (size_t i = 4; i-- > 0;)
        value = value << 8 | uint8_t(bytes[at + i]);
    return value;
}

uint32_t BigEndian32(std::string_view bytes, size_t at)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value = value << 8 | uint8_t(bytes[at + i]);
    return value;
}

struct Partition {
    bool active;
    uint8_t type;
    uint64_t offset;
    uint64_t size;
};

// The four primary entries of sector0's MBR, or nullopt when it has no valid table: no
// boot signature, or a boot flag other than 0x00 and 0x80 (a FAT boot sector's code).
std::optional<std::vector<Partition>> PrimaryPartitions(std::string_view sector0)
{
    if (sector0.size() < SectorSize || sector0[510] != '\x55' || sector0[511] != '\xAA')
        return std::nullopt;
    std::vector<Partition> partitions;
    for (size_t i = 0; i < 4; ++i) {
        size_t entry = tableStart + i * entrySize;
        uint8_t flag = uint8_t(sector0[entry]);
        if (flag != 0x00 && flag != 0x80)
            return std::nullopt;
        partitions.push_back({flag == 0x80, uint8_t(sector0[entry + 4]),
                              uint64_t(LittleEndian32(sector0, entry + 8)) * SectorSize,
                              uint64_t(LittleEndian32(sector0, entry + 12)) * SectorSize});
    }
    return partitions;
}

bool IsFat(const Partition& partition)
{
    for (uint8_t type : fatTypes) {
        if (partition.type == type)
            return true;
    }
    return false;
}

bool InUse(const Partition& partition)
{
    return partition.type != 0 && partition.size > 0;
}

bool Overlap(const Partition& a, const Partition& b)
{
    return a.offset < b.offset + b.size && b.offset < a.offset + a.size;
}

}  // namespace

std::string_view QemuDriverFor(std::string_view head)
{
    if (head.starts_with("QFI\xFB") && head.size() >= 8)
        return BigEndian32(head, 4) == 1 ? "qcow" : "qcow2";
    if (head.size() >= 0x44 && LittleEndian32(head, 0x40) == 0xBEDA107F)
        return "vdi";
    if (head.starts_with("KDMV") || head.starts_with("# Disk DescriptorFile"))
        return "vmdk";
    if (head.starts_with("vhdxfile"))
        return "vhdx";
    if (head.starts_with("conectix"))  // a dynamic VHD starts with a copy of its footer
        return "vpc";
    return "";
}

bool KeepsDataInOtherFiles(std::string_view head)
{
    // qcow2 version 3 and later: incompatible feature bit 2, in the last byte of the
    // big-endian field at 72.
    constexpr uint8_t externalDataFile = 0x04;
    if (QemuDriverFor(head) == "qcow2")
        return head.size() >= 80 && BigEndian32(head, 4) >= 3 && (uint8_t(head[79]) & externalDataFile) != 0;
    return head.starts_with("# Disk DescriptorFile");
}

uint64_t RawDiskSize(std::string_view tail, uint64_t fileSize)
{
    constexpr uint32_t fixedDisk = 2;
    if (fileSize > SectorSize && tail.size() >= 64 && tail.starts_with("conectix") && BigEndian32(tail, 60) == fixedDisk)
        return fileSize - SectorSize;
    return fileSize;
}

std::optional<FatArea> FindFatArea(std::string_view sector0, uint64_t diskSize, int partition, std::string& why)
{
    std::optional<std::vector<Partition>> table = PrimaryPartitions(sector0);
    const Partition* chosen = nullptr;
    if (partition != 0) {
        if (!table || partition < 1 || partition > 4) {
            why = "the image has no partition " + std::to_string(partition);
            return std::nullopt;
        }
        chosen = &(*table)[size_t(partition - 1)];
    } else if (table) {
        for (const Partition& entry : *table) {
            if (IsFat(entry) && (!chosen || (entry.active && !chosen->active)))
                chosen = &entry;
        }
    }
    if (!chosen)
        return FatArea{0, diskSize};
    const size_t number = size_t(chosen - table->data()) + 1;
    if (!InUse(*chosen) || chosen->offset == 0 || chosen->offset + chosen->size > diskSize) {
        why = "partition " + std::to_string(number) + " is empty or reaches beyond the end of the image";
        return std::nullopt;
    }
    for (const Partition& other : *table) {
        if (&other != chosen && InUse(other) && Overlap(*chosen, other)) {
            why = "partition " + std::to_string(number) + " overlaps partition "
                  + std::to_string(size_t(&other - table->data()) + 1) + " (the partition table is damaged)";
            return std::nullopt;
        }
    }
    return FatArea{chosen->offset, chosen->size};
}
