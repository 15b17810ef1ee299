// Where the FAT file system of an image is looked for, from its first and last sectors.

#include "platform/drive/image/imagelayout.h"

#include <gtest/gtest.h>
#include <string>

namespace {

struct PartitionEntry {
    uint8_t flag;
    uint8_t type;
    uint32_t start;  // sectors
    uint32_t count;
};

void PutLittleEndian(std::string& bytes, size_t at, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i)
        bytes[at + i] = char(value >> (8 * i));
}

std::string Mbr(std::initializer_list<PartitionEntry> entries)
{
    std::string sector(SectorSize, '\0');
    size_t at = 446;
    for (const PartitionEntry& entry : entries) {
        sector[at] = char(entry.flag);
        sector[at + 4] = char(entry.type);
        PutLittleEndian(sector, at + 8, entry.start);
        PutLittleEndian(sector, at + 12, entry.count);
        at += 16;
    }
    sector[510] = '\x55';
    sector[511] = '\xAA';
    return sector;
}

constexpr uint64_t Disk = 100 * SectorSize * 1000;  // 100,000 sectors

}  // namespace

TEST(ImageLayout, TheFatPartitionFollowsTheRules)
{
    std::string bootCode = Mbr({});
    bootCode[446] = 'T';  // a FAT boot sector's code where a table would be
    const std::optional<FatArea> none;
    auto sectors = [](uint64_t start, uint64_t count) { return FatArea{start * SectorSize, count * SectorSize}; };
    const FatArea wholeDisk{0, Disk};
    const struct {
        const char* what;
        std::string sector0;
        int partition;
        std::optional<FatArea> area;
    } cases[] = {
        {"floppy: no table", std::string(SectorSize, 'x'), 0, wholeDisk},
        {"boot code is no table", bootCode, 0, wholeDisk},
        {"no FAT partition", Mbr({{0x80, 0x83, 63, 1000}}), 0, wholeDisk},
        {"active FAT16 second", Mbr({{0, 0x06, 63, 1000}, {0x80, 0x06, 2048, 5000}}), 0, sectors(2048, 5000)},
        {"no active: first FAT", Mbr({{0, 0x07, 63, 1000}, {0, 0x0C, 2048, 5000}, {0, 0x0E, 9000, 10}}), 0,
         sectors(2048, 5000)},
        {"active NTFS is passed over", Mbr({{0x80, 0x07, 63, 1000}, {0, 0x0B, 2048, 5000}}), 0, sectors(2048, 5000)},
        {"FAT12 counts", Mbr({{0, 0x83, 63, 10}, {0x80, 0x01, 100, 10}}), 0, sectors(100, 10)},
        {"FAT16 LBA counts", Mbr({{0, 0x0E, 100, 10}}), 0, sectors(100, 10)},
        {"beyond the disk", Mbr({{0x80, 0x06, 99990, 20}}), 0, none},
        {"starting past the end", Mbr({{0x80, 0x0C, 4000000, 20}}), 0, none},
        {"named partition, any type", Mbr({{0x80, 0x06, 63, 10}, {0, 0x83, 200, 10}}), 2, sectors(200, 10)},
        {"named partition is empty", Mbr({{0x80, 0x06, 63, 10}}), 3, none},
        {"named partition beyond the disk", Mbr({{0, 0x06, 99999, 10}}), 1, none},
        {"named partition without a table", std::string(SectorSize, 'x'), 1, none},
        {"short first sector", "\x55\xAA", 0, wholeDisk},
        {"overlaps the next", Mbr({{0x80, 0x06, 63, 3000}, {0, 0x83, 2048, 5000}}), 0, none},
        {"overlapped by an earlier one", Mbr({{0, 0x83, 63, 3000}, {0x80, 0x0C, 2048, 5000}}), 0, none},
        {"touching is no overlap", Mbr({{0x80, 0x06, 63, 1985}, {0, 0x83, 2048, 5000}}), 0, sectors(63, 1985)},
        {"an empty entry overlaps nothing", Mbr({{0x80, 0x06, 63, 3000}, {0, 0x00, 2048, 5000}}), 0, sectors(63, 3000)},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_EQ(FindFatArea(c.sector0, Disk, c.partition, why), c.area) << c.what;
        EXPECT_EQ(why.empty(), c.area.has_value()) << c.what << ": " << why;
    }
}

TEST(ImageLayout, ContainerFormatsAndTheFixedVhdFooter)
{
    std::string vdi(512, '\0');
    vdi.replace(0x40, 4, "\x7F\x10\xDA\xBE");
    std::string footer = "conectix" + std::string(504, '\0');
    const struct {
        std::string head;
        std::string_view driver;
    } heads[] = {
        {std::string("QFI\xFB\0\0\0\x03", 8), "qcow2"}, {std::string("QFI\xFB\0\0\0\x01", 8), "qcow"},
        {vdi, "vdi"}, {"KDMV", "vmdk"}, {"# Disk DescriptorFile\n", "vmdk"}, {"vhdxfile", "vhdx"},
        {footer, "vpc"}, {Mbr({{0x80, 0x06, 63, 10}}), ""}, {"", ""},
    };
    for (const auto& h : heads)
        EXPECT_EQ(QemuDriverFor(h.head), h.driver) << h.head.substr(0, 8);


    std::string fixed = footer;
    fixed[63] = 2;
    std::string dynamic = footer;
    dynamic[63] = 3;
    EXPECT_EQ(RawDiskSize(fixed, 1024 * 1024 + 512), 1024u * 1024);
    EXPECT_EQ(RawDiskSize(dynamic, 1024 * 1024 + 512), 1024u * 1024 + 512);
    EXPECT_EQ(RawDiskSize(std::string(512, 'x'), 4096), 4096u);
}
