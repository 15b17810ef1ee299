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

#include "windowfixture.h"

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

// What the user sees of the values, which a Cancel must leave alone: each box ticked
// and enabled or not, and each field's text.
QString WindowState(const QWidget* window)
{
    QString state;
    for (int i = 1; i <= 12; ++i) {
        const auto* box = window->findChild<QCheckBox*>(QStringLiteral("Check(%1)").arg(i));
        state += QLatin1String(box->isChecked() ? "x" : "-") + QLatin1String(box->isEnabled() ? " " : "! ");
    }
    for (int i = 0; i < 3; ++i)
        state += window->findChild<QLineEdit*>(QStringLiteral("Text(%1)").arg(i))->text() + QLatin1Char(' ');
    return state;
}

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
    EXPECT_EQ(box.icon, MessageIcon::Question);
    EXPECT_EQ(box.buttons, endingSession ? MessageButtons::YesNo : MessageButtons::YesNoCancel);
    EXPECT_EQ(box.defaultButton, endingSession ? MessageAnswer::No : MessageAnswer::Cancel);
}

void ExpectReminder(const MessageBoxRequest& box)
{
    EXPECT_EQ(box.text, QStringLiteral("Reboot and check your changes"));
    EXPECT_EQ(box.title, QStringLiteral("Varnello"));
    EXPECT_EQ(box.icon, MessageIcon::Information);
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
}

void ExpectNotWritten(const MessageBoxRequest& box)
{
    EXPECT_EQ(box.title, QStringLiteral("Varnello"));
    EXPECT_EQ(box.icon, MessageIcon::Exclamation);
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
    EXPECT_TRUE(box.text.contains(QStringLiteral("C:\\msdos.sys"))) << box.text.toStdString();
    EXPECT_TRUE(box.text.contains(QStringLiteral("configuration was not written"))) << box.text.toStdString();
    EXPECT_FALSE(box.text.contains(QStringLiteral(".."))) << box.text.toStdString();
}

class SavingTest : public WindowTest {
protected:
    // Opens the window on these bytes and attributes; the boxes of the load are not counted.
    void Open(const std::string& bytes, uint32_t attributes = BootFileAttributes)
    {
        ASSERT_TRUE(open(bytes, attributes));
        boxes.shown.clear();
    }
};

}  // namespace

TEST_F(SavingTest, YesAfterDefaultSettingsWritesTheFifteenKeysInWritingOrder)
{
    Open("[Options]\r\n", 0x27);
    toggle(1);
    toggle(11);
    boxes.answer(MessageAnswer::Yes);  // Default Settings
    click("DefaultSettings");

    boxes.shown.clear();
    boxes.onShow = [this](const MessageBoxRequest& box) {
        if (box.text.startsWith(QStringLiteral("Reboot"))) {
            // Written with the attributes cleared; they are set again only afterwards.
            EXPECT_EQ(file(), DefaultsWritten);
            EXPECT_EQ(AttributesOf(MsdosSys), 0u);
        }
    };
    boxes.answer(MessageAnswer::Yes);
    click("ExitVRNL");

    ASSERT_EQ(boxes.shown.size(), 2u);
    ExpectQuestion(boxes.shown[0], false);
    ExpectReminder(boxes.shown[1]);
    EXPECT_EQ(file(), DefaultsWritten);
    EXPECT_EQ(AttributesOf(MsdosSys), 7u);
    EXPECT_TRUE(closed());
}

TEST_F(SavingTest, YesAddsMissingKeysAndKeepsEveryOtherByte)
{
    const std::string options = "[Options]\r\nBootMulti=1\r\nBootGUI=1\r\nNetwork=1\r\nBootMenu=1\r\n"
                                "AutoScan=1\r\nBootMenuDelay=5\r\n";
    const std::string tail = "\r\n[Other]\r\nNetwork=1\r\n";
    Open(Paths + options + Padding + tail);
    toggle(11);  // Network off

    boxes.answer(MessageAnswer::Yes);
    click("ExitVRNL");

    const std::string written = "[Options]\r\nBootMulti=1\r\nBootGUI=1\r\nNetwork=0\r\nBootMenu=1\r\n"
                                "AutoScan=1\r\nBootMenuDelay=5\r\n"
                                "BootKeys=1\r\nBootWin=1\r\nLoadTop=1\r\nLogo=1\r\nBootWarn=1\r\nBootDelay=2\r\n"
                                "BootMenuDefault=1\r\nDRVSpace=1\r\nDBLSpace=1\r\nDoubleBuffer=0\r\n";
    EXPECT_EQ(file(), Paths + written + Padding + tail);
    EXPECT_EQ(AttributesOf(MsdosSys), 7u);
    ASSERT_EQ(boxes.shown.size(), 2u);
    ExpectReminder(boxes.shown[1]);
    EXPECT_TRUE(closed());
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
        boxes.answer(MessageAnswer::Yes);
        click("ExitVRNL");
        EXPECT_TRUE(file().starts_with("[Options]\r\n" + std::string(written) + "\r\n")) << read << "\n" << file();
        EXPECT_TRUE(closed()) << read;
    }
}

TEST_F(SavingTest, NoKeepsTheContentAndLeavesExactlyReadOnlyHiddenSystem)
{
    const std::string bytes = Paths + "[Options]\r\nBootMenu=2\r\nBootDelay=150\r\n" + Padding;
    for (uint32_t before : {0x07u, 0x27u, 0x05u, 0x01u, 0x20u, 0x00u}) {
        Open(bytes, before);
        toggle(3);  // a change that No must not write
        boxes.answer(MessageAnswer::No);
        click("ExitVRNL");

        ASSERT_EQ(boxes.shown.size(), 1u) << before;
        ExpectQuestion(boxes.shown[0], false);
        EXPECT_EQ(file(), bytes) << before;
        EXPECT_EQ(AttributesOf(MsdosSys), 7u) << before;
        EXPECT_TRUE(closed()) << before;
    }
}

TEST_F(SavingTest, CancelChangesNothingAndTheNextExitAsksAgain)
{
    unlink(drive.hostPath("command.dos").c_str());  // locks Check(2) and Check(5)
    const std::string bytes = Paths + "[Options]\r\nBootMulti=1\r\nBootWin=0\r\nBootDelay=150\r\n" + Padding;
    Open(bytes, 0x21);
    const timespec times[2] = {{1000000000, 123456789}, {1000000000, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, drive.hostPath("msdos.sys").c_str(), times, 0), 0);
    toggle(1);
    type(2, QStringLiteral("7"));
    ASSERT_FALSE(check(2)->isEnabled());
    ASSERT_FALSE(check(5)->isEnabled());
    const QString state = WindowState(window);
    const struct stat before = StatOf(drive.hostPath("msdos.sys"));

    for (int attempt = 1; attempt <= 2; ++attempt) {
        click("ExitVRNL");  // the question's default is Cancel

        ASSERT_EQ(boxes.shown.size(), size_t(attempt));
        ExpectQuestion(boxes.shown.back(), false);
        ASSERT_FALSE(closed());
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(WindowState(window) == state);
        EXPECT_EQ(file(), bytes);
        EXPECT_EQ(AttributesOf(MsdosSys), 0x21u);
        const struct stat after = StatOf(drive.hostPath("msdos.sys"));
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    }
    // The values behind the controls too: the user's changes still ask, and Yes writes
    // what the window held.
    toggle(9);  // the question's default keeps the driver
    EXPECT_EQ(boxes.shown.size(), 3u);
    BootOptions expected = Windows95Defaults;  // dual boot forced off, Windows 95 on
    expected.BootMenu = true;
    expected.BootDelay = 150;
    expected.BootMenuDefault = 7;
    EXPECT_EQ(saved(), expected);
}

TEST_F(SavingTest, EveryCloseRequestAsks)
{
    const std::pair<const char*, std::function<void(VRNL*)>> routes[] = {
        {"Exit button", [](VRNL* w) { QTest::mouseClick(w->findChild<QWidget*>("ExitVRNL"), Qt::LeftButton); }},
        {"Esc", [](VRNL* w) { QTest::keyClick(w, Qt::Key_Escape); }},
        {"Esc in a check box", [](VRNL* w) { QTest::keyClick(w->findChild<QWidget*>("Check(3)"), Qt::Key_Escape); }},
        {"Esc in a numeric field", [](VRNL* w) { QTest::keyClick(w->findChild<QWidget*>("Text(0)"), Qt::Key_Escape); }},
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
        ASSERT_FALSE(closed()) << name;
        EXPECT_EQ(AttributesOf(MsdosSys), 0x20u) << name;

        boxes.answer(MessageAnswer::No);
        route(window);
        EXPECT_EQ(boxes.shown.size(), 2u) << name;
        EXPECT_TRUE(closed()) << name;
        EXPECT_EQ(file(), bytes) << name;
        EXPECT_EQ(AttributesOf(MsdosSys), 7u) << name;
    }
}

TEST_F(SavingTest, SessionEndOffersOnlyYesAndNoAndAlwaysCloses)
{
    const std::string bytes = "[Options]\r\n";

    Open(bytes, 0x20);
    window->EndSession(true);  // the default, No
    ASSERT_EQ(boxes.shown.size(), 1u);
    ExpectQuestion(boxes.shown[0], true);
    EXPECT_TRUE(closed());
    EXPECT_EQ(file(), bytes);
    EXPECT_EQ(AttributesOf(MsdosSys), 7u);

    Open(bytes, 0x20);
    boxes.answer(MessageAnswer::Yes);
    window->EndSession(true);
    ASSERT_EQ(boxes.shown.size(), 2u);
    ExpectQuestion(boxes.shown[0], true);
    ExpectReminder(boxes.shown[1]);
    EXPECT_TRUE(closed());
    EXPECT_EQ(file(), DefaultsWritten);
    EXPECT_EQ(AttributesOf(MsdosSys), 7u);

    // A field being edited is normalised before the question, as if left.
    Open(bytes, 0x20);
    enter(1);
    QTest::keyClicks(text(1), "0");
    boxes.answer(MessageAnswer::Yes);
    window->EndSession(true);
    EXPECT_NE(file().find("BootMenuDelay=1\r\n"), std::string::npos) << file();

    // Without leave to interact the user never confirms: no question, nothing written.
    Open(bytes, 0x20);
    window->EndSession(false);
    EXPECT_EQ(boxes.shown.size(), 0u);
    EXPECT_TRUE(closed());
    EXPECT_EQ(file(), bytes);
    EXPECT_EQ(AttributesOf(MsdosSys), 0x20u);
}

TEST_F(SavingTest, FileRemovedBeforeYesIsNotCreatedAgain)
{
    Open("[Options]\r\nBootMenu=1\r\n");
    toggle(12);
    const QString state = WindowState(window);
    SetFileAttributesA(MsdosSys, 0);
    ASSERT_EQ(unlink(drive.hostPath("msdos.sys").c_str()), 0);

    boxes.answer(MessageAnswer::Yes);
    click("ExitVRNL");
    ASSERT_EQ(boxes.shown.size(), 2u);
    ExpectNotWritten(boxes.shown[1]);
    EXPECT_TRUE(boxes.shown[1].text.contains(QStringLiteral("no longer there")));
    EXPECT_FALSE(FileExists(MsdosSys));
    ASSERT_FALSE(closed());
    EXPECT_TRUE(WindowState(window) == state);

    boxes.answer(MessageAnswer::No);  // leaving without writing creates nothing either
    click("ExitVRNL");
    EXPECT_EQ(boxes.shown.size(), 3u);
    EXPECT_TRUE(closed());
    EXPECT_FALSE(FileExists(MsdosSys));
}

TEST_F(SavingTest, AttributesThatCannotBeClearedStopTheWrite)
{
    const std::string bytes = Paths + "[Options]\r\nBootMenu=1\r\n" + Padding;
    Open(bytes);
    toggle(1);
    const std::string host = drive.hostPath("msdos.sys");
    if (!SetImmutable(host, true))
        GTEST_SKIP() << "cannot make a file immutable here";

    boxes.answer(MessageAnswer::Yes);
    click("ExitVRNL");
    SetImmutable(host, false);

    ASSERT_EQ(boxes.shown.size(), 2u);
    ExpectNotWritten(boxes.shown[1]);
    EXPECT_TRUE(boxes.shown[1].text.contains(QStringLiteral("attributes")));
    EXPECT_EQ(file(), bytes);
    EXPECT_EQ(AttributesOf(MsdosSys), 7u);
    EXPECT_FALSE(closed());
}

TEST_F(SavingTest, FailedKeyWriteKeepsTheFileAndTheWindowForAnotherTry)
{
    const std::string bytes = Paths + "[Options]\r\n" + Padding;
    Open(bytes);
    toggle(1);
    const QString state = WindowState(window);
    FailAtomicStepForTesting(FileStep::Rename, EIO);

    boxes.answer(MessageAnswer::Yes);
    click("ExitVRNL");
    ASSERT_EQ(boxes.shown.size(), 2u);
    ExpectNotWritten(boxes.shown[1]);
    EXPECT_EQ(file(), bytes);
    EXPECT_EQ(AttributesOf(MsdosSys), 7u);  // cleared for the write, then put back
    ASSERT_FALSE(closed());
    EXPECT_TRUE(WindowState(window) == state);

    FailAtomicStepForTesting(FileStep::None);
    boxes.answer(MessageAnswer::Yes);
    click("ExitVRNL");
    ASSERT_EQ(boxes.shown.size(), 4u);
    ExpectReminder(boxes.shown[3]);
    EXPECT_TRUE(file().starts_with(Paths + "[Options]\r\nBootMenu=1\r\nBootMulti=0\r\n"));
    EXPECT_TRUE(closed());
}

TEST_F(SavingTest, AKeyWriteFailingPartWayCountsOnlyTheKeysWritten)
{
    // BootMenu=2 is written as 1, the next four keys hold their values already, and then
    // LoadTop, the first key to add, fails.
    const std::string rest = "BootMulti=0\r\nBootKeys=1\r\nBootGUI=1\r\nBootWin=1\r\n";
    Open("[Options]\r\nBootMenu=2\r\n" + rest);
    BeforeReplaceForTesting([] { FailAtomicStepForTesting(FileStep::CreateTemporary, ENOSPC); });

    boxes.answer(MessageAnswer::Yes);
    click("ExitVRNL");
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].text,
              QStringLiteral("The configuration was only partly written to C:\\msdos.sys: writing the key LoadTop "
                             "failed when 1 of the 15 keys had been written.\r\nA temporary file could not be created "
                             "beside the file: No space left on device.\r\nPress Exit to try again, or answer No to "
                             "leave without writing."));
    EXPECT_EQ(file(), "[Options]\r\nBootMenu=1\r\n" + rest);
    EXPECT_EQ(AttributesOf(MsdosSys), 7u);
    EXPECT_FALSE(closed());
}

TEST_F(SavingTest, FailureAtSessionEndIsReportedAndTheWindowCloses)
{
    const std::string bytes = "[Options]\r\n";
    Open(bytes);
    FailAtomicStepForTesting(FileStep::WriteTemporary, EIO);

    boxes.answer(MessageAnswer::Yes);
    window->EndSession(true);
    ASSERT_EQ(boxes.shown.size(), 2u);
    ExpectQuestion(boxes.shown[0], true);
    ExpectNotWritten(boxes.shown[1]);
    EXPECT_FALSE(boxes.shown[1].text.contains(QStringLiteral("try again")));
    EXPECT_EQ(file(), bytes);
    EXPECT_EQ(AttributesOf(MsdosSys), 7u);
    EXPECT_TRUE(closed());
}
