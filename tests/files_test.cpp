#include "platform/drive/directory/atomicreplace.h"
#include "platform/files/files.h"
#include "platform/sys/fileerror.h"
#include "platform/qt/seams.h"
#include "platform/qt/version.h"
#include "dosattributes.h"
#include "safetykit.h"
#include "scopedenv.h"
#include "tempdrive.h"

#include <csignal>
#include <cstddef>
#include <filesystem>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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

// Makes every later fgetxattr of this process fail with EIO, as a failing disk would.
bool FailExtendedAttributeReads()
{
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_fgetxattr, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
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
}

TEST(FileAttributes, AnOrdinaryOwnerCanChangeAReadOnlyFile)
{
    // Without privileges the extended attribute of a read-only file cannot change, so
    // the order of the steps matters; root would not notice, hence the user nobody.
    TempDrive drive('C');
    drive.write("msdos.sys", "x");
    std::optional<AsUser> nobody;
    if (geteuid() == 0) {
        ASSERT_EQ(chown(drive.dir().c_str(), NobodyId, NobodyId), 0);
        ASSERT_EQ(chown(drive.hostPath("msdos.sys").c_str(), NobodyId, NobodyId), 0);
        nobody.emplace(NobodyId);
        ASSERT_TRUE(nobody->active());
    }
    for (uint32_t set : {0x27u, 1u, 0x27u, 0u, 7u, 0x20u}) {
        EXPECT_TRUE(SetFileAttributesA("C:\\msdos.sys", set)) << set;
        EXPECT_EQ(AttributesOf("C:\\msdos.sys"), set);
    }
}

TEST(FileAttributes, AChangeThatFailsPartWayIsUndone)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to hand the file to another user";
    // Nobody may write root's 0666 file, so it may store the extended attribute, but it
    // may not change the permission bits: what it stored must go back. A stored set that
    // cannot be read could not be put back, so then nothing may change at all.
    TempDrive drive('C');
    chmod(drive.dir().c_str(), 0755);
    drive.write("msdos.sys", "x");
    const std::string path = drive.hostPath("msdos.sys");
    chmod(path.c_str(), 0666);
    ASSERT_EQ(setxattr(path.c_str(), "user.DOSATTRIB", "0x20", 4, 0), 0);
    for (const bool unreadable : {false, true}) {
        SCOPED_TRACE(unreadable ? "the stored set cannot be read" : "the stored set is read");
        const ChildResult result = RunInChild([&] {
            if (unreadable && !FailExtendedAttributeReads())
                return false;
            AsUser nobody(NobodyId);
            return nobody.active() && !SetFileAttributesA("C:\\msdos.sys", 7)
                   && LastFileError().step == FileStep::Attributes && LastFileError().code == (unreadable ? EIO : EPERM);
        });
        EXPECT_EQ(result, ChildResult::Passed);
        EXPECT_EQ(DosAttribute(path), "0x20");
        EXPECT_EQ(ModeOf(path), 0666u);
    }
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
    }
}

TEST(FileError, DescribeNamesTheStepAndTheCause)
{
    EXPECT_EQ(Describe({}), "No error.");
    EXPECT_EQ(Describe({FileStep::Rename, EACCES}),
              "The temporary file could not replace the file: Permission denied.");
    EXPECT_EQ(Describe({FileStep::None, EINVAL}), "Invalid argument.");
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

TEST(PlatformVersion, StandsInForWindows95)
{
    EXPECT_EQ(GetVersion() & 0xFFFF, 0x0004u);  // major 4 in the low byte, minor 0 above it
}

class AtomicReplace : public testing::Test {
protected:
    void TearDown() override { FailAtomicStepForTesting(FileStep::None); }
    // Gives the file these contents through a rewrite.
    static bool Replace(const char* dosPath, const std::string& bytes)
    {
        return RewriteFile(dosPath, [&](std::string_view, std::string& updated) {
            updated = bytes;
            return true;
        });
    }
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

    ASSERT_TRUE(Replace("C:\\msdos.sys", "new")) << Describe(LastFileError());
    struct stat after {};
    stat(path.c_str(), &after);
    EXPECT_EQ(drive.read("msdos.sys"), "new");
    EXPECT_NE(after.st_ino, before.st_ino);  // replaced, not rewritten in place
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, root ? 1234u : before.st_uid);
    EXPECT_EQ(after.st_gid, root ? 5678u : before.st_gid);
    EXPECT_EQ(DosAttribute(path), "0x26");
    EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
}

TEST_F(AtomicReplace, ReplacesWhatASymlinkLeadsToAndKeepsTheLink)
{
    fs::create_directory(drive.hostPath("real"));
    drive.write("real/MSDOS.SYS", "old");
    fs::create_symlink("real/MSDOS.SYS", drive.hostPath("msdos.sys"));
    ASSERT_TRUE(Replace("C:\\msdos.sys", "new"));
    EXPECT_TRUE(fs::is_symlink(drive.hostPath("msdos.sys")));
    EXPECT_EQ(drive.read("real/MSDOS.SYS"), "new");
    EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
    EXPECT_TRUE(TemporaryFilesIn(drive.hostPath("real")).empty());
}

TEST_F(AtomicReplace, NeverCreatesAFileNotEvenThroughADanglingLink)
{
    EXPECT_FALSE(Replace("C:\\other.ini", "x"));
    EXPECT_EQ(LastFileError().step, FileStep::Inspect);
    EXPECT_EQ(LastFileError().code, ENOENT);
    EXPECT_FALSE(fs::exists(drive.hostPath("other.ini")));

    fs::create_symlink("nowhere", drive.hostPath("dangle"));
    EXPECT_FALSE(Replace("C:\\dangle", "x"));
    EXPECT_EQ(LastFileError().step, FileStep::Inspect);
    EXPECT_FALSE(fs::exists(drive.hostPath("nowhere")));
    EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
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
        EXPECT_FALSE(Replace("C:\\msdos.sys", "new contents\r\n"));
        EXPECT_EQ(LastFileError().step, step);
        EXPECT_EQ(LastFileError().code, ENOSPC);
        EXPECT_EQ(drive.read("msdos.sys"), "old\r\n");
        EXPECT_EQ(ModeOf(path), 0600u);
        EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
    }
}

TEST_F(AtomicReplace, AFullDiskIsAWriteFailure)
{
    drive.write("msdos.sys", "old\r\n");
    // A child process with a 4 KiB file size limit stands in for a full disk.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        bool replaced = Replace("C:\\msdos.sys", std::string(100000, 'x'));
        FileError error = LastFileError();
        _exit(!replaced && error.step == FileStep::WriteTemporary && error.code == EFBIG ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(drive.read("msdos.sys"), "old\r\n");
    EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
}
