// What the profile functions make of odd msdos.sys files and odd paths: the value read,
// and after a write the exact bytes of the file.

#include <QString>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "app/startup.h"
#include "options/loading.h"
#include "platform/files/files.h"
#include "dosattributes.h"
#include "platform/sys/fileerror.h"
#include "platform/ini/inifile.h"
#include "platform/files/profile.h"
#include "safetykit.h"
#include "scopedenv.h"
#include "tempdrive.h"

namespace fs = std::filesystem;
using namespace std::literals;

namespace {

const char* const MsdosSys = "C:\\msdos.sys";
constexpr int32_t Missing = -7;  // the default passed when reading: shows a missing value

int32_t ReadInt(const char* key)
{
    return int32_t(GetPrivateProfileIntA("Options", key, Missing, MsdosSys));
}

}  // namespace

TEST(BadInput, FilesAreReadAndWrittenByteExactly)
{
    const std::string bom = "\xEF\xBB\xBF";
    const std::string megabyte(1 << 20, '9');
    const struct {
        const char* name;
        std::string before;
        const char* readKey;
        int32_t read;
        const char* writeKey;
        const char* value;
        std::string after;
    } cases[] = {
        {"empty file", "", "BootGUI", Missing, "BootGUI", "0", "[Options]\r\nBootGUI=0\r\n"},
        {"only CR", "\r", "BootGUI", Missing, "BootGUI", "0", "\r[Options]\rBootGUI=0\r"},
        {"only LF", "\n", "BootGUI", Missing, "BootGUI", "0", "\n[Options]\nBootGUI=0\n"},
        {"LF endings", "[Paths]\nWinDir=C:\\WINDOWS\n[Options]\nBootGUI=1\nLogo=1\n", "BootGUI", 1, "Logo", "0",
         "[Paths]\nWinDir=C:\\WINDOWS\n[Options]\nBootGUI=1\nLogo=0\n"},
        {"mixed endings, value in a CR line", "[Options]\r\nA=1\rB=2\nC=3\r\n", "B", 2, "B", "22",
         "[Options]\r\nA=1\rB=22\nC=3\r\n"},
        {"mixed endings, new key ends like the first line", "[Options]\nBootGUI=1\r\nLogo=1\r;end\r\n", "Logo", 1,
         "BootKeys", "0", "[Options]\nBootGUI=1\r\nLogo=1\rBootKeys=0\n;end\r\n"},
        {"no final line ending after a comment", "[Options]\r\nA=1\r\n;end", "A", 1, "B", "2",
         "[Options]\r\nA=1\r\nB=2\r\n;end"},
        {"no final line ending, other section last", "[Options]\r\nA=1\r\n[Paths]\r\nX=y", "B", Missing, "B", "2",
         "[Options]\r\nA=1\r\nB=2\r\n[Paths]\r\nX=y"},
        {"NUL inside a key name", "[Options]\r\nBoot\0GUI=1\r\nBootGUI=0\r\n"s, "BootGUI", 0, "BootGUI", "1",
         "[Options]\r\nBoot\0GUI=1\r\nBootGUI=1\r\n"s},
        {"NUL inside the section name", "[Opt\0ions]\r\nBootGUI=1\r\n"s, "BootGUI", Missing, "BootGUI", "0",
         "[Opt\0ions]\r\nBootGUI=1\r\n[Options]\r\nBootGUI=0\r\n"s},
        {"NUL after the value", "[Options]\r\nBootGUI=1\0\r\nLogo=1\r\n"s, "BootGUI", 1, "Logo", "0",
         "[Options]\r\nBootGUI=1\0\r\nLogo=0\r\n"s},
        {"1 MB value", "[Options]\r\nBootDelay=" + megabyte + "\r\nLogo=1\r\n", "BootDelay", INT32_MAX, "BootDelay",
         "2", "[Options]\r\nBootDelay=2\r\nLogo=1\r\n"},
        {"1 MB section name", "[" + megabyte + "]\r\nLogo=0\r\n[Options]\r\nLogo=1\r\n", "Logo", 1, "Logo", "0",
         "[" + megabyte + "]\r\nLogo=0\r\n[Options]\r\nLogo=0\r\n"},
        {"ANSI bytes", "[Options]\r\n;R\xE9glages\r\nBootGUI=1\r\nLogo\xA0=1\r\n", "Logo", Missing, "Logo", "0",
         "[Options]\r\n;R\xE9glages\r\nBootGUI=1\r\nLogo\xA0=1\r\nLogo=0\r\n"},
        {"UTF-8 text and a byte-order mark",
         bom + "[Options]\r\nLogo=\xC3\xA9t\xC3\xA9\r\n[\xC3\x9C" "bersicht]\r\nBootGUI=0\r\n", "Logo", 0, "Logo",
         "1", bom + "[Options]\r\nLogo=1\r\n[\xC3\x9C" "bersicht]\r\nBootGUI=0\r\n"},
        {"byte-order mark, CR endings", bom + "[Paths]\rA=1\r", "BootGUI", Missing, "BootGUI", "1",
         bom + "[Paths]\rA=1\r[Options]\rBootGUI=1\r"},
        {"second Options section holds the key", "[Options]\r\nLogo=1\r\n\r\n[Paths]\r\n[options]\r\nBootGUI=0\r\n",
         "BootGUI", Missing, "BootGUI", "1",
         "[Options]\r\nLogo=1\r\nBootGUI=1\r\n\r\n[Paths]\r\n[options]\r\nBootGUI=0\r\n"},
        {"key repeated in another case", "[Options]\r\nbootgui=0\r\nBOOTGUI=1\r\n", "BootGUI", 0, "BootGUI", "1",
         "[Options]\r\nbootgui=1\r\nBOOTGUI=1\r\n"},
        {"same key only in a later section", "[Options]\r\nLogo=1\r\n[Other]\r\nBootGUI=0\r\n", "BootGUI", Missing,
         "BootGUI", "1", "[Options]\r\nLogo=1\r\nBootGUI=1\r\n[Other]\r\nBootGUI=0\r\n"},
        {"unclosed header, then one with text after it", "[Options\r\nBootGUI=0\r\n[Options]x\r\nBootGUI=1\r\n",
         "BootGUI", 1, "BootGUI", "0", "[Options\r\nBootGUI=0\r\n[Options]x\r\nBootGUI=0\r\n"},
        {"blanks and tabs everywhere", " \t[\tOptions \t]\t\r\n\t BootGUI\t = \t1 \t\r\n", "BootGUI", 1, "BootGUI",
         "0", " \t[\tOptions \t]\t\r\n\t BootGUI\t = \t0 \t\r\n"},
        // Value texts: the integer read, and the whole value replaced by the write.
        {"hex value", "[Options]\r\nBootDelay=0x10\r\n", "BootDelay", 16, "BootDelay", "3",
         "[Options]\r\nBootDelay=3\r\n"},
        {"exponent", "[Options]\r\nBootDelay=1e3\r\n", "BootDelay", 1, "BootDelay", "3", "[Options]\r\nBootDelay=3\r\n"},
        {"plus sign", "[Options]\r\nBootDelay=+1\r\n", "BootDelay", 1, "BootDelay", "3", "[Options]\r\nBootDelay=3\r\n"},
        {"blanks around the value", "[Options]\r\nBootDelay= 5 \r\n", "BootDelay", 5, "BootDelay", "3",
         "[Options]\r\nBootDelay= 3 \r\n"},
        {"comment after the value", "[Options]\r\nBootDelay=5;comment\r\n", "BootDelay", 5, "BootDelay", "3",
         "[Options]\r\nBootDelay=3\r\n"},
        {"beyond 32 bits", "[Options]\r\nBootDelay=99999999999\r\n", "BootDelay", INT32_MAX, "BootDelay", "3",
         "[Options]\r\nBootDelay=3\r\n"},
        {"smallest 32-bit number", "[Options]\r\nBootDelay=-2147483648\r\n", "BootDelay", INT32_MIN, "BootDelay", "3",
         "[Options]\r\nBootDelay=3\r\n"},
        {"empty value", "[Options]\r\nBootDelay=\r\nLogo=1\r\n", "BootDelay", Missing, "BootDelay", "3",
         "[Options]\r\nBootDelay=3\r\nLogo=1\r\n"},
        {"a key without \"=\", a value in quotes", "[Options]\r\nBootMenu\r\nLogo=\"1\"\r\n", "Logo", 1, "BootMenu",
         "1", "[Options]\r\nBootMenu=1\r\nLogo=\"1\"\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDrive drive;
        drive.write("msdos.sys", c.before);
        EXPECT_EQ(ReadInt(c.readKey), c.read);
        ASSERT_EQ(WriteExistingProfileString("Options", c.writeKey, c.value, MsdosSys), 1)
            << Describe(LastFileError());
        EXPECT_EQ(drive.read("msdos.sys"), c.after);
        EXPECT_EQ(ReadInt(c.writeKey), ProfileInt(c.value));
        EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
    }
}

TEST(BadInput, OddValuesLoadAsOptionsThatFit)
{
    const struct {
        const char* text;
        bool flag;        // BootMenu holding the text
        int16_t number;   // BootDelay holding the text
    } cases[] = {
        {"0x10", true, 16},          {"1e3", true, 1},          {"+1", true, 1},
        {" 5 ", true, 5},            {"5;comment", true, 5},    {"99999999999", true, 32767},
        {"-2147483648", true, 32767}, {"2147483647", true, 32767}, {"-32768", true, 32767},
        {"-0", false, 0},            {"", false, 2},            {"abc", false, 0},
    };
    for (const auto& c : cases) {
        TempDrive drive;
        drive.write("msdos.sys", "[Options]\r\nBootMenu=" + std::string(c.text) + "\r\nBootDelay=" + c.text + "\r\n");
        const BootOptions options = ReadBootOptions(MsdosSys);
        EXPECT_EQ(options.BootMenu, c.flag) << c.text;
        EXPECT_EQ(options.BootDelay, c.number) << c.text;
    }
}

TEST(BadInput, SixteenMebibytesIsTheLargestFileHandled)
{
    TempDrive drive;
    const size_t limit = 16u << 20;
    const std::string head = "[Options]\r\nBootGUI=1\r\n;";
    std::string largest = head + std::string(limit - head.size() - 2, 'x') + "\r\n";
    ASSERT_EQ(largest.size(), limit);
    drive.write("msdos.sys", largest);
    EXPECT_EQ(ReadInt("BootGUI"), 1);
    ASSERT_EQ(WriteExistingProfileString("Options", "BootGUI", "0", MsdosSys), 1) << Describe(LastFileError());
    largest[head.find('1')] = '0';
    EXPECT_EQ(drive.read("msdos.sys"), largest);

    // A write that would take it beyond the limit is refused, not half done.
    EXPECT_EQ(WriteExistingProfileString("Options", "BootGUI", "10", MsdosSys), 0);
    EXPECT_EQ(LastFileError().code, EFBIG);
    EXPECT_EQ(drive.read("msdos.sys"), largest);

    // One byte more: not read (the default), and never written.
    const std::string tooLarge = largest + ";";
    drive.write("msdos.sys", tooLarge);
    EXPECT_EQ(ReadInt("BootGUI"), Missing);
    EXPECT_EQ(WriteExistingProfileString("Options", "BootGUI", "1", MsdosSys), 0);
    EXPECT_EQ(LastFileError().step, FileStep::Read);
    EXPECT_EQ(LastFileError().code, EFBIG);
    EXPECT_EQ(fs::file_size(drive.hostPath("msdos.sys")), tooLarge.size());
    EXPECT_EQ(drive.read("msdos.sys"), tooLarge);
    EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
}

// msdos.sys as something other than a plain file: a clear failure, never a block, and
// whatever the name stands for is left as it was.
TEST(BadInput, NamesThatAreNoPlainFileAreRefusedWithoutBlocking)
{
    TempDrive drive;
    const std::string path = drive.hostPath("msdos.sys");
    const struct {
        const char* name;
        std::function<bool()> make;
        int code;
        FileStep step = FileStep::Inspect;
    } cases[] = {
        {"directory", [&] { return mkdir(path.c_str(), 0755) == 0; }, EISDIR},
        {"FIFO", [&] { return mkfifo(path.c_str(), 0644) == 0; }, EINVAL},
        {"FIFO with a reader waiting",
         [&] { return mkfifo(path.c_str(), 0644) == 0; }, EINVAL},
        {"link to /dev/null", [&] { return symlink("/dev/null", path.c_str()) == 0; }, 0, FileStep::LinkOutside},
        {"character device", [&] { return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; }, EINVAL},
        {"link to a directory", [&] { return mkdir(drive.hostPath("d").c_str(), 0755) == 0
                                             && symlink("d", path.c_str()) == 0; }, EISDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(path);
        fs::remove_all(drive.hostPath("d"));
        if (!c.make()) {
            if (errno != EPERM)  // devices need privileges
                ADD_FAILURE() << "could not make it: " << std::strerror(errno);
            continue;
        }
        // A reader that keeps the FIFO open must not make a writer wait either.
        pid_t reader = -1;
        if (std::string(c.name).find("reader") != std::string::npos) {
            reader = fork();
            if (reader == 0) {
                int fd = open(path.c_str(), O_RDONLY);
                pause();
                _exit(fd >= 0 ? 0 : 1);
            }
        }
        const struct stat before = LinkStatusOf(path);
        const int code = c.code;
        const FileStep step = c.step;
        const ChildResult result = RunInChild([code, step] {
            if (GetPrivateProfileIntA("Options", "BootGUI", Missing, MsdosSys) != uint32_t(Missing))
                return false;
            if (FileExists(MsdosSys))
                return false;
            if (WriteExistingProfileString("Options", "BootGUI", "1", MsdosSys) != 0)
                return false;
            FileError error = LastFileError();
            return error.step == step && error.code == code;
        });
        if (reader > 0) {
            kill(reader, SIGKILL);
            waitpid(reader, nullptr, 0);
        }
        EXPECT_EQ(result, ChildResult::Passed);
        const struct stat after = LinkStatusOf(path);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
    }
}

TEST(BadInput, ADirectoryWithoutRoomForTheTemporaryFileIsAClearFailure)
{
    TempDrive drive;
    const std::string bytes = "[Options]\r\nBootGUI=1\r\n";
    drive.write("msdos.sys", bytes);
    const bool root = geteuid() == 0;
    // The file may be written, the directory may not: as nobody when we are root.
    if (root) {
        ASSERT_EQ(chown(drive.hostPath("msdos.sys").c_str(), NobodyId, NobodyId), 0);
        ASSERT_EQ(chmod(drive.dir().c_str(), 0755), 0);
    } else {
        ASSERT_EQ(chmod(drive.dir().c_str(), 0555), 0);
    }
    {
        std::optional<AsUser> nobody;
        if (root)
            nobody.emplace(NobodyId);
        ASSERT_TRUE(!root || nobody->active());
        EXPECT_EQ(WriteExistingProfileString("Options", "BootGUI", "0", MsdosSys), 0);
    }
    EXPECT_EQ(LastFileError().step, FileStep::CreateTemporary);
    EXPECT_EQ(LastFileError().code, EACCES);
    EXPECT_EQ(drive.read("msdos.sys"), bytes);
    EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
}

TEST(BadInput, AFileOfAnotherOwnerKeepsItsOwnerOrIsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can hand files to another user";
    TempDrive drive;
    const std::string path = drive.hostPath("msdos.sys");
    const std::string bytes = "[Options]\r\nBootGUI=1\r\n";
    ASSERT_EQ(chmod(drive.dir().c_str(), 0777), 0);
    const struct {
        const char* name;
        uid_t owner;
        gid_t group;
        mode_t mode;
        bool asNobody;
        FileStep refused;  // None: written
        int code;
    } cases[] = {
        {"root writes nobody's file, which stays nobody's", NobodyId, NobodyId, 0640, false, FileStep::None, 0},
        // Nobody could rename over root's file in this directory, but may not write it.
        {"nobody, root's read-only file", 0, 0, 0644, true, FileStep::Inspect, EACCES},
        // Nobody may write these, but a new copy would be nobody's.
        {"nobody, root's 0666 file", 0, 0, 0666, true, FileStep::Owner, EPERM},
        {"nobody, root's file writable by nobody's group", 0, NobodyId, 0664, true, FileStep::Owner, EPERM},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        drive.write("msdos.sys", bytes);
        ASSERT_EQ(chown(path.c_str(), c.owner, c.group), 0);
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        {
            std::optional<AsUser> nobody;
            if (c.asNobody)
                nobody.emplace(NobodyId);
            const bool written = WriteExistingProfileString("Options", "BootGUI", "0", MsdosSys) == 1;
            EXPECT_EQ(written ? FileStep::None : LastFileError().step, c.refused);
            EXPECT_EQ(written ? 0 : LastFileError().code, c.code);
            EXPECT_EQ(CheckReplaceable(MsdosSys), !c.asNobody);
            if (c.asNobody) {
                EXPECT_FALSE(SetFileAttributesA(MsdosSys, 0x27));
            }
        }
        EXPECT_EQ(drive.read("msdos.sys"), c.refused == FileStep::None ? "[Options]\r\nBootGUI=0\r\n" : bytes);
        const struct stat status = LinkStatusOf(path);
        EXPECT_EQ(status.st_uid, c.owner);
        EXPECT_EQ(status.st_gid, c.group);
        EXPECT_EQ(status.st_mode & 07777, c.mode);
        EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
    }
}

// A link named msdos.sys is followed only while it stays inside the drive's directory
// (which may itself be a link, as in a Wine prefix); a file with other hard links is
// never replaced, which would cut them off.
TEST(UnsafeInput, LinksAreFollowedOnlyInsideTheDrive)
{
    TempDrive outer('O');
    fs::create_directories(outer.hostPath("prefix/drive_c/boot"));
    fs::create_directory_symlink("drive_c", outer.hostPath("prefix/c:"));
    fs::create_directory_symlink("../..", outer.hostPath("prefix/drive_c/up"));
    ScopedEnv mapped("VARNELLO_DRIVE_C", outer.hostPath("prefix/c:"));
    const std::string link = outer.hostPath("prefix/drive_c/msdos.sys");
    const std::string bytes = "[Options]\r\nBootGUI=1\r\n";
    const struct {
        std::string target;
        bool followed;
    } cases[] = {
        {"./boot/../boot/MSDOS.SYS", true},
        {outer.hostPath("prefix/c:/boot/MSDOS.SYS"), true},
        {"../../outside.sys", false},
        {outer.hostPath("outside.sys"), false},
        {"up/outside.sys", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        outer.write("prefix/drive_c/boot/MSDOS.SYS", bytes);
        outer.write("outside.sys", bytes);
        fs::remove(link);
        fs::create_symlink(c.target, link);
        const struct stat outside = LinkStatusOf(outer.hostPath("outside.sys"));

        EXPECT_EQ(ReadInt("BootGUI"), c.followed ? 1 : Missing);
        EXPECT_EQ(WriteExistingProfileString("Options", "BootGUI", "0", MsdosSys), c.followed ? 1 : 0);
        if (!c.followed) {
            EXPECT_EQ(LastFileError().step, FileStep::LinkOutside);
        }
        EXPECT_EQ(SetFileAttributesA(MsdosSys, 7), c.followed);
        EXPECT_EQ(CheckReplaceable(MsdosSys), c.followed);

        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(outer.read("prefix/drive_c/boot/MSDOS.SYS"), c.followed ? "[Options]\r\nBootGUI=0\r\n" : bytes);
        EXPECT_EQ(outer.read("outside.sys"), bytes);
        EXPECT_EQ(LinkStatusOf(outer.hostPath("outside.sys")).st_ctim.tv_nsec, outside.st_ctim.tv_nsec);
        SetFileAttributesA(MsdosSys, 0);
    }

    fs::remove(link);
    outer.write("prefix/drive_c/msdos.sys", bytes);
    fs::create_hard_link(link, outer.hostPath("twin.sys"));
    EXPECT_EQ(WriteExistingProfileString("Options", "BootGUI", "0", MsdosSys), 0);
    EXPECT_EQ(LastFileError().step, FileStep::HardLinked);
    EXPECT_FALSE(CheckReplaceable(MsdosSys));
    EXPECT_EQ(LinkStatusOf(link).st_nlink, 2u);
    EXPECT_EQ(outer.read("twin.sys"), bytes);
}

// Whatever the command line says, the program only ever reaches a drive root.
TEST(UnsafeInput, TheArgumentSelectsADriveRootAndNothingElse)
{
    TempDrive c('C');
    TempDrive d('D');
    const QString arguments[] = {
        QStringLiteral(".."), QStringLiteral("/"), QStringLiteral("\\"), QStringLiteral("/etc"),
        QStringLiteral("/etc/passwd"), QStringLiteral("..\\..\\etc"), QStringLiteral("C:\\..\\.."),
        QStringLiteral("d:..\\x"), QStringLiteral("\\\\server\\share"), QString(QChar(0)),
        QString::fromLatin1("d\0", 2), QStringLiteral("d/"), QStringLiteral("d\\..\\x"), QStringLiteral("d"),
        QStringLiteral("D"), QStringLiteral("c"),
    };
    for (const QString& argument : arguments) {
        const QString bootPath = BootPathFromArgument(argument);
        ASSERT_EQ(bootPath.size(), 3) << argument.toStdString();
        const std::optional<std::string> host = HostPath((bootPath + QStringLiteral("msdos.sys")).toStdString());
        ASSERT_TRUE(host) << argument.toStdString();
        const fs::path file(*host);
        EXPECT_EQ(file.filename(), "msdos.sys");
        EXPECT_TRUE(file.parent_path() == c.dir() || file.parent_path() == d.dir()) << *host;
    }
}

namespace {

// Every entry below dir (but not below skip) with its type, size, mode and contents.
std::map<std::string, std::string> Snapshot(const fs::path& dir, const fs::path& skip)
{
    std::map<std::string, std::string> entries;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
        if (it->path() == skip) {
            it.disable_recursion_pending();
            continue;
        }
        struct stat status = LinkStatusOf(it->path());
        std::string facts = std::to_string(status.st_mode) + " " + std::to_string(status.st_size) + " "
                            + std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec);
        if (S_ISREG(status.st_mode)) {
            std::ifstream in(it->path(), std::ios::binary);
            facts += " " + std::string(std::istreambuf_iterator<char>(in), {});
        } else if (S_ISLNK(status.st_mode)) {
            facts += " -> " + fs::read_symlink(it->path()).string();
        }
        entries[it->path().string()] = facts;
    }
    return entries;
}

}  // namespace

TEST(UnsafeInput, TemporaryFilesAreNeverOpenedThroughALink)
{
    // The drive sits inside a directory of its own, so everything outside it can be watched.
    TempDrive outer('O');
    const std::string driveDir = outer.hostPath("drive");
    const std::string outside = outer.hostPath("outside");
    fs::create_directory(driveDir);
    fs::create_directory(outside);
    outer.write("outside/target", "precious");
    ScopedEnv mapped("VARNELLO_DRIVE_C", driveDir);

    const std::string msdos = "[Paths]\r\nWinDir=C:\\WINDOWS\r\n[Options]\r\nBootGUI=1\r\n";
    const std::string path = driveDir + "/msdos.sys";
    std::ofstream(path, std::ios::binary) << msdos;
    chmod(path.c_str(), 0640);

    // Fifteen of every sixteen temporary names are taken by links that lead out of the
    // drive, to an existing file or to one that does not exist yet.
    for (unsigned n = 0; n < 0x10000; ++n) {
        if (n % 16 == 0)
            continue;
        char name[16];
        std::snprintf(name, sizeof name, "VRNL%04X.TMP", n);
        const std::string target = n % 2 ? outside + "/target" : outside + "/created-" + std::to_string(n);
        ASSERT_EQ(symlink(target.c_str(), (driveDir + "/" + name).c_str()), 0);
    }
    const auto before = Snapshot(outer.dir(), driveDir);

    for (const char* value : {"0", "1", "0"}) {
        ASSERT_EQ(WriteExistingProfileString("Options", "BootGUI", value, MsdosSys), 1) << Describe(LastFileError());
        EXPECT_EQ(FindProfileValue(outer.read("drive/msdos.sys"), "Options", "BootGUI"), value);
        EXPECT_EQ(LinkStatusOf(path).st_mode & 07777, 0640u);  // the original's permissions
    }
    EXPECT_EQ(Snapshot(outer.dir(), driveDir), before);
    EXPECT_EQ(TemporaryFilesIn(driveDir).size(), 0x10000u - 0x1000u);  // the links stay links
    EXPECT_TRUE(fs::is_symlink(driveDir + "/VRNL0001.TMP"));
    EXPECT_EQ(outer.read("outside/target"), "precious");
}
