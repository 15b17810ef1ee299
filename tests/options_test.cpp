// Reading msdos.sys into the window, showing the values, the earlier-MS-DOS check and
// the Default Settings command.

#include <QApplication>
#include <cstdint>
#include <fcntl.h>

#include "platform/files/files.h"
#include "platform/qt/ui.h"
#include "safetykit.h"
#include "scopedenv.h"
#include "windowfixture.h"

namespace {

struct NumberKey {
    const char* key;
    int16_t BootOptions::*option;
    int field;  // Text(field) shows it
};
const std::array<NumberKey, 3> NumberKeys{{
    {"BootDelay", &BootOptions::BootDelay, 0},
    {"BootMenuDelay", &BootOptions::BootMenuDelay, 1},
    {"BootMenuDefault", &BootOptions::BootMenuDefault, 2},
}};

struct FlagKey {
    const char* key;
    bool BootOptions::*option;
};
const std::array<FlagKey, 12> FlagKeys{{
    {"BootMenu", &BootOptions::BootMenu},
    {"BootMulti", &BootOptions::BootMulti},
    {"BootKeys", &BootOptions::BootKeys},
    {"BootGUI", &BootOptions::BootGUI},
    {"BootWin", &BootOptions::BootWin},
    {"BootWarn", &BootOptions::BootWarn},
    {"Logo", &BootOptions::Logo},
    {"LoadTop", &BootOptions::LoadTop},
    {"DBLSpace", &BootOptions::DBLSpace},
    {"DRVSpace", &BootOptions::DRVSpace},
    {"Network", &BootOptions::Network},
    {"DoubleBuffer", &BootOptions::DoubleBuffer},
}};

class ReadingTest : public testing::Test {
protected:
    BootOptions read(const std::string& contents)
    {
        drive.write("msdos.sys", contents);
        return ReadBootOptions(drive.dosPath("msdos.sys"));
    }
    TempDrive drive;
};

TEST(BootOptionsTable, Windows95Defaults)
{
    const BootOptions d = Windows95Defaults;
    for (bool BootOptions::*off : {&BootOptions::BootMenu, &BootOptions::BootMulti, &BootOptions::Network,
                                    &BootOptions::DoubleBuffer})
        EXPECT_FALSE(d.*off);
    for (bool BootOptions::*on : {&BootOptions::BootKeys, &BootOptions::BootGUI, &BootOptions::BootWin,
                                   &BootOptions::BootWarn, &BootOptions::Logo, &BootOptions::LoadTop,
                                   &BootOptions::DBLSpace, &BootOptions::DRVSpace})
        EXPECT_TRUE(d.*on);
    EXPECT_EQ(d.BootDelay, 2);
    EXPECT_EQ(d.BootMenuDelay, 30);
    EXPECT_EQ(d.BootMenuDefault, 1);
}

TEST_F(ReadingTest, WithoutTheKeysGivesWindows95Defaults)
{
    for (const char* contents : {
             "",
             "[Options]\r\n",
             "[Paths]\r\nWinDir=C:\\WINDOWS\r\n",
             "[Options]\r\nBootFailSafe=1\r\nAutoScan=1\r\n",
             "[Paths]\r\nBootMenu=1\r\nBootDelay=9\r\n[Options]\r\n",
             "[Options]\r\nBootMenu=\r\nBootDelay=\r\n",
         }) {
        SCOPED_TRACE(contents);
        EXPECT_EQ(read(contents), Windows95Defaults);
    }
    EXPECT_EQ(ReadBootOptions(drive.dosPath("nothere.sys")), Windows95Defaults);
}

// Each key on its own changes its own value and no other.
TEST_F(ReadingTest, EachFlagKeyReadsIntoItsOwnValue)
{
    for (const FlagKey& flag : FlagKeys) {
        for (const char* value : {"1", "2", "-1", "0", "65536", "-2147483648", "99999999999"}) {
            SCOPED_TRACE(std::string(flag.key) + "=" + value);
            BootOptions expected = Windows95Defaults;
            expected.*flag.option = std::string(value) != "0";
            EXPECT_EQ(read(std::string("[Options]\r\n") + flag.key + "=" + value + "\r\n"), expected);
        }
    }
}

// Negative numbers read as their magnitude; magnitudes beyond 16 bits are held as 32767.
TEST_F(ReadingTest, NumbersAreMagnitudesSaturatedAt16Bits)
{
    const std::pair<const char*, int16_t> cases[] = {
        {"0", 0},
        {"7", 7},
        {"-5", 5},
        {"150", 150},
        {"32767", 32767},
        {"-32767", 32767},
        {"32768", 32767},
        {"-32768", 32767},
        {"65535", 32767},
        {"65536", 32767},
        {"2147483647", 32767},
        {"-2147483647", 32767},
        {"-2147483648", 32767},
        {"99999999999", 32767},
        {"-99999999999", 32767},
    };
    for (const NumberKey& number : NumberKeys) {
        for (const auto& [value, held] : cases) {
            SCOPED_TRACE(std::string(number.key) + "=" + value);
            BootOptions expected = Windows95Defaults;
            expected.*number.option = held;
            EXPECT_EQ(read(std::string("[Options]\r\n") + number.key + "=" + value + "\r\n"), expected);
        }
    }
}

using LoadingTest = WindowTest;

TEST_F(LoadingTest, MissingKeysShowTheDefaults)
{
    for (const char* lines : {"", "BootFailSafe=1\r\n"}) {
        SCOPED_TRACE(lines);
        boxes.shown.clear();
        ASSERT_TRUE(openOptions(lines));
        expectShown(Windows95Defaults, {"2", "30", "1"});
        EXPECT_TRUE(boxes.shown.empty());
        EXPECT_EQ(saved(), Windows95Defaults);
    }
}

// Every flag read opposite to its default, and odd numbers: each box and field shows its
// own value, and out-of-range numbers stay as read.
TEST_F(LoadingTest, ShowsEachValueInItsOwnControl)
{
    ASSERT_TRUE(openOptions("BootMenu=2\r\nBootMulti=-1\r\nBootKeys=0\r\nBootGUI=0\r\nBootWin=0\r\nBootWarn=0\r\n"
                            "Logo=0\r\nLoadTop=0\r\nBootDelay=150\r\nBootMenuDefault=-5\r\n"
                            "BootMenuDelay=-2147483648\r\nDBLSpace=0\r\nDRVSpace=0\r\nNetwork=1\r\nDoubleBuffer=1\r\n"));
    BootOptions opposite;
    for (const BoxDesign& box : BoxDesigns)
        opposite.*box.option = !(Windows95Defaults.*box.option);
    opposite.BootDelay = 150;
    opposite.BootMenuDefault = 5;
    opposite.BootMenuDelay = 32767;
    expectShown(opposite, {"150", "32767", "5"});
    EXPECT_TRUE(check(2)->isEnabled());
    EXPECT_TRUE(check(5)->isEnabled());
    EXPECT_TRUE(boxes.shown.empty());
    // The values were set by the program; the user's own changes still ask.
    toggle(9);
    EXPECT_TRUE(boxes.shown.empty()) << "switching a driver on asks nothing";
    boxes.answer(MessageAnswer::Yes);
    toggle(9);
    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(saved(), opposite);
}

// Any one of the three files missing is enough: one message, before the window shows,
// then dual boot off, Windows 95 on, and both boxes locked.
TEST_F(LoadingTest, WithoutEarlierDosWarnsOnceAndLocksDualBoot)
{
    bool mainWindowVisible = true;
    boxes.onShow = [&](const MessageBoxRequest&) {
        mainWindowVisible = false;
        for (QWidget* top : QApplication::topLevelWidgets())
            mainWindowVisible |= qobject_cast<VRNL*>(top) && top->isVisible();
    };
    for (size_t missing = 0; missing <= EarlierDosFiles.size(); ++missing) {
        SCOPED_TRACE(missing < EarlierDosFiles.size() ? EarlierDosFiles[missing] : "all three");
        for (size_t i = 0; i < EarlierDosFiles.size(); ++i) {
            std::filesystem::remove(drive.hostPath(EarlierDosFiles[i]));
            if (i != missing && missing < EarlierDosFiles.size())
                drive.write(EarlierDosFiles[i], "");
        }
        boxes.shown.clear();
        mainWindowVisible = true;

        ASSERT_TRUE(openOptions("BootMulti=1\r\nBootWin=0\r\n"));
        ASSERT_EQ(boxes.shown.size(), 1u);
        const MessageBoxRequest& box = boxes.shown[0];
        EXPECT_EQ(box.text, NoEarlierDosMessage);
        EXPECT_EQ(box.title, "Varnello");
        EXPECT_EQ(box.buttons, MessageButtons::Ok);
        EXPECT_EQ(box.icon, MessageIcon::Exclamation);
        EXPECT_FALSE(mainWindowVisible);
        EXPECT_TRUE(window->isVisible());

        EXPECT_FALSE(check(2)->isChecked());
        EXPECT_TRUE(check(5)->isChecked());
        EXPECT_FALSE(check(2)->isEnabled());
        EXPECT_FALSE(check(5)->isEnabled());
        if (missing == 0) {
            // The user's own changes still ask.
            toggle(10);
            EXPECT_EQ(boxes.shown.size(), 2u);
            const BootOptions written = saved();
            EXPECT_FALSE(written.BootMulti);
            EXPECT_TRUE(written.BootWin);
        }
    }
}

TEST_F(LoadingTest, EarlierDosFilesFoundEvenHiddenAndSystem)
{
    for (const char* name : EarlierDosFiles)
        ASSERT_TRUE(SetFileAttributesA(drive.dosPath(name).c_str(),
                                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(openOptions("BootMulti=1\r\nBootWin=0\r\n"));
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(check(2)->isChecked());
    EXPECT_TRUE(check(2)->isEnabled());
    EXPECT_FALSE(check(5)->isChecked());
    EXPECT_TRUE(check(5)->isEnabled());
    const BootOptions written = saved();
    EXPECT_TRUE(written.BootMulti);
    EXPECT_FALSE(written.BootWin);
}

// A msdos.sys that exists but cannot be read: one message says so, and why, before the
// window shows its Windows 95 defaults. The program is started as nobody.
TEST_F(LoadingTest, AnUnreadableFileIsReportedBeforeTheDefaultsShow)
{
    const std::string path = drive.hostPath("msdos.sys");
    TempDrive outside('O');
    for (const TempDrive* reachable : {&drive, &outside})
        chmod(reachable->dir().c_str(), 0755);
    const struct {
        std::string padding;
        mode_t mode;
        bool linkOut;  // moved out of the drive, a link in its place
        const char* reason;
    } cases[] = {
        {";" + std::string(16 << 20, 'x') + "\r\n", 0644, false, "The file could not be read: File too large."},
        {"", 0600, false, "The file could not be read: Permission denied."},
        {"", 0644, true, "The file is a link that leads out of the drive's directory."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        drive.write("msdos.sys", Paths + "[Options]\r\nBootMenu=1\r\n" + c.padding);
        chmod(path.c_str(), c.mode);
        if (c.linkOut) {
            std::filesystem::rename(path, outside.hostPath("msdos.sys"));
            std::filesystem::create_symlink(outside.hostPath("msdos.sys"), path);
        }
        boxes.shown.clear();
        delete window.data();
        {
            AsUser nobody(NobodyId);
            ASSERT_TRUE(nobody.active());
            window = Startup(QString());
        }
        ASSERT_TRUE(window);
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text, QStringLiteral("C:\\msdos.sys could not be read.\r\n%1\r\nThe values shown are "
                                                      "the Windows 95 defaults, not those of the file.")
                                           .arg(QString::fromLatin1(c.reason)));
        EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Exclamation);
        EXPECT_EQ(boxes.shown[0].buttons, MessageButtons::Ok);
        EXPECT_EQ(boxes.shown[0].title, QStringLiteral("Varnello"));
        EXPECT_FALSE(check(1)->isChecked());  // the default, not the file's 1
        delete window.data();
        std::filesystem::remove(path);
    }
}

// Dual boot off and Windows 95 off, as the file says: nothing forces Windows 95 on at
// load, but its box is locked.
TEST_F(LoadingTest, DualBootOffLocksWindowsBoxWithoutForcingIt)
{
    ASSERT_TRUE(openOptions("BootMulti=0\r\nBootWin=0\r\n"));
    EXPECT_FALSE(check(2)->isChecked());
    EXPECT_FALSE(check(5)->isChecked());
    EXPECT_TRUE(check(2)->isEnabled());
    EXPECT_FALSE(check(5)->isEnabled());
    EXPECT_FALSE(saved().BootWin);
}

// Default Settings.

class DefaultSettingsTest : public WindowTest {
protected:
    void SetUp() override
    {
        contents = Paths + "[Options]\r\nBootMulti=1\r\nBootWin=0\r\nBootDelay=150\r\nNetwork=1\r\nDRVSpace=0\r\n";
        ASSERT_TRUE(open(contents));
    }
    void reset(MessageAnswer answer)
    {
        boxes.answer(answer);
        click("DefaultSettings");
    }
    std::string contents;
};

TEST_F(DefaultSettingsTest, AsksFirst)
{
    reset(MessageAnswer::No);
    ASSERT_EQ(boxes.shown.size(), 1u);
    const MessageBoxRequest& box = boxes.shown[0];
    EXPECT_EQ(box.text, "Do you really want to restore the default Windows 95 configuration?");
    EXPECT_EQ(box.title, "Varnello");
    EXPECT_EQ(box.buttons, MessageButtons::YesNo);
    EXPECT_EQ(box.icon, MessageIcon::Question);
    EXPECT_EQ(box.defaultButton, MessageAnswer::No);
}

TEST_F(DefaultSettingsTest, NoKeepsEveryChange)
{
    toggle(1);
    toggle(12);
    type(1, QStringLiteral("7"));
    reset(MessageAnswer::No);

    BootOptions expected = Windows95Defaults;
    expected.BootMulti = true;
    expected.BootWin = false;
    expected.BootDelay = 150;
    expected.Network = true;
    expected.DRVSpace = false;
    expected.BootMenu = true;
    expected.DoubleBuffer = true;
    expected.BootMenuDelay = 7;
    expectShown(expected, {"150", "7", "1"});
    EXPECT_TRUE(check(5)->isEnabled());
    EXPECT_EQ(saved(), expected);
}

// Yes: the defaults, shown; dual boot cleared, so Windows 95 forced and locked; no
// compressed-drive question though DRVSpace changes; nothing written.
TEST_F(DefaultSettingsTest, YesRestoresAndShowsTheDefaults)
{
    ASSERT_TRUE(check(2)->isChecked());
    ASSERT_FALSE(check(5)->isChecked());
    reset(MessageAnswer::Yes);

    EXPECT_EQ(boxes.shown.size(), 1u);
    expectShown(Windows95Defaults, {"2", "30", "1"});
    EXPECT_TRUE(check(2)->isEnabled());
    EXPECT_FALSE(check(5)->isEnabled());
    EXPECT_EQ(file(), contents);
    EXPECT_EQ(attributes(), BootFileAttributes);

    // Asked again, it changes nothing more and still asks only its own question; the
    // user's own changes ask again.
    reset(MessageAnswer::Yes);
    EXPECT_EQ(boxes.shown.size(), 2u);
    toggle(9);
    EXPECT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(saved(), Windows95Defaults);
}

// Without an earlier MS-DOS both boxes stay locked; the defaults agree with the forced values.
TEST_F(DefaultSettingsTest, KeepsTheLockOfAMissingEarlierDos)
{
    std::filesystem::remove(drive.hostPath("command.dos"));
    ASSERT_TRUE(open(contents));
    reset(MessageAnswer::Yes);
    EXPECT_FALSE(check(2)->isEnabled());
    EXPECT_FALSE(check(5)->isEnabled());
    EXPECT_TRUE(check(5)->isChecked());
    EXPECT_EQ(saved(), Windows95Defaults);
}

}  // namespace

// A disk image that another program, such as an emulator, holds: the values are read all
// the same, and one message says that nothing can be written meanwhile.
TEST_F(LoadingTest, ADiskImageAnotherProgramHoldsIsReportedAtLoad)
{
    const std::string image = drive.hostPath("win95.img");
    drive.write("msdos.in", Paths + "[Options]\r\nBootMenu=1\r\n");
    std::string build = "mkfs.fat -C " + image + " 1440 >/dev/null";
    for (const char* name : {"MSDOS.SYS", "IO.DOS", "MSDOS.DOS", "COMMAND.DOS"})
        build += " && mcopy -i " + image + " " + drive.hostPath("msdos.in") + " ::/" + name;
    ASSERT_EQ(std::system(build.c_str()), 0);
    // QEMU's lock of a running emulator: nobody else may write the image (byte 201).
    const int emulator = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
    struct flock forbidWriting {};
    forbidWriting.l_type = F_RDLCK;
    forbidWriting.l_start = 201;
    forbidWriting.l_len = 1;
    ASSERT_EQ(fcntl(emulator, F_OFD_SETLK, &forbidWriting), 0);

    ScopedEnv mapped("VARNELLO_DRIVE_C", image);
    window = Startup(QString());
    close(emulator);
    ASSERT_TRUE(window);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("C:\\msdos.sys is in use: another program, such as a running "
                                                  "emulator, has its disk image open.\r\nThe configuration cannot "
                                                  "be written until that program has closed it."));
    EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_TRUE(check(1)->isChecked());  // the image's BootMenu=1
}
