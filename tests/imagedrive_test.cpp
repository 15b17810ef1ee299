// Image drives on images built by the real tools (mkfs.fat, sfdisk, mtools, qemu-img),
// reached through the file layer's operations on a drive letter as the program reaches
// them, and checked by the tools alone: mtype, mattrib, mdir and fsck.fat -n.

#include "options/saving.h"
#include "platform/file/atomicfile.h"
#include "platform/file/fileerror.h"
#include "platform/file/files.h"
#include "platform/file/imagedrive.h"
#include "platform/file/imagelock.h"
#include "platform/file/inifile.h"
#include "platform/file/profile.h"
#include "safetykit.h"
#include "scopedenv.h"
#include "tempdrive.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Runs a command line of the test's own, quietly; true on exit status 0.
bool Sh(const std::string& command)
{
    return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

// A command line's standard output.
std::string Out(const std::string& command)
{
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        while (size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
            text.append(buffer, got);
        pclose(pipe);
    }
    return text;
}

std::string Bytes(const std::string& path)
{
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

void Write(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Pattern(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = char(random());
    return bytes;
}

std::string LittleEndian(uint32_t value, size_t bytes)
{
    std::string text;
    for (size_t i = 0; i < bytes; ++i)
        text += char(value >> (8 * i));
    return text;
}

// Writes bytes into the file at path, offset bytes after the first place where marker is
// (after its start, for an empty marker).
void Poke(const std::string& path, std::string_view marker, size_t offset, std::string_view bytes)
{
    const size_t at = Bytes(path).find(marker);
    ASSERT_NE(at, std::string::npos);
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(std::streamoff(at + offset));
    file.write(bytes.data(), std::streamsize(bytes.size()));
}

const std::string Win95Msdos = [] {
    std::string text = "[Paths]\r\nWinDir=C:\\WINDOWS\r\nWinBootDir=C:\\WINDOWS\r\nHostWinBootDrv=C\r\n\r\n"
                       "[Options]\r\nBootMulti=1\r\nBootGUI=1\r\nDoubleBuffer=1\r\nLogo=1\r\n;\r\n";
    for (char c = 'a'; c <= 's'; ++c)
        text += ";" + std::string(68, c) + "\r\n";
    return text;
}();

// Win95Msdos with one value changed and a key added: another length, the same lines.
const std::string Edited = [] {
    std::string text = Win95Msdos;
    text.replace(text.find("BootGUI=1"), 9, "BootGUI=0");
    text.insert(text.find("Logo=1\r\n") + 8, "BootDelay=0\r\n");
    return text;
}();

// The fifteen keys in the order a save writes them, with the Windows 95 defaults.
const std::pair<const char*, const char*> Save[] = {
    {"BootMenu", "0"}, {"BootMulti", "0"},  {"BootKeys", "1"},        {"BootGUI", "1"},        {"BootWin", "1"},
    {"LoadTop", "1"},  {"Logo", "1"},       {"BootWarn", "1"},        {"BootDelay", "2"},      {"BootMenuDefault", "1"},
    {"BootMenuDelay", "30"}, {"DRVSpace", "1"}, {"DBLSpace", "1"}, {"Network", "0"},      {"DoubleBuffer", "0"},
};

// What a save does to msdos.sys at path: the attributes cleared, the fifteen keys written
// one profile write each, the attributes set to read-only, hidden and system.
bool SaveKeys(const std::string& path)
{
    bool saved = CheckReplaceable(path) && SetFileAttributesA(path.c_str(), 0);
    for (const auto& [key, value] : Save)
        saved = saved && WriteExistingProfileString("Options", key, value, path.c_str());
    return SetFileAttributesA(path.c_str(), 0x07) && saved;
}

// bytes after SaveKeys, by the INI rules alone.
std::string Saved(std::string bytes)
{
    for (const auto& [key, value] : Save)
        bytes = WithProfileValue(bytes, "Options", key, value);
    return bytes;
}

// Puts bytes in place of the file's contents.
bool Replace(ImageDrive& drive, const std::string& bytes)
{
    return drive.rewrite("msdos.sys", [&](std::string_view, std::string& updated) {
        updated = bytes;
        return true;
    });
}

// Windows 95's root files in the file system at target ("image@@offset").
void Fill(const std::string& dir, const std::string& target)
{
    Write(dir + "/msdos.in", Win95Msdos);
    Write(dir + "/io.in", Pattern(40000, 1));
    Write(dir + "/command.in", Pattern(20000, 2));
    const std::string i = " -i " + target + " ";
    ASSERT_TRUE(Sh("mcopy" + i + dir + "/io.in ::/IO.SYS && mcopy" + i + dir + "/msdos.in ::/MSDOS.SYS && mcopy" + i
                   + dir + "/command.in ::/COMMAND.COM && mattrib" + i + "-a +r +h +s ::/IO.SYS ::/MSDOS.SYS"));
}

std::string Floppy(const std::string& dir)
{
    const std::string image = dir + "/floppy.img";
    EXPECT_TRUE(Sh("mkfs.fat -C " + image + " 1440"));
    Fill(dir, image + "@@0");
    return image;
}

constexpr uint64_t SecondPartition = 34816 * 512;

// Two FAT16 partitions, the second active; the first holds a decoy msdos.sys.
std::string TwoPartitions(const std::string& dir)
{
    const std::string image = dir + "/disk.img";
    EXPECT_TRUE(Sh("truncate -s 40M " + image + " && printf 'label: dos\\nstart=2048, size=32768, type=6\\n"
                   "start=34816, type=6, bootable\\n' | sfdisk -q " + image + " && mkfs.fat -F 16 --offset 2048 "
                   + image + " 16384 && mkfs.fat -F 16 --offset 34816 " + image + " 23552"));
    Write(dir + "/decoy.in", "[Options]\r\nDecoy=1\r\n");
    EXPECT_TRUE(Sh("mcopy -i " + image + "@@" + std::to_string(2048 * 512) + " " + dir + "/decoy.in ::/MSDOS.SYS"));
    Fill(dir, image + "@@" + std::to_string(SecondPartition));
    return image;
}

std::string Fat32Lba(const std::string& dir)
{
    const std::string image = dir + "/fat32.img";
    EXPECT_TRUE(Sh("truncate -s 48M " + image + " && printf 'start=2048, type=c, bootable\\n' | sfdisk -q " + image
                   + " && mkfs.fat -F 32 -s 1 --offset 2048 " + image + " 48128"));
    Fill(dir, image + "@@" + std::to_string(2048 * 512));
    return image;
}

std::string FixedVhd(const std::string& dir)
{
    const std::string image = dir + "/fixed.vhd";
    EXPECT_TRUE(Sh("qemu-img convert -f raw -O vpc -o subformat=fixed " + Floppy(dir) + " " + image));
    return image;
}

std::string Qcow2(const std::string& dir)
{
    const std::string image = dir + "/disk.qcow2";
    EXPECT_TRUE(Sh("qemu-img convert -f raw -O qcow2 " + TwoPartitions(dir) + " " + image));
    return image;
}

// A qcow2 that keeps its changes over a raw floppy, its backing file.
std::string Qcow2OverFloppy(const std::string& dir)
{
    const std::string image = dir + "/overlay.qcow2";
    EXPECT_TRUE(Sh("qemu-img create -f qcow2 -F raw -b " + Floppy(dir) + " " + image));
    return image;
}

bool FuseUsable()
{
    return access("/dev/fuse", R_OK | W_OK) == 0 && Sh("command -v qemu-storage-daemon");
}

// The file system at offset of a raw image passes fsck.fat -n.
bool FsckClean(const std::string& raw, uint64_t offset)
{
    return Sh("dd if=" + raw + " of=" + raw + ".fs bs=512 conv=sparse skip=" + std::to_string(offset / 512)
              + " && fsck.fat -n " + raw + ".fs");
}

struct Layout {
    const char* name;
    std::string (*build)(const std::string& dir);
    uint64_t offset;
    bool exported;  // through qemu-storage-daemon
    const char* backing = nullptr;  // a file of dir that is only ever read
};

const Layout Layouts[] = {
    {"Fat12Floppy", Floppy, 0, false},
    {"Fat16SecondPartitionActive", TwoPartitions, SecondPartition, false},
    {"Fat32Lba", Fat32Lba, 2048 * 512, false},
    {"FixedVhd", FixedVhd, 0, false},
    {"Qcow2", Qcow2, SecondPartition, true},
    {"Qcow2OverABackingFile", Qcow2OverFloppy, 0, true, "floppy.img"},
};

class ImageRoundTrip : public testing::TestWithParam<Layout> {};

}  // namespace

TEST_P(ImageRoundTrip, ContentsAndAttributesRoundTripAndEveryOtherByteStays)
{
    const Layout& layout = GetParam();
    if (layout.exported && !FuseUsable())
        GTEST_SKIP() << "FUSE cannot be used here (/dev/fuse not accessible or qemu-storage-daemon missing)";
    TempDrive scratch('I');
    const std::string image = layout.build(scratch.dir());
    const std::string backing = layout.backing ? Bytes(scratch.hostPath(layout.backing)) : "";
    ScopedEnv mapped("VARNELLO_DRIVE_C", image);
    for (const char* name : {"msdos.sys", "MSDOS.SYS", "MsDos.Sys", "io.sys", "Command.com"})
        EXPECT_TRUE(FileExists((std::string("C:\\") + name).c_str())) << name;
    for (const char* name : {"io.dos", "msdos.dos", "command.dos"})
        EXPECT_FALSE(FileExists((std::string("C:\\") + name).c_str())) << name;
    EXPECT_FALSE(DriveInUseByAnotherProgram("C:\\msdos.sys"));
    EXPECT_EQ(GetPrivateProfileIntA("Options", "BootMulti", 0, "C:\\msdos.sys"), 1u);
    EXPECT_EQ(GetPrivateProfileIntA("Options", "BootMenuDelay", 30, "C:\\msdos.sys"), 30u);
    EXPECT_EQ(GetFileAttributesA("C:\\msdos.sys"), 0x07u);
    ASSERT_TRUE(SaveKeys("C:\\msdos.sys")) << Describe(LastFileError());
    EXPECT_EQ(GetPrivateProfileIntA("Options", "BootMulti", 1, "C:\\msdos.sys"), 0u);

    // The export is still up, and holds the image locked: read it as another reader may.
    const std::string raw = layout.exported ? image + ".raw" : image;
    if (layout.exported) {
        ASSERT_TRUE(Sh("qemu-img convert -U -O raw " + image + " " + raw));
    }
    const std::string i = " -i " + raw + "@@" + std::to_string(layout.offset) + " ";
    EXPECT_TRUE(FsckClean(raw, layout.offset));
    EXPECT_EQ(Out("mtype" + i + "::/MSDOS.SYS"), Saved(Win95Msdos));
    EXPECT_EQ(Out("mtype" + i + "::/IO.SYS"), Pattern(40000, 1));
    EXPECT_EQ(Out("mtype" + i + "::/COMMAND.COM"), Pattern(20000, 2));
    EXPECT_EQ(Out("mattrib" + i + "::/MSDOS.SYS"), "     SHR     ::/MSDOS.SYS\n");
    EXPECT_EQ(Out("mdir -a -b" + i + "::/MSDOS.SYS"), "::/MSDOS.SYS\n");  // upper case, no long name added
    EXPECT_EQ(Out("mdir -a -b" + i + "::/ | sort"), "::/COMMAND.COM\n::/IO.SYS\n::/MSDOS.SYS\n");
    if (layout.backing) {
        EXPECT_TRUE(Bytes(scratch.hostPath(layout.backing)) == backing) << "the backing file was written";
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ImageRoundTrip, testing::ValuesIn(Layouts),
                         [](const testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

TEST(ImageDrive, PartitionVariableChoosesAPrimaryPartition)
{
    TempDrive scratch('I');
    const std::string image = TwoPartitions(scratch.dir());
    const struct {
        char letter;
        const char* partition;
        int decoy;  // Decoy in the msdos.sys found; -1: the drive does not open
    } cases[] = {{'P', "", 0}, {'Q', "1", 1}, {'R', "2", 0}, {'S', "3", -1}, {'T', "5", -1}, {'U', "x", -1}};
    for (const auto& c : cases) {
        ScopedEnv mapped(std::string("VARNELLO_DRIVE_") + c.letter, image);
        ScopedEnv partition(std::string("VARNELLO_PARTITION_") + c.letter, c.partition);
        const std::string path = std::string(1, c.letter) + ":\\msdos.sys";
        ASSERT_EQ(FileExists(path.c_str()), c.decoy >= 0) << c.partition;
        if (c.decoy >= 0)
            EXPECT_EQ(GetPrivateProfileIntA("Options", "Decoy", 0, path.c_str()), uint32_t(c.decoy)) << c.partition;
        else
            EXPECT_NE(WhyFileNotFound(path.c_str()).find("No usable FAT file system"), std::string::npos)
                << c.partition;
        const ImageDrive* drive = ImageFileFor(path)->drive;
        EXPECT_EQ(ImageFileFor(path)->drive, drive) << "opened once per letter";
    }
    ScopedEnv directory("VARNELLO_DRIVE_D", scratch.dir());
    EXPECT_FALSE(ImageFileFor("D:\\msdos.sys")) << "a directory is a directory drive";
}

TEST(ImageDrive, AttributeSetsAreStoredExactly)
{
    TempDrive scratch('I');
    const std::string image = Floppy(scratch.dir());
    std::unique_ptr<ImageDrive> drive = ImageDrive::Open(image);
    ASSERT_TRUE(drive);
    const struct {
        uint32_t set;
        const char* shown;  // by mattrib
    } cases[] = {{0x00, "            "}, {0x01, "       R    "}, {0x06, "     SH     "},
                 {0x27, "  A  SHR    "}, {0x20, "  A         "}, {0xFFFF, "  A  SHR    "}};
    for (const auto& c : cases) {
        ASSERT_TRUE(drive->setAttributes("msdos.sys", c.set)) << Describe(LastFileError());
        EXPECT_EQ(drive->attributes("MSDOS.SYS"), c.set & 0x27);
        EXPECT_EQ(Out("mattrib -i " + image + " ::/MSDOS.SYS"), std::string(c.shown) + " ::/MSDOS.SYS\n");
        ASSERT_TRUE(Replace(*drive, Edited));
        EXPECT_EQ(ImageDrive::Open(image)->attributes("msdos.sys"), c.set & 0x27) << "kept by a replace";
    }
}

TEST(ImageDrive, OnlyRegularFilesAreFoundInAnyCaseAndWithAnyAttributes)
{
    TempDrive scratch('I');
    const std::string image = scratch.hostPath("dos.img");
    const std::string i = " -i " + image + " ";
    Write(scratch.hostPath("x"), "x");
    Write(scratch.hostPath("empty"), "");
    ASSERT_TRUE(Sh("mkfs.fat -C " + image + " 1440 && mcopy" + i + scratch.hostPath("empty") + " ::/EMPTY.SYS && mcopy"
                   + i + scratch.hostPath("x") + " ::/IO.DOS && mcopy" + i
                   + scratch.hostPath("x") + " ::/Msdos.Dos && mattrib" + i + "+r +h +s ::/IO.DOS && mmd" + i
                   + "::/COMMAND.DOS && mlabel" + i + "'::MSDOS   SYS'"));
    ScopedEnv mapped("VARNELLO_DRIVE_C", image);
    const struct {
        const char* name;
        bool found;
    } cases[] = {
        {"io.dos", true},       {"IO.DOS", true},      {"MSDOS.DOS", true},   {"Msdos.Dos", true}, {"empty.sys", true},
        {"command.dos", false},  // a directory
        {"msdos.sys", false},    // only a volume label of that name
        {"io.sys", false},      {"*.DOS", false},      {"../IO.DOS", false},  {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileExists((std::string("C:\\") + c.name).c_str()), c.found) << c.name;
    EXPECT_EQ(GetPrivateProfileIntA("Options", "Key", 5, "C:\\empty.sys"), 5u);
    EXPECT_EQ(LastFileError().step, FileStep::None);
    EXPECT_FALSE(WriteExistingProfileString("Options", "Key", "1", "C:\\command.dos"));
    EXPECT_EQ(LastFileError().code, EISDIR);
    EXPECT_FALSE(WritePrivateProfileStringA("Options", "Key", "1", "C:\\msdos.sys")) << "never creates a file";
    EXPECT_EQ(LastFileError().code, ENOENT);
    EXPECT_TRUE(WriteExistingProfileString("Options", "Key", "1", "C:\\msdos.dos")) << "keeps its long name";
    EXPECT_EQ(Out("mdir -a -b" + i + "::/ | sort"), "::/COMMAND.DOS/\n::/EMPTY.SYS\n::/IO.DOS\n::/Msdos.Dos\n");
}

TEST(ImageDrive, HostileImagesAreRefusedWithTheReasonAndStayUnchanged)
{
    TempDrive scratch('I');
    const std::string dir = scratch.dir();
    auto truncated = [](const std::string& d) {
        std::string image = Floppy(d);
        EXPECT_TRUE(Sh("truncate -s 20000 " + image));
        return image;
    };
    auto randomBytes = [](const std::string& d) {
        Write(d + "/random.img", Pattern(1474560, 7));
        return d + "/random.img";
    };
    auto partitionOutside = [](const std::string& d) {  // active FAT16 from sector 2048, 90000 sectors
        std::string image = Floppy(d);
        EXPECT_TRUE(Sh("printf '\\200\\0\\0\\0\\6\\0\\0\\0\\0\\10\\0\\0\\220\\137\\1\\0' | dd of=" + image
                       + " bs=1 seek=446 conv=notrunc"));
        return image;
    };
    // msdos.sys's two clusters point at each other.
    auto loopingFat = [](const std::string& d) {
        std::string image = d + "/loop.img";
        Write(d + "/five.in", Pattern(5000, 3));
        EXPECT_TRUE(Sh("mkfs.fat -F 16 -s 4 -C " + image + " 20000 && mcopy -i " + image + " " + d
                       + "/five.in ::/MSDOS.SYS && mshowfat -i " + image + " ::/MSDOS.SYS | grep -q '<2-4>'"));
        for (int fat = 0; fat < 2; ++fat)  // cluster 3's entry in both FATs: 4 reserved sectors, 40 per FAT
            EXPECT_TRUE(Sh("printf '\\002\\000' | dd of=" + image + " bs=1 conv=notrunc seek="
                           + std::to_string((4 + 40 * fat) * 512 + 2 * 3)));
        EXPECT_TRUE(Sh("mshowfat -i " + image + " ::/MSDOS.SYS | grep -q '<2-3> <2'"));
        return image;
    };
    auto directory = [](const std::string& d) {
        std::string image = d + "/dir.img";
        EXPECT_TRUE(Sh("mkfs.fat -C " + image + " 1440 && mmd -i " + image + " ::/MSDOS.SYS"));
        return image;
    };
    // Windows 95 reads MSDOS.SYS by its 8.3 name, but mtools reaches MSDOS~1.SYS too when
    // its long name is msdos.sys (made as Msdos.Sys-1, the tail poked away).
    auto longNameTwin = [](const std::string& d) {
        std::string image = Floppy(d);
        EXPECT_TRUE(Sh("mcopy -D a -i " + image + " " + d + "/io.in ::/Msdos.Sys"));
        Poke(image, std::string("S\0y\0s\0-\0" "1\0", 10), 6, std::string("\0\0\xFF\xFF", 4));
        return image;
    };
    auto twoShortNames = [](const std::string& d) {
        std::string image = Floppy(d);
        EXPECT_TRUE(Sh("mcopy -i " + image + " " + d + "/io.in ::/MSDOS.SYX"));
        Poke(image, "MSDOS   SYX", 10, "S");
        return image;
    };
    // Partition 1 ends at sector 65536, its file system claims 120000 sectors.
    auto beyondItsPartition = [](const std::string& d) {
        std::string image = d + "/beyond.img";
        EXPECT_TRUE(Sh("truncate -s 64M " + image + " && printf 'start=2048, size=63488, type=6, bootable\\n"
                       "start=65536, type=83\\n' | sfdisk -q " + image + " && mkfs.fat -F 16 --offset 2048 " + image
                       + " 60000"));
        Fill(d, image + "@@" + std::to_string(2048 * 512));
        return image;
    };
    auto overlapping = [](const std::string& d) {  // partition 1 grown into partition 2, the active one
        std::string image = TwoPartitions(d);
        Poke(image, "", 446 + 12, LittleEndian(40000, 4));
        return image;
    };
    auto hugeFat = [](const std::string& d) {
        std::string image = Floppy(d);
        Poke(image, "", 22, LittleEndian(3000, 2));  // sectors per FAT
        return image;
    };
    auto msdosEntry = [](size_t field, std::string bytes) {  // poked into msdos.sys's directory entry
        return [=](const std::string& d) {
            std::string image = Floppy(d);
            Poke(image, "MSDOS   SYS", field, bytes);
            return image;
        };
    };
    auto externalData = [](const std::string& d) {  // holds the floppy as its raw data
        std::string image = d + "/data.qcow2";
        EXPECT_TRUE(Sh("qemu-img create -f qcow2 -o data_file=" + d + "/data.raw,data_file_raw=on " + image
                       + " 1440K && mv " + Floppy(d) + " " + d + "/data.raw"));
        return image;
    };
    auto vmdkDescriptor = [](const std::string& d) {
        std::string image = d + "/flat.vmdk";
        EXPECT_TRUE(Sh("qemu-img create -f vmdk -o subformat=monolithicFlat " + image + " 1440K && mv " + Floppy(d)
                       + " " + d + "/flat-flat.vmdk"));
        return image;
    };
    constexpr size_t startCluster = 26;
    constexpr size_t fileSize = 28;
    const char* const twin = "another entry of the root directory answers to the name MSDOS.SYS too";
    const char* const damaged = "The file could not be read: its size in the directory (";
    const char* const otherFiles = "Varnello does not write into this kind of disk image: it keeps its data in "
                                   "other files";
    const struct {
        const char* what;
        std::function<std::string(const std::string&)> build;
        const char* reason;
        bool found = false;  // msdos.sys exists, but cannot be read
    } cases[] = {{"truncated", truncated, "beyond the end of the image"},
                 {"random bytes", randomBytes, "No usable FAT file system"},
                 {"partition outside", partitionOutside, "partition 1 is empty or reaches beyond the end of the image"},
                 {"FAT loop", loopingFat, "its clusters loop or are shared"},
                 {"msdos.sys is a directory", directory, "Is a directory"},
                 {"a long name is msdos.sys too", longNameTwin, twin},
                 {"two 8.3 names MSDOS.SYS", twoShortNames, twin},
                 {"beyond its partition", beyondItsPartition, "reaches beyond the end of its partition"},
                 {"overlapping partitions", overlapping, "partition 2 overlaps partition 1"},
                 {"FATs larger than the file system", hugeFat, "FATs and root directory are larger"},
                 {"start cluster 0 with a size", msdosEntry(startCluster, LittleEndian(0, 2)), damaged, true},
                 {"size beyond its chain", msdosEntry(fileSize, LittleEndian(9000, 4)), damaged, true},
                 {"chain beyond its size", msdosEntry(fileSize, LittleEndian(100, 4)), damaged, true},
                 {"qcow2 with an external data file", externalData, otherFiles},
                 {"VMDK descriptor", vmdkDescriptor, otherFiles}};
    char letter = 'J';  // a drive each: a drive is opened once per process
    for (const auto& c : cases) {
        const std::string image = c.build(dir);
        const std::string before = Out("md5sum " + dir + "/*");
        ScopedEnv mapped(std::string("VARNELLO_DRIVE_") + letter, image);
        const std::string path = std::string(1, letter++) + ":\\msdos.sys";
        EXPECT_EQ(FileExists(path.c_str()), c.found) << c.what;
        EXPECT_EQ(WhyFileNotFound(path.c_str()).empty(), c.found) << c.what;
        EXPECT_EQ(GetPrivateProfileIntA("Options", "BootGUI", 5, path.c_str()), 5u) << c.what;
        const std::string reason = Describe(LastFileError());
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
        EXPECT_FALSE(CheckReplaceable(path)) << c.what;
        EXPECT_FALSE(WriteExistingProfileString("Options", "BootGUI", "0", path.c_str())) << c.what;
        if (!c.found) {
            EXPECT_FALSE(SetFileAttributesA(path.c_str(), 0)) << c.what;
        }
        EXPECT_EQ(Out("md5sum " + dir + "/*"), before) << c.what;
        std::remove(image.c_str());
    }
}

TEST(ImageDrive, AFullDiskFailsTheSaveSayingSoAndKeepsTheOriginal)
{
    TempDrive scratch('I');
    const std::string image = Floppy(scratch.dir());
    const long free = std::stol(Out("mdir -i " + image + " ::/ | grep 'bytes free' | tr -dc 0-9"));
    Write(scratch.hostPath("big"), std::string(size_t(free - 512), 'b'));
    ASSERT_TRUE(Sh("mcopy -i " + image + " " + scratch.hostPath("big") + " ::/BIG.BIN"));
    std::unique_ptr<ImageDrive> drive = ImageDrive::Open(image);
    ASSERT_TRUE(drive);
    EXPECT_FALSE(Replace(*drive, Edited));
    EXPECT_EQ(Describe(LastFileError()), "The temporary file could not be written: the file system in the disk image "
                                         "is full.\r\nmcopy said: \"Disk full\"");
    EXPECT_EQ(Out("mtype -i " + image + " ::/MSDOS.SYS"), Win95Msdos);
    EXPECT_EQ(Out("mdir -a -b -i " + image + " ::/ | grep -c VRNL"), "0\n");
    EXPECT_TRUE(FsckClean(image, 0));
    EXPECT_EQ(drive->read("msdos.sys"), Win95Msdos);
}

TEST(ImageDrive, ABlockDeviceIsADriveAndRefusedWhileSomethingHoldsIt)
{
    TempDrive scratch('I');
    const std::string image = TwoPartitions(scratch.dir());
    std::string device = Out("losetup -f --show " + image + " 2>/dev/null");
    if (device.empty())
        GTEST_SKIP() << "no loop device can be set up here (needs root)";
    device.pop_back();
    {
        std::unique_ptr<ImageDrive> drive = ImageDrive::Open(device);
        ASSERT_TRUE(drive) << Describe(LastFileError());
        EXPECT_EQ(drive->read("msdos.sys"), Win95Msdos);
        // Exclusively held, as Linux holds a mounted device.
        int holder = open(device.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
        EXPECT_TRUE(drive->inUse());
        EXPECT_FALSE(Replace(*drive, Edited));
        EXPECT_EQ(LastFileError().step, FileStep::ImageInUse);
        close(holder);
        EXPECT_TRUE(Replace(*drive, Edited)) << Describe(LastFileError());
    }
    Sh("losetup -d " + device);
    EXPECT_EQ(Out("mtype -i " + image + "@@" + std::to_string(SecondPartition) + " ::/MSDOS.SYS"), Edited);
}

TEST(ImageDrive, AnOrdinaryUserWhoOwnsTheImageLoadsAndSavesIt)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to become another user";
    TempDrive scratch('I');
    ASSERT_EQ(chmod(scratch.dir().c_str(), 0755), 0);
    const std::string image = Floppy(scratch.dir());
    const std::string notOurs = scratch.hostPath("root.img");
    ASSERT_TRUE(Sh("cp " + image + " " + notOurs + " && chmod 644 " + notOurs));
    ASSERT_EQ(chown(image.c_str(), NobodyId, NobodyId), 0);
    const std::string before = Bytes(notOurs);
    ScopedEnv own("VARNELLO_DRIVE_C", image);
    ScopedEnv other("VARNELLO_DRIVE_D", notOurs);

    ChildResult result = RunInChild([&] {
        if (setgroups(0, nullptr) != 0 || setresgid(NobodyId, NobodyId, NobodyId) != 0
            || setresuid(NobodyId, NobodyId, NobodyId) != 0)
            return false;
        return FileExists("C:\\msdos.sys") && SaveKeys("C:\\msdos.sys")
               && GetPrivateProfileIntA("Options", "BootMulti", 0, "D:\\msdos.sys") == 1
               && !CheckReplaceable("D:\\msdos.sys") && LastFileError().step == FileStep::OpenImage
               && LastFileError().code == EACCES;
    });
    ASSERT_EQ(result, ChildResult::Passed);
    EXPECT_EQ(Out("mtype -i " + image + " ::/MSDOS.SYS"), Saved(Win95Msdos));
    EXPECT_EQ(Out("mattrib -i " + image + " ::/MSDOS.SYS"), "     SHR     ::/MSDOS.SYS\n");
    EXPECT_TRUE(Bytes(notOurs) == before);
}

TEST(ImageDrive, AnImageAnotherProgramHoldsIsRefusedAndOurWriteLockKeepsQemuOut)
{
    TempDrive scratch('I');
    const std::string image = Floppy(scratch.dir());
    const std::string before = Bytes(image);
    ScopedEnv mapped("VARNELLO_DRIVE_C", image);
    ImageDrive* drive = ImageFileFor("C:\\msdos.sys")->drive;
    ASSERT_TRUE(drive);
    auto refused = [&] {
        const char* path = "C:\\msdos.sys";
        return DriveInUseByAnotherProgram(path) && !CheckReplaceable(path)
               && LastFileError().step == FileStep::ImageInUse && !SetFileAttributesA(path, 0)
               && LastFileError().step == FileStep::ImageInUse
               && !WriteExistingProfileString("Options", "BootGUI", "0", path)
               && LastFileError().step == FileStep::ImageInUse;
    };

    // An emulator's lock as QEMU takes it: nobody else may write (byte 201).
    int other = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    struct flock forbidWriting {};
    forbidWriting.l_type = F_RDLCK;
    forbidWriting.l_start = 201;
    forbidWriting.l_len = 1;
    ASSERT_EQ(fcntl(other, F_OFD_SETLK, &forbidWriting), 0);
    EXPECT_TRUE(drive->inUse());
    EXPECT_TRUE(refused());
    close(other);
    EXPECT_FALSE(drive->inUse());

    // A real QEMU program writing the image.
    const std::string pidFile = scratch.hostPath("qsd.pid");
    ASSERT_TRUE(Sh("qemu-storage-daemon --blockdev driver=file,node-name=f,filename=" + image
                   + " --nbd-server addr.type=unix,addr.path=" + scratch.hostPath("nbd.sock")
                   + " --export type=nbd,id=e,node-name=f,writable=on --daemonize --pidfile " + pidFile));
    EXPECT_TRUE(drive->inUse());
    EXPECT_TRUE(refused());
    ASSERT_TRUE(Sh("kill $(cat " + pidFile + ")"));
    for (auto deadline = Clock::now() + std::chrono::seconds(30); drive->inUse() && Clock::now() < deadline;)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(Bytes(image) == before);

    // While we write, a QEMU program wanting to write is turned away.
    std::optional<ImageLock> ours = ImageLock::Take(image, ImageLock::Mode::Write);
    ASSERT_TRUE(ours);
    EXPECT_NE(Out("qemu-io -f raw -c 'write 0 512' " + image + " 2>&1").find("lock"), std::string::npos);
    ours.reset();
    EXPECT_TRUE(Replace(*drive, Edited)) << Describe(LastFileError());
}

TEST(ImageDrive, TwoVarnelloProcessesWritingTheSameImageTakeTurnsAndLoseNothing)
{
    TempDrive scratch('I');
    const std::string image = Floppy(scratch.dir());
    ScopedEnv mapped("VARNELLO_DRIVE_C", image);
    auto writer = [&](const char* key) {
        pid_t child = fork();
        if (child == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            for (int i = 1; i <= 20; ++i) {
                if (!WriteExistingProfileString("Options", key, std::to_string(i).c_str(), "C:\\msdos.sys"))
                    _exit(1);
            }
            _exit(0);
        }
        return child;
    };
    pid_t writers[] = {writer("BootDelay"), writer("BootMenuDelay")};
    for (pid_t child : writers) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed instead of waiting";
    }
    EXPECT_TRUE(FsckClean(image, 0));
    const std::string found = Out("mtype -i " + image + " ::/MSDOS.SYS");
    EXPECT_EQ(FindProfileValue(found, "Options", "BootDelay"), "20");
    EXPECT_EQ(FindProfileValue(found, "Options", "BootMenuDelay"), "20");
}

// Whoever may write the image's folder trades the image for another one of the user's
// between the read and the write: the write still lands in the image it read.
TEST(ImageDrive, AnImageTradedUnderItsNameDuringAWriteIsNeverWrittenThrough)
{
    TempDrive scratch('I');
    const std::string image = Floppy(scratch.dir());
    const std::string other = scratch.dir() + "/other.img";
    ASSERT_TRUE(Sh("cp " + image + " " + other + " && mkdir " + scratch.dir() + "/tools"));
    // mcopy, the write's first step, trades the names once before it runs.
    const std::string mcopy = scratch.dir() + "/tools/mcopy";
    Write(mcopy, "#!/bin/sh\n[ -e " + image + ".read ] || { mv " + image + " " + image + ".read && mv " + other + " "
                     + image + "; }\nexec " + Out("command -v mcopy | tr -d '\\n'") + " \"$@\"\n");
    ASSERT_EQ(chmod(mcopy.c_str(), 0755), 0);
    ScopedEnv path("PATH", scratch.dir() + "/tools:" + std::getenv("PATH"));
    std::unique_ptr<ImageDrive> drive = ImageDrive::Open(image);
    ASSERT_TRUE(drive && drive->exists("msdos.sys")) << Describe(LastFileError());
    EXPECT_TRUE(Replace(*drive, Edited)) << Describe(LastFileError());
    EXPECT_EQ(Out("mtype -i " + image + ".read ::/MSDOS.SYS"), Edited);
    EXPECT_EQ(Out("mtype -i " + image + " ::/MSDOS.SYS"), Win95Msdos);
    EXPECT_TRUE(FsckClean(image, 0));
    EXPECT_TRUE(FsckClean(image + ".read", 0));

    // Traded for a FIFO, it is refused at once instead of waiting for a writer forever.
    ASSERT_TRUE(Sh("rm " + image + " && mkfifo " + image));
    alarm(20);
    EXPECT_FALSE(drive->exists("msdos.sys"));
    EXPECT_FALSE(Replace(*drive, Win95Msdos));
    alarm(0);
    EXPECT_NE(Describe(LastFileError()).find("no longer a regular file"), std::string::npos) << Describe(LastFileError());
}

// Between loading and saving, a raw image is cut short, and a qcow2 that an export shows
// is traded under its name for another one: neither image is written.
TEST(ImageDrive, AnImageCutShortOrTradedAfterLoadingIsNeverWritten)
{
    TempDrive scratch('I');
    const std::string image = Floppy(scratch.dir());
    std::unique_ptr<ImageDrive> drive = ImageDrive::Open(image);
    ASSERT_TRUE(drive && drive->read("msdos.sys")) << Describe(LastFileError());
    ASSERT_TRUE(Sh("truncate -s 600K " + image));
    const std::string cut = Bytes(image);
    EXPECT_FALSE(Replace(*drive, Edited));
    EXPECT_EQ(Describe(LastFileError()),
              "The disk image is no longer the one Varnello opened: its size changed from 1474560 to 614400 bytes.");
    EXPECT_TRUE(Bytes(image) == cut);

    if (!FuseUsable())
        GTEST_SKIP() << "FUSE cannot be used here (/dev/fuse not accessible or qemu-storage-daemon missing)";
    const std::string loaded = scratch.hostPath("vm.qcow2");
    const std::string other = scratch.hostPath("other.qcow2");
    std::remove(image.c_str());
    ASSERT_TRUE(Sh("qemu-img convert -O qcow2 " + Floppy(scratch.dir()) + " " + loaded + " && cp " + loaded + " "
                   + other));
    drive = ImageDrive::Open(loaded);
    ASSERT_TRUE(drive && drive->read("msdos.sys")) << Describe(LastFileError());
    ASSERT_TRUE(Sh("mv " + loaded + " " + loaded + ".was && mv " + other + " " + loaded));
    const std::string before = Out("md5sum " + scratch.dir() + "/*.qcow2*");
    EXPECT_FALSE(Replace(*drive, Edited));
    EXPECT_EQ(Describe(LastFileError()), "The disk image is no longer the one Varnello opened: its name no longer "
                                         "leads to the file that was opened.");
    EXPECT_FALSE(drive->exists("msdos.sys"));
    EXPECT_EQ(Out("md5sum " + scratch.dir() + "/*.qcow2*"), before);
}

TEST(ImageDrive, SavesKilledAtRandomMomentsLeaveACleanImageWithTheOldOrTheNewFile)
{
    TempDrive scratch('I');
    const std::string image = Floppy(scratch.dir());
    ScopedEnv mapped("VARNELLO_DRIVE_C", image);
    std::mt19937 random(TestSeed());
    std::uniform_int_distribution<int> delayMicroseconds(0, 60000);
    // Values of different lengths, so that the file's clusters change too.
    const std::string longValue(3000, 'z');
    const std::string shortFile = WithProfileValue(Win95Msdos, "Options", "Padding", "0");
    const std::string longFile = WithProfileValue(Win95Msdos, "Options", "Padding", longValue);

    int copiesLeft = 0;
    int repaired = 0;
    for (int trial = 0; trial < 100; ++trial) {
        pid_t writer = fork();
        if (writer == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            for (unsigned i = 0;; ++i) {
                if (!WriteExistingProfileString("Options", "Padding", i % 2 ? longValue.c_str() : "0", "C:\\msdos.sys"))
                    _exit(1);
            }
        }
        ASSERT_GT(writer, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds(random)));
        kill(writer, SIGKILL);
        int status = 0;
        waitpid(writer, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed at trial " << trial;

        // The tools the writer started finish; its lock lives on in them until then.
        ASSERT_TRUE(ImageLock::Take(image, ImageLock::Mode::Read)) << Describe(LastFileError());
        const std::string names = Out("mdir -a -b -i " + image + " ::/");
        const bool copyLeft = names.find("::/VRNL") != std::string::npos;
        copiesLeft += copyLeft;
        repaired += copyLeft && names.find("::/MSDOS.SYS\n") == std::string::npos;
        ASSERT_TRUE(Sh("fsck.fat -n " + image)) << "trial " << trial << Out("fsck.fat -n " + image);

        // What the next start does first: it looks for msdos.sys, which repairs.
        ASSERT_TRUE(FileExists("C:\\msdos.sys")) << "trial " << trial << ": " << Describe(LastFileError());
        const std::string found = Out("mtype -i " + image + " ::/MSDOS.SYS");
        ASSERT_TRUE(found == Win95Msdos || found == shortFile || found == longFile) << "trial " << trial;
        ASSERT_EQ(Out("mdir -a -b -i " + image + " ::/ | grep -c VRNL"), "0\n") << "trial " << trial;
        ASSERT_EQ(Out("mattrib -i " + image + " ::/MSDOS.SYS"), "     SHR     ::/MSDOS.SYS\n") << "trial " << trial;
        ASSERT_TRUE(Sh("fsck.fat -n " + image)) << "trial " << trial << " after the repair";
    }
    std::printf("100 saves killed: %d left their copy, %d of those without the original (put in place)\n",
                copiesLeft, repaired);
}

// Each tool failure as the user reads it: the cause in their words, the tool's own words
// on the line below. Stand-ins on PATH say exactly what the real tools say there (mtools,
// qemu-storage-daemon and libfuse), then fail.
TEST(ImageDrive, EachToolFailureNamesItsCauseAndKeepsTheToolsWords)
{
    const std::string daemonSaid = "qemu-storage-daemon said: \"";
    const std::string blockdev = R"(qemu-storage-daemon: --blockdev {"driver":"qcow2","node-name":"disk","file":"file",)"
                                 R"("read-only":false}: )";
    const std::string hostFull = "plain_io: No space left on device\nbuffer_flush: short write\nbuffer_flush: write: No "
                                 "space left on device\nplain_io: No space left on device\nbuffer_flush: short write\n"
                                 "plain_io: No space left on device\nbuffer_flush: short write\nerror in fat_write: "
                                 "No space left on device\n";
    const struct {
        const char* what;
        const char* standIn;  // "": none
        std::string says;     // on its standard error
        bool otherTools;      // the real tools stay on PATH
        bool qcow2;
        std::string reads;    // at the start, or from a save when it starts with "The configuration"
    } cases[] = {
        {"damaged qcow2 header", "qemu-storage-daemon", blockdev + "Unsupported qcow2 version 4294967295\n", false, true,
         "The disk image could not be opened: QEMU cannot read it as a qcow2 image; it may be damaged.\r\n" + daemonSaid
             + "Unsupported qcow2 version 4294967295\""},
        {"missing backing file", "qemu-storage-daemon",
         blockdev + "Could not open backing file: Could not open '/vm/base.img': No such file or directory\n", false, true,
         "The disk image could not be opened: its backing file could not be opened.\r\n" + daemonSaid
             + "Could not open backing file: Could not open '/vm/base.img': No such file or directory\""},
        {"held by an emulator", "qemu-storage-daemon",
         blockdev + "Failed to get \"write\" lock\nIs another process using the image [/vm/win95.qcow2]?\n", false, true,
         "The disk image is in use: another program, such as a running emulator, has it open.\r\n" + daemonSaid
             + "Failed to get \"write\" lock Is another process using the image [/vm/win95.qcow2]?\""},
        {"a name that is not UTF-8", "qemu-storage-daemon",
         "qemu-storage-daemon: --blockdev {\"driver\":\"file\",\"node-name\":\"file\",\"filename\":\"/vm/D\xE9mo.qcow2\","
         "\"read-only\":false}: JSON parse error, invalid UTF-8 sequence in string\n",
         false, true,
         "The disk image could not be opened: its name is not valid UTF-8, which qemu-storage-daemon cannot take: rename "
         "the image.\r\n" + daemonSaid + "JSON parse error, invalid UTF-8 sequence in string\""},
        {"fusermount3 missing", "qemu-storage-daemon",
         "fuse: failed to exec fusermount3: No such file or directory\nqemu-storage-daemon: --export {\"type\":\"fuse\","
         "\"id\":\"disk\"}: Failed to mount FUSE session to export\n",
         false, true,
         "The disk image could not be used: fusermount3 is not installed (Debian package fuse3).\r\n" + daemonSaid
             + "fuse: failed to exec fusermount3: No such file or directory qemu-storage-daemon: Failed to mount FUSE "
               "session to export\""},
        {"no qemu-storage-daemon", "", "", false, true,
         "The disk image could not be used: qemu-storage-daemon is not installed (Debian package qemu-system-common)."},
        {"no mtools", "", "", false, false,
         "The disk image could not be used: minfo is not installed (Debian package mtools)."},
        {"mshowfat failing", "mshowfat", "mshowfat: Cannot initialize '::'\n", true, false,
         "The disk image could not be used: mshowfat failed (exit status 1).\r\nmshowfat said: \"Cannot initialize '::'\""},
        {"no heads", "minfo", "The devil is in the details: zero number of heads or sectors\n", true, false,
         "No usable FAT file system was found in the disk image: its boot sector gives no number of heads or of sectors "
         "per track.\r\nminfo said: \"The devil is in the details: zero number of heads or sectors\""},
        {"the host's disk full", "mcopy", hostFull, true, false,
         "The configuration was not written to C:\\msdos.sys.\r\nThe temporary file could not be written: the disk that "
         "holds the disk image is full.\r\nmcopy said: \"plain_io: No space left on device buffer_flush: short write "
         "buffer_flush: write: No space left on device plain_io: No space left on device buffer_flush: short write "
         "plain_io: No space left on device...\""},
    };
    TempDrive scratch('I');
    const std::string toolPath = std::getenv("PATH");
    const bool fuse = access("/dev/fuse", R_OK | W_OK) == 0;
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = scratch.dir() + "/" + std::to_string(++row);
        const std::string tools = dir + "/tools";
        ASSERT_TRUE(Sh("mkdir -p " + tools));
        std::string image = dir + "/disk.qcow2";
        if (c.qcow2)
            Write(image, std::string("QFI\xFB\0\0\0\3", 8) + std::string(65528, '\0'));
        else
            image = Floppy(dir);
        if (*c.standIn) {
            if (c.qcow2 && !fuse) {
                std::printf("skipped \"%s\": FUSE cannot be used here\n", c.what);
                continue;
            }
            Write(dir + "/says", c.says);
            const std::string standIn = tools + "/" + c.standIn;
            Write(standIn, "#!/bin/sh\n/bin/cat " + dir + "/says >&2\nexit 1\n");
            ASSERT_EQ(chmod(standIn.c_str(), 0755), 0);
        }
        ScopedEnv path("PATH", c.otherTools ? tools + ":" + toolPath : tools);
        ScopedEnv mapped("VARNELLO_DRIVE_C", image);
        if (c.reads.starts_with("The configuration")) {
            EXPECT_EQ(WriteBootOptions(BootOptions{}, "C:\\"), c.reads);
        } else {
            EXPECT_FALSE(FileExists("C:\\msdos.sys"));
            EXPECT_EQ(WhyFileNotFound("C:\\msdos.sys"), c.reads);
        }
    }
}

TEST(ImageDrive, TheExportDaemonEndsWhenVarnelloIsKilled)
{
    if (!FuseUsable())
        GTEST_SKIP() << "FUSE cannot be used here (/dev/fuse not accessible or qemu-storage-daemon missing)";
    TempDrive scratch('I');
    const std::string image = Qcow2(scratch.dir());
    ScopedEnv runtime("XDG_RUNTIME_DIR", scratch.dir());  // so that the export's mount is told apart
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t varnello = fork();
    if (varnello == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        std::unique_ptr<ImageDrive> drive = ImageDrive::Open(image);
        const char answer = drive && drive->exists("msdos.sys") ? 'y' : 'n';
        (void)!write(ready[1], &answer, 1);
        pause();
        _exit(0);
    }
    char answer = 0;
    ASSERT_EQ(read(ready[0], &answer, 1), 1);
    EXPECT_EQ(answer, 'y');
    const std::string mounts = "grep -c " + scratch.dir() + "/varnello-image- /proc/mounts";
    EXPECT_EQ(Out(mounts), "1\n");
    kill(varnello, SIGKILL);
    waitpid(varnello, nullptr, 0);
    auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Out(mounts) != "0\n" && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Out(mounts), "0\n");
    EXPECT_TRUE(Sh("qemu-img info " + image)) << "the image is still locked";
    close(ready[0]);
    close(ready[1]);
}

TEST(ImageDrive, AKilledExportDaemonLeavesNoMountNorFolderAndIsNamed)
{
    if (!FuseUsable())
        GTEST_SKIP() << "FUSE cannot be used here (/dev/fuse not accessible or qemu-storage-daemon missing)";
    TempDrive scratch('I');
    const std::string image = Qcow2(scratch.dir());
    ScopedEnv runtime("XDG_RUNTIME_DIR", scratch.dir());  // so that the export is told apart
    std::unique_ptr<ImageDrive> drive = ImageDrive::Open(image);
    ASSERT_TRUE(drive && drive->exists("msdos.sys")) << Describe(LastFileError());
    const std::string exports = "ls -d " + scratch.dir() + "/varnello-image-* 2>/dev/null | wc -l; grep -c "
                                + scratch.dir() + "/varnello-image- /proc/mounts";
    ASSERT_EQ(Out(exports), "1\n1\n");
    const pid_t daemon = std::atoi(Out("pgrep -f 'qemu-storage-daemon .*" + image + "'").c_str());
    ASSERT_GT(daemon, 0);
    ASSERT_EQ(kill(daemon, SIGKILL), 0);
    for (auto deadline = Clock::now() + std::chrono::seconds(20); Out(exports) != "0\n0\n" && Clock::now() < deadline;)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Out(exports), "0\n0\n");
    EXPECT_FALSE(drive->exists("msdos.sys"));
    EXPECT_EQ(Describe(LastFileError()), "The disk image could not be used: qemu-storage-daemon, "
                                         "which showed the disk image to Varnello, has ended; start Varnello again.");
    EXPECT_FALSE(Replace(*drive, Edited));
    EXPECT_EQ(LastFileError().code, ENOTCONN);
}

TEST(ImageDrive, StartUpReadsAreAnsweredFromOneReadingOfTheImage)
{
    TempDrive scratch('I');
    ScopedEnv mapped("VARNELLO_DRIVE_C", Floppy(scratch.dir()));
    // What start-up and loading read: four lookups and the fifteen keys.
    auto loadAll = [] {
        for (const char* name : {"msdos.sys", "io.dos", "msdos.dos", "command.dos"})
            FileExists((std::string("C:\\") + name).c_str());
        for (const auto& [key, value] : Save)
            GetPrivateProfileIntA("Options", key, 0, "C:\\msdos.sys");
        return GetPrivateProfileIntA("Options", "BootMulti", 0, "C:\\msdos.sys") == 1;
    };
    ASSERT_TRUE(loadAll());
    ScopedEnv noTools("PATH", "/nonexistent");  // from here on, only the cache can answer
    EXPECT_TRUE(loadAll());
}

TEST(ToolRun, FailuresSayWhatWentWrongAndNothingHangs)
{
    const struct {
        std::vector<std::string> argv;
        std::string input;
        bool ok;
        int code;
        std::string output;
        std::string message;
    } cases[] = {
        {{"cat"}, "from stdin", true, 0, "from stdin", ""},
        {{"sh", "-c", "exit 3"}, "", false, EIO, "", "sh failed (exit status 3)"},
        {{"varnello-no-such-tool"}, "", false, ENOENT, "", "varnello-no-such-tool is not installed"},
        {{"sleep", "600"}, "", false, ETIMEDOUT, "", "sleep did not finish within 2 seconds"},
        {{"head", "-c", "3000000", "/dev/zero"}, "", false, EFBIG, "", "head gave more output than expected"},
    };
    for (const auto& c : cases) {
        // Long enough for the others on a busy machine.
        ToolResult result = RunTool(c.argv, c.input, {}, ToolLimits{std::chrono::seconds(2), 1 << 20});
        EXPECT_EQ(result.ok, c.ok) << c.argv[0];
        EXPECT_EQ(result.code, c.code) << c.argv[0];
        EXPECT_EQ(result.output, c.output) << c.argv[0];
        EXPECT_EQ(result.message, c.message) << c.argv[0];
    }
}
