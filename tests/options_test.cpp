// Reading msdos.sys into the window, showing the values, the earlier-MS-DOS check and
// the Default Settings command.

#include <QApplication>
#include <cstdint>

#include "platform/file/files.h"
#include "platform/qt/ui.h"
#include "safetykit.h"
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
        writeBootDrive(lines);
        open();
        EXPECT_EQ(window->Options, Windows95Defaults);
        for (const BoxDesign& box : BoxDesigns)
            EXPECT_EQ(window->Check[box.index]->isChecked(), Windows95Defaults.*box.option) << box.index;
        EXPECT_EQ(window->Text[0]->text(), "2");
        EXPECT_EQ(window->Text[1]->text(), "30");
        EXPECT_EQ(window->Text[2]->text(), "1");
        EXPECT_TRUE(boxes.shown.empty());
        delete window;
    }
}

// Every flag read opposite to its default, and odd numbers: each box and field shows its
// own value, and out-of-range numbers stay as read.
TEST_F(LoadingTest, ShowsEachValueInItsOwnControl)
{
    writeBootDrive("BootMenu=2\r\nBootMulti=-1\r\nBootKeys=0\r\nBootGUI=0\r\nBootWin=0\r\nBootWarn=0\r\n"
                   "Logo=0\r\nLoadTop=0\r\nBootDelay=150\r\nBootMenuDefault=-5\r\nBootMenuDelay=-2147483648\r\n"
                   "DBLSpace=0\r\nDRVSpace=0\r\nNetwork=1\r\nDoubleBuffer=1\r\n");
    open();
    for (const BoxDesign& box : BoxDesigns) {
        EXPECT_EQ(window->Options.*box.option, !(Windows95Defaults.*box.option)) << box.index;
        EXPECT_EQ(window->Check[box.index]->checkState(),
                  window->Options.*box.option ? Qt::Checked : Qt::Unchecked)
            << box.index;
    }
    EXPECT_EQ(window->Options.BootDelay, 150);
    EXPECT_EQ(window->Options.BootMenuDefault, 5);
    EXPECT_EQ(window->Options.BootMenuDelay, 32767);
    EXPECT_EQ(window->Text[0]->text(), "150");
    EXPECT_EQ(window->Text[2]->text(), "5");
    EXPECT_EQ(window->Text[1]->text(), "32767");
    EXPECT_TRUE(window->UserEditing);
    EXPECT_TRUE(window->Check[2]->isEnabled());
    EXPECT_TRUE(window->Check[5]->isEnabled());
    EXPECT_TRUE(boxes.shown.empty());
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
        for (const char* name : EarlierDosFiles)
            std::filesystem::remove(drive.hostPath(name));
        boxes.shown.clear();
        mainWindowVisible = true;
        writeBootDrive("BootMulti=1\r\nBootWin=0\r\n", false);
        for (size_t i = 0; i < EarlierDosFiles.size(); ++i)
            if (i != missing && missing < EarlierDosFiles.size())
                drive.write(EarlierDosFiles[i], "");

        ASSERT_TRUE(startUp());
        ASSERT_EQ(boxes.shown.size(), 1u);
        const MessageBoxRequest& box = boxes.shown[0];
        EXPECT_EQ(box.text, NoEarlierDosMessage);
        EXPECT_EQ(box.title, "Varnello");
        EXPECT_EQ(box.buttons, MsgButtons::Ok);
        EXPECT_EQ(box.icon, MsgIcon::Exclamation);
        EXPECT_FALSE(mainWindowVisible);
        EXPECT_TRUE(window->isVisible());

        EXPECT_FALSE(window->Options.BootMulti);
        EXPECT_TRUE(window->Options.BootWin);
        EXPECT_FALSE(window->Check[2]->isChecked());
        EXPECT_TRUE(window->Check[5]->isChecked());
        EXPECT_FALSE(window->Check[2]->isEnabled());
        EXPECT_FALSE(window->Check[5]->isEnabled());
        EXPECT_TRUE(window->UserEditing);
        delete window;
    }
}

TEST_F(LoadingTest, EarlierDosFilesFoundEvenHiddenAndSystem)
{
    writeBootDrive("BootMulti=1\r\nBootWin=0\r\n");
    for (const char* name : EarlierDosFiles)
        ASSERT_TRUE(SetFileAttributesA(drive.dosPath(name).c_str(),
                                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(startUp());
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(window->Options.BootMulti);
    EXPECT_FALSE(window->Options.BootWin);
    EXPECT_TRUE(window->Check[2]->isChecked());
    EXPECT_TRUE(window->Check[2]->isEnabled());
    EXPECT_FALSE(window->Check[5]->isChecked());
    EXPECT_TRUE(window->Check[5]->isEnabled());
}

// A msdos.sys that exists but cannot be read: one message says so, and why, before the
// window shows its Windows 95 defaults. The window is opened as nobody.
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
        {";" + std::string(16 << 20, 'x') + "\r\n", 0644, false, "The file could not be read: File too large"},
        {"", 0600, false, "The file could not be read: Permission denied"},
        {"", 0644, true, "The file is a link that leads out of the drive's directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        writeBootDrive("BootMenu=1\r\n" + c.padding);
        chmod(path.c_str(), c.mode);
        if (c.linkOut) {
            std::filesystem::rename(path, outside.hostPath("msdos.sys"));
            std::filesystem::create_symlink(outside.hostPath("msdos.sys"), path);
        }
        boxes.shown.clear();
        {
            AsUser nobody(NobodyId);
            ASSERT_TRUE(nobody.active());
            open();
        }
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text, QStringLiteral("C:\\msdos.sys could not be read.\r\n%1.\r\nThe values shown are "
                                                      "the Windows 95 defaults, not those of the file.")
                                           .arg(QString::fromLatin1(c.reason)));
        EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Exclamation);
        EXPECT_EQ(boxes.shown[0].buttons, MsgButtons::Ok);
        EXPECT_EQ(boxes.shown[0].title, QStringLiteral("Varnello"));
        EXPECT_EQ(window->Options, Windows95Defaults);
        delete window;
        std::filesystem::remove(path);
    }
}

// Dual boot off and Windows 95 off, as the file says: nothing forces Windows 95 on at
// load, but its box is locked.
TEST_F(LoadingTest, DualBootOffLocksWindowsBoxWithoutForcingIt)
{
    writeBootDrive("BootMulti=0\r\nBootWin=0\r\n");
    open();
    EXPECT_FALSE(window->Check[2]->isChecked());
    EXPECT_FALSE(window->Check[5]->isChecked());
    EXPECT_TRUE(window->Check[2]->isEnabled());
    EXPECT_FALSE(window->Check[5]->isEnabled());
    EXPECT_FALSE(window->Options.BootWin);
}

// ShowOptions never asks, not even when it clears a compressed-drive box, and runs the
// dual-boot handling for a box it clears.
TEST_F(LoadingTest, ShowOptionsAsksNothingAndRunsDualBootHandling)
{
    writeBootDrive("BootMulti=1\r\nBootWin=0\r\n");
    open();
    ASSERT_TRUE(window->Check[9]->isChecked());
    ASSERT_TRUE(window->Check[10]->isChecked());
    window->Options.DRVSpace = false;
    window->Options.DBLSpace = false;
    window->Options.BootMulti = false;
    window->ShowOptions();

    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_FALSE(window->Check[9]->isChecked());
    EXPECT_FALSE(window->Check[10]->isChecked());
    EXPECT_FALSE(window->Options.DRVSpace);
    EXPECT_FALSE(window->Options.DBLSpace);
    EXPECT_FALSE(window->Check[2]->isChecked());
    EXPECT_TRUE(window->Options.BootWin);
    EXPECT_TRUE(window->Check[5]->isChecked());
    EXPECT_FALSE(window->Check[5]->isEnabled());
    EXPECT_TRUE(window->UserEditing);
}

// Default Settings.

class DefaultSettingsTest : public WindowTest {
protected:
    void SetUp() override
    {
        contents = "[Paths]\r\nWinDir=C:\\WINDOWS\r\n\r\n[Options]\r\nBootMulti=1\r\nBootWin=0\r\nBootDelay=150\r\n"
                   "Network=1\r\nDRVSpace=0\r\n";
        drive.write("msdos.sys", contents);
        for (const char* name : EarlierDosFiles)
            drive.write(name, "");
        open();
    }
    void reset(MsgAnswer answer)
    {
        boxes.answer(answer);
        window->DefaultSettings->click();
    }
    std::string contents;
};

TEST_F(DefaultSettingsTest, AsksFirst)
{
    reset(MsgAnswer::No);
    ASSERT_EQ(boxes.shown.size(), 1u);
    const MessageBoxRequest& box = boxes.shown[0];
    EXPECT_EQ(box.text, "Do you really want to restore the default Windows 95 configuration?");
    EXPECT_EQ(box.title, "Varnello");
    EXPECT_EQ(box.buttons, MsgButtons::YesNo);
    EXPECT_EQ(box.icon, MsgIcon::Question);
    EXPECT_EQ(box.defaultButton, MsgAnswer::No);
}

TEST_F(DefaultSettingsTest, NoKeepsEveryChange)
{
    window->Check[1]->click();
    window->Check[12]->click();
    window->Text[1]->setText("7");
    const BootOptions before = window->Options;
    ASSERT_TRUE(before.BootMenu);
    ASSERT_EQ(before.BootMenuDelay, 7);

    reset(MsgAnswer::No);
    EXPECT_EQ(window->Options, before);
    for (const BoxDesign& box : BoxDesigns)
        EXPECT_EQ(window->Check[box.index]->isChecked(), before.*box.option) << box.index;
    EXPECT_EQ(window->Text[0]->text(), "150");
    EXPECT_EQ(window->Text[1]->text(), "7");
    EXPECT_TRUE(window->Check[5]->isEnabled());
}

// Yes: the defaults, shown; dual boot cleared, so Windows 95 forced and locked; no
// compressed-drive question though DRVSpace changes; nothing written.
TEST_F(DefaultSettingsTest, YesRestoresAndShowsTheDefaults)
{
    ASSERT_TRUE(window->Check[2]->isChecked());
    ASSERT_FALSE(window->Check[5]->isChecked());
    const uint32_t attributes = GetFileAttributesA(drive.dosPath("msdos.sys").c_str());
    reset(MsgAnswer::Yes);

    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(window->Options, Windows95Defaults);
    for (const BoxDesign& box : BoxDesigns)
        EXPECT_EQ(window->Check[box.index]->isChecked(), Windows95Defaults.*box.option) << box.index;
    EXPECT_EQ(window->Text[0]->text(), "2");
    EXPECT_EQ(window->Text[1]->text(), "30");
    EXPECT_EQ(window->Text[2]->text(), "1");
    EXPECT_FALSE(window->Check[2]->isChecked());
    EXPECT_TRUE(window->Check[2]->isEnabled());
    EXPECT_TRUE(window->Check[5]->isChecked());
    EXPECT_FALSE(window->Check[5]->isEnabled());
    EXPECT_TRUE(window->UserEditing);
    EXPECT_EQ(drive.read("msdos.sys"), contents);
    EXPECT_EQ(GetFileAttributesA(drive.dosPath("msdos.sys").c_str()), attributes);

    // Asked again, it changes nothing more and still asks only its own question.
    reset(MsgAnswer::Yes);
    EXPECT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(window->Options, Windows95Defaults);
}

// Without an earlier MS-DOS both boxes stay locked; the defaults agree with the forced values.
TEST_F(DefaultSettingsTest, KeepsTheLockOfAMissingEarlierDos)
{
    delete window;
    std::filesystem::remove(drive.hostPath("command.dos"));
    open();
    reset(MsgAnswer::Yes);
    EXPECT_EQ(window->Options, Windows95Defaults);
    EXPECT_FALSE(window->Check[2]->isEnabled());
    EXPECT_FALSE(window->Check[5]->isEnabled());
    EXPECT_TRUE(window->Check[5]->isChecked());
}

}  // namespace
