#include "platform/drive/directory/atomicreplace.h"
#include "platform/files/files.h"
#include "platform/sys/fileerror.h"
#include "platform/ini/inifile.h"
#include "platform/files/profile.h"
#include "safetykit.h"
#include "tempdrive.h"

#include <climits>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const char* const bom = "\xEF\xBB\xBF";

}  // namespace

TEST(ProfileRead, FindsValuesByTheRules)
{
    using V = std::optional<std::string>;
    const struct {
        std::string bytes;
        const char* section;
        const char* key;
        V value;
    } cases[] = {
        {"[Options]\r\nBootGUI=1\r\n", "Options", "BootGUI", "1"},
        {"[OPTIONS]\r\nbootgui=1\r\n", "Options", "BootGUI", "1"},
        {" \t[ Options ] \r\n  BootGUI \t=  7 \t\r\n", "Options", "BootGUI", "7"},
        {"[Options] ; boot settings\r\nA=1\r\n", "Options", "A", "1"},
        {"[Options]\nA=1\n", "Options", "A", "1"},
        {"[Options]\rA=1\rB=2", "Options", "B", "2"},
        {"[Paths]\r\nA=1\r\n[Options]\r\nA=2\r\n", "Options", "A", "2"},
        {"[Options]\r\nA=1\r\n[Options]\r\nA=2\r\nB=3\r\n", "Options", "A", "1"},
        {"[Options]\r\nA=1\r\n[Options]\r\nB=3\r\n", "Options", "B", std::nullopt},
        {"[Options]\r\nA=1\r\nA=2\r\n", "Options", "A", "1"},
        {"[Options]\r\n;A=1\r\n  ; A=2\r\nA=3\r\n", "Options", "A", "3"},
        {"[Options]\r\n;A=1\r\n", "Options", "A", std::nullopt},
        {"[Other]\r\nA=1\r\n[Options]\r\nB=2\r\n", "Options", "A", std::nullopt},
        {"[Paths]\r\n[Options\r\nA=1\r\n", "Options", "A", std::nullopt},
        {"[Paths]\r\n[Options\r\nA=1\r\n", "Paths", "A", "1"},
        {"A=1\r\n[Options]\r\n", "Options", "A", std::nullopt},
        {"[Options]\r\nA\r\nA=2\r\n", "Options", "A", ""},  // a key without "=" has an empty value
        {"[Options]\r\n  BootMenu \t\r\nLogo=1\r\n", "Options", "BootMenu", ""},
        {"[Options]\r\nLogo=\"1\"\r\n", "Options", "Logo", "1"},
        {"[Options]\r\nLogo= \" 1 \" \r\n", "Options", "Logo", " 1 "},
        {"[Options]\r\nLogo=\"\"\r\n", "Options", "Logo", ""},
        {"[Options]\r\nLogo=\"1\r\n", "Options", "Logo", "\"1"},
        {"[Options]\r\nLogo='1'\r\n", "Options", "Logo", "'1'"},
        {"[Options]\r\n\r\n\r\nA=1 ; note\r\n", "Options", "A", "1 ; note"},
        {"[Options]\r\nA=\r\n", "Options", "A", ""},
        {"[Options]\r\nA=x=y\r\n", "Options", "A", "x=y"},
        {std::string(bom) + "[Options]\r\nA=1\r\n", "Options", "A", "1"},
        {std::string(bom) + "A=1\r\n", "", "A", std::nullopt},
        {"[Options]\r\nA=1\0002\r\n"s, "Options", "A", "1\0002"s},
        {"", "Options", "A", std::nullopt},
        {"[Options]", "Options", "A", std::nullopt},
    };
    for (const auto& c : cases) {
        std::optional<std::string_view> found = FindProfileValue(c.bytes, c.section, c.key);
        EXPECT_EQ(found ? V(std::string(*found)) : V(), c.value) << testing::PrintToString(c.bytes);
    }
}

TEST(ProfileRead, IntegersAreReadLikeWin32AndSaturate)
{
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {
        {"0", 0},           {"1", 1},           {"  42", 42},         {"\t3", 3},
        {"+7", 7},          {"-5", -5},         {"12abc", 12},        {"1.5", 1},
        {"1 2", 1},         {"010", 10},        {"abc", 0},           {"-", 0},
        {"0x1F", 31},       {"0X10", 16},       {"-0x10", -16},       {"0x", 0},
        {"0xG", 0},         {"2147483647", INT32_MAX},                {"2147483648", INT32_MAX},
        {"-2147483648", INT32_MIN},             {"-99999999999999999999", INT32_MIN},
        {"99999999999999999999999999", INT32_MAX},                    {"0xFFFFFFFF", INT32_MAX},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProfileInt(c.text), c.value) << c.text;
}

TEST(ProfileRead, MissingFileSectionOrKeyGivesTheDefault)
{
    TempDrive drive('C');
    drive.write("msdos.sys", "[Options]\r\nBootGUI=0\r\nLogo=\r\nBootDelay=-5\r\nBootKeys=yes\r\n");
    EXPECT_EQ(GetPrivateProfileIntA("Options", "BootGUI", 1, "C:\\msdos.sys"), 0u);
    EXPECT_EQ(GetPrivateProfileIntA("options", "bootdelay", 2, "C:\\MSDOS.SYS"), uint32_t(-5));
    EXPECT_EQ(GetPrivateProfileIntA("Options", "BootKeys", 1, "C:\\msdos.sys"), 0u);
    EXPECT_EQ(GetPrivateProfileIntA("Options", "Logo", 1, "C:\\msdos.sys"), 1u);
    EXPECT_EQ(GetPrivateProfileIntA("Options", "BootMenuDelay", 30, "C:\\msdos.sys"), 30u);
    EXPECT_EQ(GetPrivateProfileIntA("Paths", "BootGUI", -3, "C:\\msdos.sys"), uint32_t(-3));
    EXPECT_EQ(GetPrivateProfileIntA("Options", "BootGUI", 7, "C:\\none.sys"), 7u);
    EXPECT_EQ(GetPrivateProfileIntA("Options", "BootGUI", 7, "Q:\\msdos.sys"), 7u);
    EXPECT_EQ(GetPrivateProfileIntA("Options", "BootGUI", 7, nullptr), 7u);
}

TEST(ProfileRead, UnreadableFilesGiveTheDefaultWithoutBlocking)
{
    TempDrive drive('C');
    fs::create_directory(drive.hostPath("dir.sys"));
    ASSERT_EQ(mkfifo(drive.hostPath("pipe.sys").c_str(), 0644), 0);  // nobody writes it
    for (const char* path : {"C:\\dir.sys", "C:\\pipe.sys", "C:\\"})
        EXPECT_EQ(GetPrivateProfileIntA("Options", "A", 9, path), 9u) << path;
}

TEST(ProfileRead, OddContentGivesAWellDefinedResult)
{
    TempDrive drive('C');
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += char(i * 131 % 256);
    drive.write("bin.sys", binary + "\r\n[Options]\r\nA=4\r\n");
    EXPECT_EQ(GetPrivateProfileIntA("Options", "A", 9, "C:\\bin.sys"), 4u);

    drive.write("nul.sys", "[Options]\r\nA=1\0003\r\nB\000=5\r\n"s);
    EXPECT_EQ(GetPrivateProfileIntA("Options", "A", 9, "C:\\nul.sys"), 1u);
    EXPECT_EQ(GetPrivateProfileIntA("Options", "B", 9, "C:\\nul.sys"), 9u);

    drive.write("long.sys", "[Options]\r\nA=" + std::string(1 << 20, '7') + "\r\nB=2\r\n");
    EXPECT_EQ(GetPrivateProfileIntA("Options", "A", 9, "C:\\long.sys"), uint32_t(INT32_MAX));
    EXPECT_EQ(GetPrivateProfileIntA("Options", "B", 9, "C:\\long.sys"), 2u);
}

TEST(ProfileWrite, ChangesOnlyWhatItMust)
{
    const struct {
        std::string before;
        const char* section;
        const char* key;
        const char* value;
        std::string after;
    } cases[] = {
        // an existing key: only its value changes
        {"[Paths]\r\nWinDir=C:\\WINDOWS\r\n[Options]\r\nBootGUI=1\r\nLogo=1\r\n", "Options", "BootGUI", "0",
         "[Paths]\r\nWinDir=C:\\WINDOWS\r\n[Options]\r\nBootGUI=0\r\nLogo=1\r\n"},
        {"[options]\r\n  bootgui =  1  \r\n", "Options", "BootGUI", "0", "[options]\r\n  bootgui =  0  \r\n"},
        {"[Options]\r\nA\t=\t1\t\r\n", "Options", "A", "150", "[Options]\r\nA\t=\t150\t\r\n"},
        {"[Options]\r\nA=\r\n", "Options", "A", "1", "[Options]\r\nA=1\r\n"},
        {"[Options]\r\nA=1 ; note\r\n", "Options", "A", "0", "[Options]\r\nA=0\r\n"},
        {"[Options]\r\nA=1", "Options", "A", "22", "[Options]\r\nA=22"},
        {"[Options]\rA=1\rB=2\r", "Options", "A", "5", "[Options]\rA=5\rB=2\r"},
        {std::string(bom) + "[Options]\r\nA=1\r\n", "Options", "A", "2", std::string(bom) + "[Options]\r\nA=2\r\n"},
        {"[Options]\r\nA=1\r\nA=1\r\n", "Options", "A", "0", "[Options]\r\nA=0\r\nA=1\r\n"},
        {"[Options]\r\nBootMenu\r\nLogo=1\r\n", "Options", "BootMenu", "1", "[Options]\r\nBootMenu=1\r\nLogo=1\r\n"},
        {"[Options]\r\n bootmenu \t\r\n", "Options", "BootMenu", "1", "[Options]\r\n bootmenu=1 \t\r\n"},
        {"[Options]\r\nLogo=\"1\"\r\n", "Options", "Logo", "0", "[Options]\r\nLogo=0\r\n"},
        // a missing key: after the section's last key line
        {"[Options]\r\nBootGUI=1\r\n;\r\n;xxxx\r\n", "Options", "Logo", "1",
         "[Options]\r\nBootGUI=1\r\nLogo=1\r\n;\r\n;xxxx\r\n"},
        {"[Options]\r\nA=1\r\n\r\n[Other]\r\nB=2\r\n", "Options", "C", "3",
         "[Options]\r\nA=1\r\nC=3\r\n\r\n[Other]\r\nB=2\r\n"},
        {"[Options]\r\n;comment\r\n[X]\r\n", "Options", "A", "1", "[Options]\r\nA=1\r\n;comment\r\n[X]\r\n"},
        {"[Options]", "Options", "A", "1", "[Options]\r\nA=1\r\n"},
        {"[Options]\r\nA=1", "Options", "B", "2", "[Options]\r\nA=1\r\nB=2\r\n"},
        {"[Options]\rA=1\r", "Options", "B", "2", "[Options]\rA=1\rB=2\r"},
        {"[Options]\nA=1\n;end\n", "Options", "B", "2", "[Options]\nA=1\nB=2\n;end\n"},
        {"[Options]\r\nJunk\r\n;end\r\n", "Options", "B", "2", "[Options]\r\nJunk\r\nB=2\r\n;end\r\n"},
        // a lone CR right before an LF would join it: that new line ends in CR LF
        {"[Options]\rA=1\r\n\n[X]\r", "Options", "B", "2", "[Options]\rA=1\r\nB=2\r\n\n[X]\r"},
        {"[Options]\r\n;BootGUI=1\r\nLogo=1\r\n", "Options", "BootGUI", "0",
         "[Options]\r\n;BootGUI=1\r\nLogo=1\r\nBootGUI=0\r\n"},
        {"[Other]\r\nBootGUI=1\r\n[Options]\r\nLogo=1\r\n", "Options", "BootGUI", "0",
         "[Other]\r\nBootGUI=1\r\n[Options]\r\nLogo=1\r\nBootGUI=0\r\n"},
        {"[Options]\r\nA=1\r\n[options]\r\nB=1\r\n", "Options", "B", "2",
         "[Options]\r\nA=1\r\nB=2\r\n[options]\r\nB=1\r\n"},
        // a missing section: at the end, in the file's own line ending
        {"", "Options", "A", "1", "[Options]\r\nA=1\r\n"},
        {bom, "Options", "A", "1", std::string(bom) + "[Options]\r\nA=1\r\n"},
        {"[Paths]\r\nA=1\r\n", "Options", "BootGUI", "1", "[Paths]\r\nA=1\r\n[Options]\r\nBootGUI=1\r\n"},
        {"[Paths]\r\nA=1", "Options", "BootGUI", "1", "[Paths]\r\nA=1\r\n[Options]\r\nBootGUI=1\r\n"},
        {"[Paths]\nA=1\r\n", "Options", "B", "1", "[Paths]\nA=1\r\n[Options]\nB=1\n"},
        {"[Paths]\rA=1", "Options", "B", "1", "[Paths]\rA=1\r[Options]\rB=1\r"},
        {"[Options\r\nA=1\r\n", "Options", "A", "2", "[Options\r\nA=1\r\n[Options]\r\nA=2\r\n"},
        {";only a comment", "Options", "A", "1", ";only a comment\r\n[Options]\r\nA=1\r\n"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(IsWritableProfileEntry(c.section, c.key, c.value));
        EXPECT_EQ(WithProfileValue(c.before, c.section, c.key, c.value), c.after)
            << testing::PrintToString(c.before) << " " << c.key << "=" << c.value;
        EXPECT_EQ(FindProfileValue(c.after, c.section, c.key), c.value);
    }
}

TEST(ProfileWrite, RefusesEntriesThatWouldBreakTheFile)
{
    const struct {
        std::string_view section, key, value;
    } refused[] = {
        {"", "A", "1"},          {"  ", "A", "1"},       {"Options", "", "1"},
        {"Opt]ions", "A", "1"},  {"Options", "A=B", "1"}, {"Options", ";A", "1"},
        {"Options", "[A", "1"},  {"Options", "A", "1\r\nB=2"}, {"Options", "A", "1\r"},
        {"Opt\nions", "A", "1"}, {"Options", "A\n", "1"}, {"Options", "A", std::string_view("1\0", 2)},
    };
    for (const auto& c : refused)
        EXPECT_FALSE(IsWritableProfileEntry(c.section, c.key, c.value)) << c.section << "|" << c.key;

    TempDrive drive('C');
    drive.write("msdos.sys", "[Options]\r\nA=1\r\n");
    EXPECT_EQ(WriteExistingProfileString("Options", "A", "2\r\n[X]", "C:\\msdos.sys"), 0);
    EXPECT_EQ(LastFileError().code, EINVAL);
    EXPECT_EQ(WriteExistingProfileString("Options", "A", nullptr, "C:\\msdos.sys"), 0);
    EXPECT_EQ(drive.read("msdos.sys"), "[Options]\r\nA=1\r\n");
}

TEST(ProfileWrite, WritesTheFileInPlaceOfItsOldSelf)
{
    TempDrive drive('C');
    const std::string msdos =
        "[Paths]\r\nWinDir=C:\\WINDOWS\r\nWinBootDir=C:\\WINDOWS\r\n\r\n[Options]\r\nBootGUI=1\r\n"
        ";The following lines are required for compatibility with other programs.\r\n"
        ";Do not remove them (MSDOS.SYS needs to be >1024 bytes).\r\n;" + std::string(70, 'x') + "a\r\n";
    drive.write("MSDOS.SYS", msdos);
    chmod(drive.hostPath("MSDOS.SYS").c_str(), 0644);

    ASSERT_EQ(WriteExistingProfileString("Options", "BootGUI", "0", "C:\\msdos.sys"), 1);
    ASSERT_EQ(WriteExistingProfileString("Options", "Logo", "1", "C:\\msdos.sys"), 1);
    std::string expected = msdos;
    expected.replace(expected.find("BootGUI=1"), 9, "BootGUI=0\r\nLogo=1");
    EXPECT_EQ(drive.read("MSDOS.SYS"), expected);
    EXPECT_FALSE(fs::exists(drive.hostPath("msdos.sys")));  // no second file by another case
    EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());

    ino_t inode = LinkStatusOf(drive.hostPath("MSDOS.SYS")).st_ino;
    ASSERT_EQ(WriteExistingProfileString("Options", "Logo", "1", "C:\\msdos.sys"), 1);
    EXPECT_EQ(LinkStatusOf(drive.hostPath("MSDOS.SYS")).st_ino, inode);  // nothing to change: not rewritten
}

TEST(ProfileWrite, NeverCreatesAFile)
{
    TempDrive drive('C');
    EXPECT_EQ(WriteExistingProfileString("Options", "BootMenu", "0", "C:\\msdos.sys"), 0);
    EXPECT_EQ(LastFileError().step, FileStep::Inspect);
    EXPECT_EQ(LastFileError().code, ENOENT);
    EXPECT_FALSE(std::filesystem::exists(drive.hostPath("msdos.sys")));
    EXPECT_EQ(WriteExistingProfileString("Options", "BootMenu", "0", "Q:\\msdos.sys"), 0);
    EXPECT_EQ(LastFileError().step, FileStep::ResolvePath);
}

TEST(ProfileWrite, KeepsBinaryBytesAroundTheValue)
{
    TempDrive drive('C');
    std::string before = "\xFF\xFE\0\x80\r\n[Options]\r\nA=1\r\n\x01\x02\0;\xE9t\xE9\r\n"s;
    drive.write("bin.sys", before);
    ASSERT_EQ(WriteExistingProfileString("Options", "A", "0", "C:\\bin.sys"), 1);
    std::string after = before;
    after[after.find("A=1") + 2] = '0';
    EXPECT_EQ(drive.read("bin.sys"), after);

    std::string longLine = "[Options]\r\nA=1\r\n;" + std::string(1 << 20, 'z') + "\r\n";
    drive.write("long.sys", longLine);
    ASSERT_EQ(WriteExistingProfileString("Options", "B", "2", "C:\\long.sys"), 1);
    EXPECT_EQ(drive.read("long.sys"), "[Options]\r\nA=1\r\nB=2\r\n;" + std::string(1 << 20, 'z') + "\r\n");
}

TEST(ProfileWrite, ReadOnlyFileIsRefusedLikeWin32)
{
    TempDrive drive('C');
    drive.write("msdos.sys", "[Options]\r\nA=1\r\n");
    chmod(drive.hostPath("msdos.sys").c_str(), 0444);
    EXPECT_EQ(WriteExistingProfileString("Options", "A", "2", "C:\\msdos.sys"), 0);
    EXPECT_EQ(LastFileError().code, EACCES);
    EXPECT_EQ(drive.read("msdos.sys"), "[Options]\r\nA=1\r\n");

    fs::create_directory(drive.hostPath("dir.sys"));
    EXPECT_EQ(WriteExistingProfileString("Options", "A", "2", "C:\\dir.sys"), 0);
    EXPECT_EQ(LastFileError().code, EISDIR);
}

TEST(ProfileWrite, KeepsASymlinkAndWritesWhereItLeads)
{
    TempDrive drive('C');
    fs::create_directory(drive.hostPath("real"));
    drive.write("real/msdos.sys", "[Options]\nA=1\n");
    fs::create_symlink("real/msdos.sys", drive.hostPath("MSDOS.SYS"));
    ASSERT_EQ(WriteExistingProfileString("Options", "A", "0", "C:\\msdos.sys"), 1);
    EXPECT_TRUE(fs::is_symlink(drive.hostPath("MSDOS.SYS")));
    EXPECT_EQ(drive.read("real/msdos.sys"), "[Options]\nA=0\n");
}

TEST(ProfileWrite, AFailedReplaceIsReportedAndChangesNothing)
{
    TempDrive drive('C');
    drive.write("msdos.sys", "[Options]\r\nA=1\r\n");
    // A read-only directory: root ignores its permission bits, so the seam stands in.
    chmod(drive.dir().c_str(), 0555);
    if (geteuid() == 0)
        FailAtomicStepForTesting(FileStep::CreateTemporary, EACCES);
    EXPECT_EQ(WriteExistingProfileString("Options", "A", "0", "C:\\msdos.sys"), 0);
    FailAtomicStepForTesting(FileStep::None);
    EXPECT_EQ(LastFileError().step, FileStep::CreateTemporary);
    EXPECT_EQ(LastFileError().code, EACCES);
    EXPECT_EQ(Describe(LastFileError()),
              "A temporary file could not be created beside the file: Permission denied.");
    EXPECT_EQ(drive.read("msdos.sys"), "[Options]\r\nA=1\r\n");
    EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
}
