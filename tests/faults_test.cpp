// The save path when things go wrong: each step failing in turn, a full disk, names that
// are no plain file, files of other users, and edits made by others while the window is
// open. Whatever fails, msdos.sys keeps its bytes, the user is told, and no reboot
// reminder claims a success.

#include <QCoreApplication>
#include <QPointer>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dosattributes.h"
#include "safetykit.h"
#include "windowfixture.h"

namespace fs = std::filesystem;

namespace {

const std::string Options = "[Options]\r\nBootMulti=1\r\nBootGUI=1\r\nBootMenu=0\r\nNetwork=1\r\n";
const std::string Padding =
    ";\r\n;The following lines are required for compatibility with other programs.\r\n"
    ";Do not remove them (MSDOS.SYS needs to be >1024 bytes).\r\n"
    ";xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\r\n";
const std::string Msdos = Paths + Options + Padding;

// True when the same file is there, with nothing written to it and no attribute changed.
bool Untouched(const struct stat& before, const struct stat& after)
{
    return after.st_ino == before.st_ino && after.st_ctim.tv_sec == before.st_ctim.tv_sec
           && after.st_ctim.tv_nsec == before.st_ctim.tv_nsec;
}

class SaveFaults : public WindowTest {
protected:
    // Writes msdos.sys, starts the program on it and changes BootMenu, so that Yes has
    // something to write.
    void Open(const std::string& bytes, uint32_t attributes = BootFileAttributes)
    {
        ASSERT_TRUE(open(bytes, attributes));
        toggle(1);
        boxes.shown.clear();
    }

    // Leaves by Exit, answering this; true when the window stays open.
    bool Leave(MessageAnswer answer)
    {
        boxes.answer(answer);
        click("ExitVRNL");
        return !closed();
    }
    bool SaveWithYes() { return Leave(MessageAnswer::Yes); }

    // The same, answered by the user nobody.
    bool SaveWithYesAsNobody()
    {
        AsUser nobody(NobodyId);
        EXPECT_TRUE(nobody.active());
        return SaveWithYes();
    }

    bool ReminderShown() const
    {
        for (const MessageBoxRequest& box : boxes.shown) {
            if (box.text == QStringLiteral("Reboot and check your changes"))
                return true;
        }
        return false;
    }

    // The one box after the question: the failure, naming the file, with its reason.
    void ExpectFailureShown(const char* reason)
    {
        ASSERT_EQ(boxes.shown.size(), 2u);
        const MessageBoxRequest& box = boxes.shown[1];
        EXPECT_EQ(box.title, QStringLiteral("Varnello"));
        EXPECT_EQ(box.icon, MessageIcon::Exclamation);
        EXPECT_EQ(box.buttons, MessageButtons::Ok);
        EXPECT_TRUE(box.text.contains(QStringLiteral("C:\\msdos.sys"))) << box.text.toStdString();
        EXPECT_TRUE(box.text.contains(QString::fromLatin1(reason))) << box.text.toStdString();
        EXPECT_FALSE(ReminderShown());
    }

};

}  // namespace

TEST_F(SaveFaults, EachFailingStepLeavesTheFileAsItWas)
{
    const struct {
        const char* name;
        FileStep atomicStep;  // None: the attribute change fails instead
        int code;
        const char* reason;
    } cases[] = {
        {"creating the temporary file", FileStep::CreateTemporary, ENOSPC,
         "A temporary file could not be created beside the file: No space left on device"},
        {"writing it", FileStep::WriteTemporary, EIO, "The temporary file could not be written: Input/output error"},
        {"giving it the file's attributes", FileStep::Attributes, EPERM,
         "The file attributes could not be read or changed: Operation not permitted"},
        {"flushing it", FileStep::FlushTemporary, EIO, "could not be flushed to disk: Input/output error"},
        {"renaming it", FileStep::Rename, EROFS, "could not replace the file: Read-only file system"},
        {"clearing the attributes", FileStep::None, EROFS, "its attributes could not be cleared"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Open(Msdos);
        if (c.atomicStep != FileStep::None)
            FailAtomicStepForTesting(c.atomicStep, c.code);
        else
            FailAttributeChangeForTesting(1, c.code);

        EXPECT_TRUE(SaveWithYes());  // the window stays open for another try
        ExpectFailureShown(c.reason);
        EXPECT_EQ(file(), Msdos);
        EXPECT_EQ(AttributesOf(MsdosSys), BootFileAttributes);
        EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
        EXPECT_TRUE(window->isVisible());

        // Once the fault is gone, the same window writes.
        FailAtomicStepForTesting(FileStep::None);
        FailAttributeChangeForTesting(0);
        boxes.shown.clear();
        EXPECT_FALSE(SaveWithYes());
        EXPECT_TRUE(ReminderShown());
        EXPECT_TRUE(file().starts_with(Paths + "[Options]\r\nBootMulti=1\r\nBootGUI=1\r\nBootMenu=1\r\n"));
        delete window.data();
    }
}

TEST_F(SaveFaults, AttributesThatCannotBeSetAgainAreReported)
{
    // After a write that succeeded: the reminder, then the warning.
    Open(Msdos);
    FailAttributeChangeForTesting(2, EIO);
    EXPECT_FALSE(SaveWithYes());
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(boxes.shown[1].text, QStringLiteral("Reboot and check your changes"));
    EXPECT_EQ(boxes.shown[2].icon, MessageIcon::Exclamation);
    EXPECT_TRUE(boxes.shown[2].text.contains(QStringLiteral("C:\\msdos.sys could not be made read-only, hidden and "
                                                            "system again")));
    EXPECT_TRUE(file().starts_with(Paths + "[Options]\r\nBootMulti=1\r\nBootGUI=1\r\nBootMenu=1\r\n"));
    delete window.data();

    // After a write that failed: both in one message.
    boxes.shown.clear();
    Open(Msdos);
    FailAtomicStepForTesting(FileStep::Rename, EIO);
    FailAttributeChangeForTesting(2, EIO);
    EXPECT_TRUE(SaveWithYes());
    ExpectFailureShown("could not be made read-only, hidden and system again.\r\nThe file attributes could not be "
                       "read or changed: Input/output error.");
    EXPECT_TRUE(boxes.shown[1].text.contains(QStringLiteral("configuration was not written")));
    EXPECT_EQ(file(), Msdos);
    EXPECT_EQ(AttributesOf(MsdosSys), 0u);  // cleared for the write, and could not be set again
    delete window.data();

    // After No.
    boxes.shown.clear();
    Open(Msdos);
    FailAttributeChangeForTesting(1, EIO);
    EXPECT_FALSE(Leave(MessageAnswer::No));
    ExpectFailureShown("could not be made read-only, hidden and system again");
    EXPECT_EQ(file(), Msdos);
}

TEST_F(SaveFaults, AFullDiskIsReportedAndChangesNothing)
{
    // A file size limit stands in for a full disk: writes beyond it fail with EFBIG.
    std::string large = Paths + Options;
    while (large.size() < 64 * 1024)
        large += ";" + std::string(77, 'x') + "\r\n";
    Open(large);
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limited = saved;
    limited.rlim_cur = 16 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);

    const bool vetoed = SaveWithYes();

    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_TRUE(vetoed);
    ExpectFailureShown("The temporary file could not be written: File too large");
    EXPECT_EQ(file(), large);
    EXPECT_EQ(AttributesOf(MsdosSys), BootFileAttributes);
    EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
}

TEST_F(SaveFaults, NamesThatBecameNoPlainFileAreNeitherWrittenNorWaitedFor)
{
    const std::string path = drive.hostPath("msdos.sys");
    const struct {
        const char* name;
        std::function<bool()> make;
    } cases[] = {
        {"directory", [&] { return mkdir(path.c_str(), 0755) == 0; }},
        {"FIFO", [&] { return mkfifo(path.c_str(), 0644) == 0; }},
        {"link to /dev/null", [&] { return symlink("/dev/null", path.c_str()) == 0; }},
        {"dangling link", [&] { return symlink("gone.sys", path.c_str()) == 0; }},
    };
    alarm(60);  // a save that blocked would end the test here, not hang the run
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Open(Msdos);
        SetFileAttributesA(MsdosSys, 0);
        fs::remove(path);
        ASSERT_TRUE(c.make());
        const struct stat before = LinkStatusOf(path);

        EXPECT_TRUE(SaveWithYes());
        ExpectFailureShown("is no longer there");
        const struct stat after = LinkStatusOf(path);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_FALSE(fs::exists(drive.hostPath("gone.sys")));
        EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
        delete window.data();
        boxes.shown.clear();
        fs::remove_all(path);
    }
    alarm(0);
}

TEST_F(SaveFaults, ALinkKeepsBeingALinkAndItsTargetIsWritten)
{
    fs::create_directory(drive.hostPath("boot"));
    fs::create_symlink("boot/MSDOS.SYS", drive.hostPath("msdos.sys"));
    Open(Msdos);
    EXPECT_FALSE(SaveWithYes());
    EXPECT_TRUE(ReminderShown());
    EXPECT_TRUE(fs::is_symlink(drive.hostPath("msdos.sys")));
    EXPECT_TRUE(drive.read("boot/MSDOS.SYS").starts_with(Paths + "[Options]\r\nBootMulti=1\r\nBootGUI=1\r\nBootMenu=1"));
    EXPECT_EQ(AttributesOf(MsdosSys), BootFileAttributes);
    EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
    EXPECT_TRUE(TemporaryFilesIn(drive.hostPath("boot")).empty());
}

TEST_F(SaveFaults, FilesOfOtherUsers)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to hand files to another user";
    const std::string path = drive.hostPath("msdos.sys");
    const struct {
        const char* name;
        uid_t owner;
        uint32_t attributes;
        mode_t mode;  // then given to the file, unless 0
        mode_t directory;
        bool asNobody;
        const char* failure;  // nullptr: written
        bool untouched;       // refused before anything changed, attributes included
    } cases[] = {
        {"root saves nobody's file: still nobody's", NobodyId, BootFileAttributes, 0, 0755, false, nullptr, false},
        {"nobody saves root's file", 0, BootFileAttributes, 0, 0755, true,
         "could not be given the file's owner and group", true},
        {"nobody saves its own file in root's directory", NobodyId, BootFileAttributes, 0, 0755, true,
         "A temporary file could not be created beside the file: Permission denied", false},
        // Nobody may write it, but a new copy would be nobody's.
        {"nobody saves root's 0666 file in a directory anyone may write", 0, 0, 0666, 0777, true,
         "could not be given the file's owner and group", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.shown.clear();
        ASSERT_EQ(chmod(drive.dir().c_str(), c.directory), 0);
        Open(Msdos, c.attributes);
        ASSERT_EQ(chown(path.c_str(), c.owner, c.owner), 0);
        if (c.mode) {
            ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        }
        const struct stat before = LinkStatusOf(path);
        EXPECT_EQ(c.asNobody ? SaveWithYesAsNobody() : SaveWithYes(), c.failure != nullptr);
        if (c.failure) {
            ExpectFailureShown(c.failure);
            EXPECT_EQ(file(), Msdos);
        } else {
            EXPECT_TRUE(ReminderShown());
        }
        EXPECT_EQ(LinkStatusOf(path).st_uid, c.owner);
        if (c.untouched) {
            EXPECT_TRUE(Untouched(before, LinkStatusOf(path)));
        } else {
            EXPECT_EQ(AttributesOf(MsdosSys), BootFileAttributes);
        }
        EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
        delete window.data();
    }
}

TEST_F(SaveFaults, FilesThatMayNotBeReplacedAreRefusedBeforeAnythingChanges)
{
    const std::string path = drive.hostPath("msdos.sys");
    TempDrive outside('O');
    const struct {
        const char* name;
        std::string watched;  // the file that must stay as it was
        std::function<void()> make;
        const char* reason;
    } cases[] = {
        {"a link out of the drive", outside.hostPath("msdos.sys"),
         [&] {
             outside.write("msdos.sys", Msdos);
             fs::remove(path);
             fs::create_symlink(outside.hostPath("msdos.sys"), path);
         },
         "The file is a link that leads out of the drive's directory"},
        {"a file with another hard link", drive.hostPath("twin.sys"),
         [&] { fs::create_hard_link(path, drive.hostPath("twin.sys")); }, "The file has other hard links"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Open(Msdos);
        c.make();
        const struct stat before = LinkStatusOf(c.watched);
        EXPECT_TRUE(SaveWithYes());
        ExpectFailureShown(c.reason);
        EXPECT_TRUE(Untouched(before, LinkStatusOf(c.watched)));
        EXPECT_EQ(file(), Msdos);
        EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
        delete window.data();
        boxes.shown.clear();
        fs::remove(path);
        fs::remove(drive.hostPath("twin.sys"));
    }
}

TEST_F(SaveFaults, AFileRemovedDuringTheSaveIsNotCreatedAgain)
{
    Open(Msdos);
    int replaces = 0;
    BeforeReplaceForTesting([&] {
        if (++replaces == 3)
            fs::remove(drive.hostPath("msdos.sys"));
    });
    EXPECT_TRUE(SaveWithYes());
    ExpectFailureShown("The file could not be examined: No such file or directory");
    EXPECT_FALSE(fs::exists(drive.hostPath("msdos.sys")));
    EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
}

TEST_F(SaveFaults, EditsMadeByOthersWhileTheWindowIsOpenSurvive)
{
    Open(Msdos);  // BootMenu now on in the window; the file says 0 and Network=1
    ASSERT_TRUE(check(11)->isChecked());
    toggle(11);  // Network off

    // Another program rewrites the file: a new inode, LF line endings, edits everywhere.
    const std::string edited =
        "[Paths]\nWinDir=D:\\WIN95\nWinBootDir=C:\\WINDOWS\nHostWinBootDrv=C\nUninstallDir=C:\\\n\n"
        "[Options]\nBootMulti=1\nAutoScan=2\nBootGUI=0\nBootMenu=0\nNetwork=1\n;added by hand\n" "[Extra]\nKey=1\n";
    SetFileAttributesA(MsdosSys, 0);
    fs::remove(drive.hostPath("msdos.sys"));
    drive.write("msdos.sys", edited);

    EXPECT_FALSE(SaveWithYes());
    EXPECT_TRUE(ReminderShown());
    // The window's fifteen values win over the others' values for those keys (BootGUI is
    // on in the window); everything else they wrote stays.
    EXPECT_EQ(file(),
              "[Paths]\nWinDir=D:\\WIN95\nWinBootDir=C:\\WINDOWS\nHostWinBootDrv=C\nUninstallDir=C:\\\n\n"
              "[Options]\nBootMulti=1\nAutoScan=2\nBootGUI=1\nBootMenu=1\nNetwork=0\n"
              "BootKeys=1\nBootWin=1\nLoadTop=1\nLogo=1\nBootWarn=1\nBootDelay=2\nBootMenuDefault=1\n"
              "BootMenuDelay=30\nDRVSpace=1\nDBLSpace=1\nDoubleBuffer=0\n"
              ";added by hand\n[Extra]\nKey=1\n");
    EXPECT_EQ(AttributesOf(MsdosSys), BootFileAttributes);
}
