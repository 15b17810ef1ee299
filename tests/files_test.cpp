#include "platform/atomicfile.h"
#include "platform/fileerror.h"
#include "platform/files.h"
#include "platform/version.h"
#include "scopedenv.h"
#include "tempdrive.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

mode_t ModeOf(const std::string& path)
{
    struct stat status {};
    stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

// The raw "user.DOSATTRIB" value, or "(none)".
std::string DosAttribute(const std::string& path)
{
    char value[64];
    ssize_t size = getxattr(path.c_str(), "user.DOSATTRIB", value, sizeof value);
    return size < 0 ? "(none)" : std::string(value, size_t(size));
}

// Names of temporary files left in dir.
std::vector<std::string> TemporaryFiles(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        if (name.starts_with("VRNL") && name.ends_with(".TMP"))
            names.push_back(name);
    }
    return names;
}

}  // namespace

TEST(FileExists, RegularFilesOnlyAndNeverBlocks)
{
    TempDrive drive('C');
    drive.write("msdos.sys", "[Options]\r\n");
    drive.write("io.dos", "x");
    ASSERT_TRUE(SetFileAttributesA("C:\\io.dos", 7));
    fs::create_directory(drive.hostPath("dir.sys"));
    ASSERT_EQ(mkfifo(drive.hostPath("pipe.sys").c_str(), 0644), 0);
    fs::create_symlink("nowhere", drive.hostPath("dangle.sys"));
    fs::create_symlink("msdos.sys", drive.hostPath("link.sys"));
    fs::create_symlink("dir.sys", drive.hostPath("dirlink.sys"));

    const struct {
        const char* path;
        bool exists;
    } cases[] = {
        {"C:\\msdos.sys", true},   {"c:\\MSDOS.SYS", true},    {"C:\\io.dos", true},
        {"C:\\link.sys", true},    {"C:\\dir.sys", false},     {"C:\\pipe.sys", false},
        {"C:\\dangle.sys", false}, {"C:\\dirlink.sys", false}, {"C:\\none.sys", false},
        {"C:\\", false},           {"Q:\\msdos.sys", false},   {"C:\\*.sys", false},
    };
    TempDrive emptyPrefix('W');
    ScopedEnv wine("WINEPREFIX", emptyPrefix.dir());
    ScopedEnv unmapped("VARNELLO_DRIVE_Q", std::nullopt);
    for (const auto& c : cases)
        EXPECT_EQ(FileExists(c.path), c.exists) << c.path;
    EXPECT_FALSE(FileExists(nullptr));
}

TEST(FileAttributes, ExactSetsRoundTrip)
{
    TempDrive drive('C');
    drive.write("msdos.sys", "x");
    chmod(drive.hostPath("msdos.sys").c_str(), 0664);
    const struct {
        uint32_t set;
        std::string stored;  // the extended attribute afterwards
        bool writable;
    } cases[] = {
        {7, "0x7", false},       {0, "(none)", true},  {0x27, "0x27", false},
        {1, "(none)", false},    {0x20, "0x20", true}, {6, "0x6", true},
        {0x80 | 2, "0x2", true},  // bits beyond the four are ignored
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(SetFileAttributesA("C:\\MSDOS.SYS", c.set)) << c.set << ": " << Describe(LastFileError());
        EXPECT_EQ(GetFileAttributesA("C:\\msdos.sys"), c.set & 0x27) << c.set;
        EXPECT_EQ(DosAttribute(drive.hostPath("msdos.sys")), c.stored) << c.set;
        EXPECT_EQ((ModeOf(drive.hostPath("msdos.sys")) & 0222) != 0, c.writable) << c.set;
    }
}

TEST(FileAttributes, ReadOnlyIsTheWritePermissionBits)
{
    TempDrive drive('C');
    drive.write("a", "x");
    chmod(drive.hostPath("a").c_str(), 0666);
    ASSERT_TRUE(SetFileAttributesA("C:\\a", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(ModeOf(drive.hostPath("a")), 0444u);
    ASSERT_TRUE(SetFileAttributesA("C:\\a", 0));
    EXPECT_EQ(ModeOf(drive.hostPath("a")), 0644u);  // the owner may write again

    chmod(drive.hostPath("a").c_str(), 0660);
    ASSERT_TRUE(SetFileAttributesA("C:\\a", FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(ModeOf(drive.hostPath("a")), 0660u);  // already writable: left alone

    chmod(drive.hostPath("a").c_str(), 0440);
    EXPECT_EQ(GetFileAttributesA("C:\\a"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
}

TEST(FileAttributes, AnOrdinaryOwnerCanChangeAReadOnlyFile)
{
    // Without privileges the extended attribute of a read-only file cannot change, so
    // the order of the steps matters; root would not notice, hence the unprivileged child.
    TempDrive drive('C');
    drive.write("msdos.sys", "x");
    const uid_t nobody = 65534;
    if (geteuid() == 0) {
        ASSERT_EQ(chown(drive.dir().c_str(), nobody, nobody), 0);
        ASSERT_EQ(chown(drive.hostPath("msdos.sys").c_str(), nobody, nobody), 0);
    }
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(nobody) != 0 || setuid(nobody) != 0))
            _exit(2);
        for (uint32_t set : {0x27u, 1u, 0x27u, 0u, 7u, 0x20u}) {
            if (!SetFileAttributesA("C:\\msdos.sys", set) || GetFileAttributesA("C:\\msdos.sys") != set)
                _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(FileAttributes, ForeignAttributeValuesCarryNothing)
{
    TempDrive drive('C');
    drive.write("a", "x");
    const char binary[] = {'\0', '\0', '\3', '\0'};
    ASSERT_EQ(setxattr(drive.hostPath("a").c_str(), "user.DOSATTRIB", binary, sizeof binary, 0), 0);
    EXPECT_EQ(GetFileAttributesA("C:\\a"), 0u);
}

TEST(FileAttributes, FailuresReportTheStep)
{
    TempDrive drive('C');
    fs::create_directory(drive.hostPath("dir"));
    ASSERT_EQ(mkfifo(drive.hostPath("pipe").c_str(), 0644), 0);
    const struct {
        const char* path;
        FileStep step;
        int code;
    } cases[] = {
        {"C:\\missing", FileStep::Attributes, ENOENT},
        {"C:\\dir", FileStep::Attributes, EISDIR},
        {"C:\\pipe", FileStep::Attributes, EINVAL},
        {"C:\\dir\\x", FileStep::ResolvePath, EINVAL},
    };
    for (const auto& c : cases) {
        ClearLastFileError();
        EXPECT_FALSE(SetFileAttributesA(c.path, 7)) << c.path;
        EXPECT_EQ(LastFileError().step, c.step) << c.path;
        EXPECT_EQ(LastFileError().code, c.code) << c.path;
        EXPECT_EQ(GetFileAttributesA(c.path), INVALID_FILE_ATTRIBUTES) << c.path;
    }
}

TEST(FileError, DescribeNamesTheStepAndTheCause)
{
    EXPECT_EQ(Describe({}), "No error");
    EXPECT_EQ(Describe({FileStep::Rename, EACCES}),
              "The temporary file could not replace the file: Permission denied");
    EXPECT_EQ(Describe({FileStep::None, EINVAL}), "Invalid argument");
}

TEST(FileError, EachThreadKeepsItsOwn)
{
    SetLastFileError(FileStep::Read, EIO);
    std::thread([] {
        EXPECT_EQ(LastFileError().step, FileStep::None);
        SetLastFileError(FileStep::Rename, ENOSPC);
    }).join();
    EXPECT_EQ(LastFileError().step, FileStep::Read);
    EXPECT_EQ(LastFileError().code, EIO);
    ClearLastFileError();
    EXPECT_EQ(LastFileError().step, FileStep::None);
}

TEST(PlatformVersion, StandsInForWindows95UnlessTestsSayOtherwise)
{
    EXPECT_EQ(GetVersion() & 0xFFFF, 0x0004u);  // major 4 in the low byte, minor 0 above it
    SetReportedVersion(0x0A04);                  // Windows 98: 4.10
    EXPECT_EQ(GetVersion(), 0x0A04u);
    SetReportedVersion(0xC3B60004);
}

class AtomicReplace : public testing::Test {
protected:
    void TearDown() override { FailAtomicStepForTesting(FileStep::None); }
    TempDrive drive{'C'};
};

TEST_F(AtomicReplace, KeepsPermissionsOwnerAndDosAttributes)
{
    std::string path = drive.hostPath("msdos.sys");
    drive.write("msdos.sys", "old");
    chmod(path.c_str(), 0640);
    const bool root = geteuid() == 0;  // only root can hand a file to someone else
    if (root) {
        ASSERT_EQ(chown(path.c_str(), 1234, 5678), 0);
    }
    ASSERT_EQ(setxattr(path.c_str(), "user.DOSATTRIB", "0x26", 4, 0), 0);
    struct stat before {};
    stat(path.c_str(), &before);

    ASSERT_TRUE(ReplaceFileAtomically(path, "new")) << Describe(LastFileError());
    struct stat after {};
    stat(path.c_str(), &after);
    EXPECT_EQ(drive.read("msdos.sys"), "new");
    EXPECT_NE(after.st_ino, before.st_ino);  // replaced, not rewritten in place
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, root ? 1234u : before.st_uid);
    EXPECT_EQ(after.st_gid, root ? 5678u : before.st_gid);
    EXPECT_EQ(DosAttribute(path), "0x26");
    EXPECT_TRUE(TemporaryFiles(drive.dir()).empty());
}

TEST_F(AtomicReplace, ReplacesWhatASymlinkLeadsToAndKeepsTheLink)
{
    fs::create_directory(drive.hostPath("real"));
    drive.write("real/MSDOS.SYS", "old");
    fs::create_symlink("real/MSDOS.SYS", drive.hostPath("msdos.sys"));
    ASSERT_TRUE(ReplaceFileAtomically(drive.hostPath("msdos.sys"), "new"));
    EXPECT_TRUE(fs::is_symlink(drive.hostPath("msdos.sys")));
    EXPECT_EQ(drive.read("real/MSDOS.SYS"), "new");
    EXPECT_TRUE(TemporaryFiles(drive.dir()).empty());
    EXPECT_TRUE(TemporaryFiles(drive.hostPath("real")).empty());
}

TEST_F(AtomicReplace, CreatesAMissingFileButNotThroughADanglingLink)
{
    ASSERT_TRUE(ReplaceFileAtomically(drive.hostPath("new.ini"), "x"));
    EXPECT_EQ(drive.read("new.ini"), "x");

    fs::create_symlink("nowhere", drive.hostPath("dangle"));
    EXPECT_FALSE(ReplaceFileAtomically(drive.hostPath("dangle"), "x"));
    EXPECT_EQ(LastFileError().step, FileStep::Inspect);
    EXPECT_FALSE(fs::exists(drive.hostPath("nowhere")));

    EXPECT_FALSE(ReplaceFileAtomically(drive.hostPath("nodir/x"), "x"));
    EXPECT_EQ(LastFileError().step, FileStep::CreateTemporary);
    EXPECT_EQ(LastFileError().code, ENOENT);
}

TEST_F(AtomicReplace, EveryFailingStepLeavesTheTargetUntouched)
{
    const std::string path = drive.hostPath("msdos.sys");
    const FileStep steps[] = {FileStep::CreateTemporary, FileStep::WriteTemporary,
                              FileStep::Attributes, FileStep::FlushTemporary, FileStep::Rename};
    for (FileStep step : steps) {
        drive.write("msdos.sys", "old\r\n");
        chmod(path.c_str(), 0600);
        FailAtomicStepForTesting(step, ENOSPC);
        EXPECT_FALSE(ReplaceFileAtomically(path, "new contents\r\n"));
        EXPECT_EQ(LastFileError().step, step);
        EXPECT_EQ(LastFileError().code, ENOSPC);
        EXPECT_EQ(drive.read("msdos.sys"), "old\r\n");
        EXPECT_EQ(ModeOf(path), 0600u);
        EXPECT_TRUE(TemporaryFiles(drive.dir()).empty());
    }
}

TEST_F(AtomicReplace, AFullDiskIsAWriteFailure)
{
    const std::string path = drive.hostPath("msdos.sys");
    drive.write("msdos.sys", "old\r\n");
    // A child process with a 4 KiB file size limit stands in for a full disk.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        bool replaced = ReplaceFileAtomically(path, std::string(100000, 'x'));
        FileError error = LastFileError();
        _exit(!replaced && error.step == FileStep::WriteTemporary && error.code == EFBIG ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(drive.read("msdos.sys"), "old\r\n");
    EXPECT_TRUE(TemporaryFiles(drive.dir()).empty());
}
