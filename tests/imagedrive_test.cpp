// Image drives on images built by the real tools (mkfs.fat, sfdisk, mtools, qemu-img),
// reached through the file layer's operations on a drive letter as the program reaches
// them, and checked by the tools alone: mtype, mattrib, mdir and fsck.fat -n.

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
};

const Layout Layouts[] = {
    {"Fat12Floppy", Floppy, 0, false},
    {"Fat16SecondPartitionActive", TwoPartitions, SecondPartition, false},
    {"Fat32Lba", Fat32Lba, 2048 * 512, false},
    {"FixedVhd", FixedVhd, 0, false},
    {"Qcow2", Qcow2, SecondPartition, true},
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
                   + scratch.hostPath("x") + " ::/msdos.dos && mattrib" + i + "+r +h +s ::/IO.DOS && mmd" + i
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
    EXPECT_EQ(Out("mdir -a -b" + i + "::/ | sort"), "::/COMMAND.DOS/\n::/EMPTY.SYS\n::/IO.DOS\n::/msdos.dos\n");
}

TEST(ImageDrive, BadImagesAreNoBootDriveAndStayUnchanged)
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
    const struct {
        const char* what;
        std::function<std::string(const std::string&)> build;
    } cases[] = {{"truncated", truncated},       {"random bytes", randomBytes},
                 {"partition outside", partitionOutside}, {"FAT loop", loopingFat},
                 {"msdos.sys is a directory", directory}};
    char letter = 'J';  // a drive each: a drive is opened once per process
    for (const auto& c : cases) {
        const std::string image = c.build(dir);
        const std::string before = Bytes(image);
        const auto start = Clock::now();
        ScopedEnv mapped(std::string("VARNELLO_DRIVE_") + letter, image);
        const std::string path = std::string(1, letter++) + ":\\msdos.sys";
        EXPECT_FALSE(FileExists(path.c_str())) << c.what;
        EXPECT_NE(WhyFileNotFound(path.c_str()), "") << c.what;
        EXPECT_EQ(GetPrivateProfileIntA("Options", "BootGUI", 5, path.c_str()), 5u) << c.what;
        EXPECT_NE(LastFileError().step, FileStep::None) << c.what;
        EXPECT_FALSE(CheckReplaceable(path)) << c.what;
        EXPECT_FALSE(WriteExistingProfileString("Options", "BootGUI", "0", path.c_str())) << c.what;
        EXPECT_FALSE(SetFileAttributesA(path.c_str(), 0)) << c.what;
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << c.what;
        EXPECT_TRUE(Bytes(image) == before) << c.what;
        std::remove(image.c_str());
    }
}

TEST(ImageDrive, AFullDiskFailsTheSaveInMtoolsWordsAndKeepsTheOriginal)
{
    TempDrive scratch('I');
    const std::string image = Floppy(scratch.dir());
    const long free = std::stol(Out("mdir -i " + image + " ::/ | grep 'bytes free' | tr -dc 0-9"));
    Write(scratch.hostPath("big"), std::string(size_t(free - 512), 'b'));
    ASSERT_TRUE(Sh("mcopy -i " + image + " " + scratch.hostPath("big") + " ::/BIG.BIN"));
    std::unique_ptr<ImageDrive> drive = ImageDrive::Open(image);
    ASSERT_TRUE(drive);
    EXPECT_FALSE(Replace(*drive, Edited));
    EXPECT_EQ(Describe(LastFileError()), "The temporary file could not be written: Disk full");
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
    for (auto deadline = Clock::now() + std::chrono::seconds(5); drive->inUse() && Clock::now() < deadline;)
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

TEST(ImageDrive, AQcow2ImageWithoutTheDaemonSaysWhatToInstall)
{
    TempDrive scratch('I');
    const std::string image = Qcow2(scratch.dir());
    ScopedEnv path("PATH", scratch.dir());
    ScopedEnv mapped("VARNELLO_DRIVE_C", image);
    EXPECT_FALSE(FileExists("C:\\msdos.sys"));
    EXPECT_EQ(LastFileError().step, FileStep::ImageTool);
    EXPECT_NE(WhyFileNotFound("C:\\msdos.sys").find("qemu-system-common and fuse3"), std::string::npos);
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
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Out(mounts) != "0\n" && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Out(mounts), "0\n");
    EXPECT_TRUE(Sh("qemu-img info " + image)) << "the image is still locked";
    close(ready[0]);
    close(ready[1]);
}

// How long the save takes is measured by make bench; here only that it works, and the
// figures for the log.
TEST(ImageDrive, StartUpReadsCostOneToolRunAndFifteenKeysSaveInTurn)
{
    TempDrive scratch('I');
    const std::string image = scratch.hostPath("win95.img");
    ASSERT_TRUE(Sh("truncate -s 2G " + image + " && printf 'start=63, type=6, bootable\\n' | sfdisk -q " + image
                   + " && mkfs.fat -F 16 --offset 63 " + image + " 1048544"));
    Fill(scratch.dir(), image + "@@" + std::to_string(63 * 512));

    ScopedEnv mapped("VARNELLO_DRIVE_C", image);
    const char* const path = "C:\\msdos.sys";
    // What start-up and loading read: four lookups and the fifteen keys.
    auto loadAll = [&] {
        for (const char* name : {"msdos.sys", "io.dos", "msdos.dos", "command.dos"})
            FileExists((std::string("C:\\") + name).c_str());
        for (const auto& [key, value] : Save)
            GetPrivateProfileIntA("Options", key, 0, path);
        return GetPrivateProfileIntA("Options", "BootMulti", 0, path) == 1;
    };
    auto start = Clock::now();
    ASSERT_TRUE(loadAll());
    auto opened = Clock::now();
    {
        ScopedEnv noTools("PATH", "/nonexistent");  // from here on, only the cache can answer
        EXPECT_TRUE(loadAll());
    }

    // The better of two saves of fifteen changed keys.
    auto fastest = std::chrono::steady_clock::duration::max();
    for (const char* value : {"7", "8"}) {
        auto saving = Clock::now();
        ASSERT_TRUE(CheckReplaceable(path) && SetFileAttributesA(path, 0));
        for (const auto& [key, unused] : Save)
            ASSERT_TRUE(WriteExistingProfileString("Options", key, value, path)) << Describe(LastFileError());
        ASSERT_TRUE(SetFileAttributesA(path, 7));
        fastest = std::min(fastest, Clock::now() - saving);
    }
    using Ms = std::chrono::milliseconds;
    std::printf("2 GiB FAT16 image: open, 4 lookups and 15 keys read %lld ms; save of 15 keys %lld ms\n",
                (long long)std::chrono::duration_cast<Ms>(opened - start).count(),
                (long long)std::chrono::duration_cast<Ms>(fastest).count());
}

TEST(ToolRun, FailuresReachTheUserInTheToolsOwnWordsAndNothingHangs)
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
        {{"sh", "-c", "echo 'mcopy: Disk full' >&2; exit 1"}, "", false, EIO, "", "mcopy: Disk full"},
        {{"sh", "-c", "exit 3"}, "", false, EIO, "", "sh failed (exit status 3)"},
        {{"varnello-no-such-tool"}, "", false, ENOENT, "", "varnello-no-such-tool is not installed"},
        {{"sleep", "5"}, "", false, ETIMEDOUT, "", "sleep did not finish within 0.3 seconds"},
        {{"head", "-c", "3000000", "/dev/zero"}, "", false, EFBIG, "", "head gave more output than expected"},
    };
    for (const auto& c : cases) {
        const auto start = Clock::now();
        ToolResult result = RunTool(c.argv, c.input, {}, ToolLimits{std::chrono::milliseconds(300), 1 << 20});
        EXPECT_EQ(result.ok, c.ok) << c.argv[0];
        EXPECT_EQ(result.code, c.code) << c.argv[0];
        EXPECT_EQ(result.output, c.output) << c.argv[0];
        EXPECT_EQ(result.message, c.message) << c.argv[0];
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << c.argv[0];
    }
}
