#include <QCloseEvent>
#include <QCoreApplication>
#include <QPointer>
#include <QTest>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/startup.h"
#include "editor/vrnl.h"
#include "messageboxes.h"
#include "options/saving.h"
#include "platform/file/atomicfile.h"
#include "platform/qt/controls.h"
#include "platform/file/files.h"
#include "savefixture.h"
#include "tempdrive.h"

namespace {

// What Yes writes into an empty section "Options" after Default Settings: every key
// appended, so the order of the lines is the order of the writes.
const std::string DefaultsWritten =
    "[Options]\r\n"
    "BootMenu=0\r\nBootMulti=0\r\nBootKeys=1\r\nBootGUI=1\r\nBootWin=1\r\n"
    "LoadTop=1\r\nLogo=1\r\nBootWarn=1\r\n"
    "BootDelay=2\r\nBootMenuDefault=1\r\nBootMenuDelay=30\r\n"
    "DRVSpace=1\r\nDBLSpace=1\r\nNetwork=0\r\nDoubleBuffer=0\r\n";

const std::string Padding =
    ";\r\n"
    ";The lines below only pad this file out. Some programs expect MSDOS.SYS\r\n"
    ";to be longer than 1024 bytes, so leave them in place.\r\n"
    ";xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\r\n"
    ";xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\r\n";

// Everything a Cancel must leave alone.
struct WindowState {
    BootOptions options;
    bool userEditing;
    std::array<bool, 13> checked{};
    std::array<bool, 13> enabled{};
    std::array<QString, 3> texts;

    explicit WindowState(const VRNL& window) : options(window.Options), userEditing(window.UserEditing)
    {
        for (int i = 1; i <= 12; ++i) {
            checked[i] = window.Check[i]->isChecked();
            enabled[i] = window.Check[i]->isEnabled();
        }
        for (int i = 0; i < 3; ++i)
            texts[i] = window.Text[i]->text();
    }
    bool operator==(const WindowState&) const = default;
};

struct stat StatOf(const std::string& path)
{
    struct stat status {};
    stat(path.c_str(), &status);
    return status;
}

// Sets or clears the file system's immutable flag; false where that is not allowed.
bool SetImmutable(const std::string& path, bool on)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return ok;
}

void ExpectQuestion(const MessageBoxRequest& box, bool endingSession)
{
    EXPECT_EQ(box.text, QStringLiteral("Write configuration on disk?"));
    EXPECT_EQ(box.title, QStringLiteral("Varnello"));
    EXPECT_EQ(box.icon, MsgIcon::Question);
    EXPECT_EQ(box.buttons, endingSession ? MsgButtons::YesNo : MsgButtons::YesNoCancel);
    EXPECT_EQ(box.defaultButton, endingSession ? MsgAnswer::No : MsgAnswer::Cancel);
}

void ExpectReminder(const MessageBoxRequest& box)
{
    EXPECT_EQ(box.text, QStringLiteral("Reboot and check your changes"));
    EXPECT_EQ(box.title, QStringLiteral("Varnello"));
    EXPECT_EQ(box.icon, MsgIcon::Information);
    EXPECT_EQ(box.buttons, MsgButtons::Ok);
}

void ExpectNotWritten(const MessageBoxRequest& box)
{
    EXPECT_EQ(box.title, QStringLiteral("Varnello"));
    EXPECT_EQ(box.icon, MsgIcon::Exclamation);
    EXPECT_EQ(box.buttons, MsgButtons::Ok);
    EXPECT_TRUE(box.text.contains(QStringLiteral("C:\\msdos.sys"))) << box.text.toStdString();
    EXPECT_TRUE(box.text.contains(QStringLiteral("configuration was not written"))) << box.text.toStdString();
    EXPECT_FALSE(box.text.contains(QStringLiteral(".."))) << box.text.toStdString();
}

class SavingTest : public SaveFixture {
protected:
    // True once the window has closed and is gone.
    bool Closed()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return window.isNull();
    }
};

}  // namespace

TEST_F(SavingTest, YesAfterDefaultSettingsWritesTheFifteenKeysInWritingOrder)
{
    Open("[Options]\r\n", 0x27);
    window->Check[1]->click();
    window->Check[11]->click();
    boxes.answer(MsgAnswer::Yes);  // Default Settings
    window->DefaultSettings->click();
    ASSERT_EQ(window->Options, Windows95Defaults);

    boxes.shown.clear();
    boxes.onShow = [this](const MessageBoxRequest& box) {
        if (box.text.startsWith(QStringLiteral("Reboot"))) {
            // Written with the attributes cleared; they are set again only afterwards.
            EXPECT_EQ(File(), DefaultsWritten);
            EXPECT_EQ(GetFileAttributesA(MsdosSys), 0u);
        }
    };
    boxes.answer(MsgAnswer::Yes);
    window->ExitVRNL->click();

    ASSERT_EQ(boxes.shown.size(), 2u);
    ExpectQuestion(boxes.shown[0], false);
    ExpectReminder(boxes.shown[1]);
    EXPECT_EQ(File(), DefaultsWritten);
    EXPECT_EQ(GetFileAttributesA(MsdosSys), 7u);
    EXPECT_TRUE(Closed());
}

TEST_F(SavingTest, YesAddsMissingKeysAndKeepsEveryOtherByte)
{
    const std::string options = "[Options]\r\nBootMulti=1\r\nBootGUI=1\r\nNetwork=1\r\nBootMenu=1\r\n"
                                "AutoScan=1\r\nBootMenuDelay=5\r\n";
    const std::string tail = "\r\n[Other]\r\nNetwork=1\r\n";
    Open(Paths + options + Padding + tail);
    window->Check[11]->click();  // Network off
    ASSERT_FALSE(window->Options.Network);

    boxes.answer(MsgAnswer::Yes);
    window->ExitVRNL->click();

    const std::string written = "[Options]\r\nBootMulti=1\r\nBootGUI=1\r\nNetwork=0\r\nBootMenu=1\r\n"
                                "AutoScan=1\r\nBootMenuDelay=5\r\n"
                                "BootKeys=1\r\nBootWin=1\r\nLoadTop=1\r\nLogo=1\r\nBootWarn=1\r\nBootDelay=2\r\n"
                                "BootMenuDefault=1\r\nDRVSpace=1\r\nDBLSpace=1\r\nDoubleBuffer=0\r\n";
    EXPECT_EQ(File(), Paths + written + Padding + tail);
    EXPECT_EQ(GetFileAttributesA(MsdosSys), 7u);
    ASSERT_EQ(boxes.shown.size(), 2u);
    ExpectReminder(boxes.shown[1]);
    EXPECT_TRUE(Closed());
}

TEST_F(SavingTest, YesWritesTheValueTextsOfWhatWasRead)
{
    const std::pair<const char*, const char*> cases[] = {
        {"BootMenu=2", "BootMenu=1"},         {"BootMenu=-1", "BootMenu=1"},
        {"DoubleBuffer=0", "DoubleBuffer=0"}, {"BootDelay=150", "BootDelay=150"},
        {"BootDelay=-5", "BootDelay=5"},      {"BootMenuDelay=-30", "BootMenuDelay=30"},
    };
    for (const auto& [read, written] : cases) {
        Open("[Options]\r\n" + std::string(read) + "\r\n");
        boxes.answer(MsgAnswer::Yes);
        window->ExitVRNL->click();
        EXPECT_TRUE(File().starts_with("[Options]\r\n" + std::string(written) + "\r\n")) << read << "\n" << File();
        EXPECT_TRUE(Closed()) << read;
    }
}

TEST_F(SavingTest, NoKeepsTheContentAndLeavesExactlyReadOnlyHiddenSystem)
{
    const std::string bytes = Paths + "[Options]\r\nBootMenu=2\r\nBootDelay=150\r\n" + Padding;
    for (uint32_t before : {0x07u, 0x27u, 0x05u, 0x01u, 0x20u, 0x00u}) {
        Open(bytes, before);
        window->Check[3]->click();  // a change that No must not write
        boxes.answer(MsgAnswer::No);
        window->ExitVRNL->click();

        ASSERT_EQ(boxes.shown.size(), 1u) << before;
        ExpectQuestion(boxes.shown[0], false);
        EXPECT_EQ(File(), bytes) << before;
        EXPECT_EQ(GetFileAttributesA(MsdosSys), 7u) << before;
        EXPECT_TRUE(Closed()) << before;
    }
}

TEST_F(SavingTest, CancelChangesNothingAndTheNextExitAsksAgain)
{
    unlink(drive.hostPath("command.dos").c_str());  // locks Check(2) and Check(5)
    const std::string bytes = Paths + "[Options]\r\nBootMulti=1\r\nBootWin=0\r\nBootDelay=150\r\n" + Padding;
    Open(bytes, 0x21);
    const timespec times[2] = {{1000000000, 123456789}, {1000000000, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, drive.hostPath("msdos.sys").c_str(), times, 0), 0);
    window->Check[1]->click();
    window->Text[2]->setText(QStringLiteral("7"));
    ASSERT_FALSE(window->Check[2]->isEnabled());
    ASSERT_FALSE(window->Check[5]->isEnabled());
    const WindowState state(*window);
    const struct stat before = StatOf(drive.hostPath("msdos.sys"));

    for (int attempt = 1; attempt <= 2; ++attempt) {
        window->ExitVRNL->click();  // the question's default is Cancel

        ASSERT_EQ(boxes.shown.size(), size_t(attempt));
        ExpectQuestion(boxes.shown.back(), false);
        ASSERT_FALSE(Closed());
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(WindowState(*window) == state);
        EXPECT_EQ(File(), bytes);
        EXPECT_EQ(GetFileAttributesA(MsdosSys), 0x21u);
        const struct stat after = StatOf(drive.hostPath("msdos.sys"));
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    }
}

TEST_F(SavingTest, EveryCloseRequestAsks)
{
    const std::pair<const char*, std::function<void(VRNL*)>> routes[] = {
        {"Exit button", [](VRNL* w) { w->ExitVRNL->click(); }},
        {"Esc", [](VRNL* w) { QTest::keyClick(w, Qt::Key_Escape); }},
        {"Esc in a check box", [](VRNL* w) { QTest::keyClick(w->Check[3], Qt::Key_Escape); }},
        {"Esc in a numeric field", [](VRNL* w) { QTest::keyClick(w->Text[0], Qt::Key_Escape); }},
        {"close()", [](VRNL* w) { w->close(); }},
        {"window system close",
         [](VRNL* w) {
             QCloseEvent event;
             QCoreApplication::sendEvent(w->windowHandle(), &event);
         }},
    };
    const std::string bytes = "[Options]\r\nBootMenu=1\r\n";
    for (const auto& [name, route] : routes) {
        Open(bytes, 0x20);
        route(window);  // Cancel
        ASSERT_EQ(boxes.shown.size(), 1u) << name;
        ExpectQuestion(boxes.shown[0], false);
        ASSERT_FALSE(Closed()) << name;
        EXPECT_EQ(GetFileAttributesA(MsdosSys), 0x20u) << name;

        boxes.answer(MsgAnswer::No);
        route(window);
        EXPECT_EQ(boxes.shown.size(), 2u) << name;
        EXPECT_TRUE(Closed()) << name;
        EXPECT_EQ(File(), bytes) << name;
        EXPECT_EQ(GetFileAttributesA(MsdosSys), 7u) << name;
    }
}

TEST_F(SavingTest, SessionEndOffersOnlyYesAndNoAndAlwaysCloses)
{
    const std::string bytes = "[Options]\r\n";

    Open(bytes, 0x20);
    window->EndSession(true);  // the default, No
    ASSERT_EQ(boxes.shown.size(), 1u);
    ExpectQuestion(boxes.shown[0], true);
    EXPECT_TRUE(Closed());
    EXPECT_EQ(File(), bytes);
    EXPECT_EQ(GetFileAttributesA(MsdosSys), 7u);

    Open(bytes, 0x20);
    boxes.answer(MsgAnswer::Yes);
    window->EndSession(true);
    ASSERT_EQ(boxes.shown.size(), 2u);
    ExpectQuestion(boxes.shown[0], true);
    ExpectReminder(boxes.shown[1]);
    EXPECT_TRUE(Closed());
    EXPECT_EQ(File(), DefaultsWritten);
    EXPECT_EQ(GetFileAttributesA(MsdosSys), 7u);

    // A field being edited is normalised before the question, as if left.
    Open(bytes, 0x20);
    window->Text[1]->setFocus();
    QTest::keyClicks(window->Text[1], "\b\b0");
    boxes.answer(MsgAnswer::Yes);
    window->EndSession(true);
    EXPECT_NE(File().find("BootMenuDelay=1\r\n"), std::string::npos) << File();

    // Without leave to interact the user never confirms: no question, nothing written.
    Open(bytes, 0x20);
    window->EndSession(false);
    EXPECT_EQ(boxes.shown.size(), 0u);
    EXPECT_TRUE(Closed());
    EXPECT_EQ(File(), bytes);
    EXPECT_EQ(GetFileAttributesA(MsdosSys), 0x20u);
}

TEST_F(SavingTest, FileRemovedBeforeYesIsNotCreatedAgain)
{
    Open("[Options]\r\nBootMenu=1\r\n");
    window->Check[12]->click();
    const WindowState state(*window);
    SetFileAttributesA(MsdosSys, 0);
    ASSERT_EQ(unlink(drive.hostPath("msdos.sys").c_str()), 0);

    boxes.answer(MsgAnswer::Yes);
    window->ExitVRNL->click();
    ASSERT_EQ(boxes.shown.size(), 2u);
    ExpectNotWritten(boxes.shown[1]);
    EXPECT_TRUE(boxes.shown[1].text.contains(QStringLiteral("no longer there")));
    EXPECT_FALSE(FileExists(MsdosSys));
    ASSERT_FALSE(Closed());
    EXPECT_TRUE(WindowState(*window) == state);

    boxes.answer(MsgAnswer::No);  // leaving without writing creates nothing either
    window->ExitVRNL->click();
    EXPECT_EQ(boxes.shown.size(), 3u);
    EXPECT_TRUE(Closed());
    EXPECT_FALSE(FileExists(MsdosSys));
}

TEST_F(SavingTest, AttributesThatCannotBeClearedStopTheWrite)
{
    const std::string bytes = Paths + "[Options]\r\nBootMenu=1\r\n" + Padding;
    Open(bytes);
    window->Check[1]->click();
    const std::string host = drive.hostPath("msdos.sys");
    if (!SetImmutable(host, true))
        GTEST_SKIP() << "cannot make a file immutable here";

    boxes.answer(MsgAnswer::Yes);
    window->ExitVRNL->click();
    SetImmutable(host, false);

    ASSERT_EQ(boxes.shown.size(), 2u);
    ExpectNotWritten(boxes.shown[1]);
    EXPECT_TRUE(boxes.shown[1].text.contains(QStringLiteral("attributes")));
    EXPECT_EQ(File(), bytes);
    EXPECT_EQ(GetFileAttributesA(MsdosSys), 7u);
    EXPECT_FALSE(Closed());
}

TEST_F(SavingTest, FailedKeyWriteKeepsTheFileAndTheWindowForAnotherTry)
{
    const std::string bytes = Paths + "[Options]\r\n" + Padding;
    Open(bytes);
    window->Check[1]->click();
    const WindowState state(*window);
    FailAtomicStepForTesting(FileStep::Rename, EIO);

    boxes.answer(MsgAnswer::Yes);
    window->ExitVRNL->click();
    ASSERT_EQ(boxes.shown.size(), 2u);
    ExpectNotWritten(boxes.shown[1]);
    EXPECT_EQ(File(), bytes);
    EXPECT_EQ(GetFileAttributesA(MsdosSys), 7u);  // cleared for the write, then put back
    ASSERT_FALSE(Closed());
    EXPECT_TRUE(WindowState(*window) == state);

    FailAtomicStepForTesting(FileStep::None);
    boxes.answer(MsgAnswer::Yes);
    window->ExitVRNL->click();
    ASSERT_EQ(boxes.shown.size(), 4u);
    ExpectReminder(boxes.shown[3]);
    EXPECT_TRUE(File().starts_with(Paths + "[Options]\r\nBootMenu=1\r\nBootMulti=0\r\n"));
    EXPECT_TRUE(Closed());
}

TEST_F(SavingTest, KeyWriteFailingPartWayNamesTheKey)
{
    // The first five keys already hold their values, so only LoadTop needs a replace.
    const std::string bytes = "[Options]\r\nBootMenu=0\r\nBootMulti=0\r\nBootKeys=1\r\nBootGUI=1\r\nBootWin=1\r\n";
    Open(bytes);
    FailAtomicStepForTesting(FileStep::CreateTemporary, ENOSPC);

    boxes.answer(MsgAnswer::Yes);
    window->ExitVRNL->click();
    ASSERT_EQ(boxes.shown.size(), 2u);
    ExpectNotWritten(boxes.shown[1]);
    EXPECT_TRUE(boxes.shown[1].text.contains(QStringLiteral("LoadTop"))) << boxes.shown[1].text.toStdString();
    EXPECT_TRUE(boxes.shown[1].text.contains(QStringLiteral("5 of the 15"))) << boxes.shown[1].text.toStdString();
    EXPECT_EQ(File(), bytes);
    EXPECT_EQ(GetFileAttributesA(MsdosSys), 7u);
    EXPECT_FALSE(Closed());
}

TEST_F(SavingTest, FailureAtSessionEndIsReportedAndTheWindowCloses)
{
    const std::string bytes = "[Options]\r\n";
    Open(bytes);
    FailAtomicStepForTesting(FileStep::WriteTemporary, EIO);

    boxes.answer(MsgAnswer::Yes);
    window->EndSession(true);
    ASSERT_EQ(boxes.shown.size(), 2u);
    ExpectQuestion(boxes.shown[0], true);
    ExpectNotWritten(boxes.shown[1]);
    EXPECT_FALSE(boxes.shown[1].text.contains(QStringLiteral("try again")));
    EXPECT_EQ(File(), bytes);
    EXPECT_EQ(GetFileAttributesA(MsdosSys), 7u);
    EXPECT_TRUE(Closed());
}
