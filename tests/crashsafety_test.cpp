// A writer killed at any moment leaves msdos.sys whole, old or new; what it leaves
// behind is cleaned up by the next write, and only that.

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/sys/fileerror.h"
#include "platform/ini/inifile.h"
#include "platform/files/profile.h"
#include "safetykit.h"
#include "tempdrive.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const char* const MsdosSys = "C:\\msdos.sys";

// A msdos.sys of about 64 KB: the usual sections, then comment lines.
std::string LargeMsdos(const char* bootGui)
{
    std::string bytes = "[Paths]\r\nWinDir=C:\\WINDOWS\r\nWinBootDir=C:\\WINDOWS\r\nHostWinBootDrv=C\r\n\r\n"
                        "[Options]\r\nBootMulti=1\r\nBootGUI=" + std::string(bootGui) +
                        "\r\nBootMenu=0\r\nLogo=1\r\nNetwork=1\r\n";
    while (bytes.size() < 64 * 1024)
        bytes += ";" + std::string(70, 'x') + "\r\n";
    return bytes;
}

// Starts a process that writes the key again and again, alternating two values, and
// counts its writes in written when given.
pid_t StartWriter(const char* key, const char* first, const char* second, std::atomic<int>* written = nullptr)
{
    pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (unsigned i = 0;; ++i) {
            if (!WriteExistingProfileString("Options", key, i % 2 ? second : first, MsdosSys))
                _exit(1);
            if (written)
                ++*written;
        }
    }
    return child;
}

}  // namespace

TEST(CrashSafety, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewFile)
{
    TempDrive drive;
    const std::string oldFile = LargeMsdos("1");
    const std::string newFile = LargeMsdos("0");
    std::mt19937 random(TestSeed());
    std::uniform_int_distribution<int> delayMicroseconds(0, 15000);

    const auto deadline = Clock::now() + std::chrono::seconds(20);
    int trials = 0;
    int killedAfterAWrite = 0;
    int leftBehind = 0;
    for (; trials < 200 && Clock::now() < deadline; ++trials) {
        drive.write("msdos.sys", oldFile);
        pid_t writer = StartWriter("BootGUI", "0", "1");
        ASSERT_GT(writer, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds(random)));
        kill(writer, SIGKILL);
        int status = 0;
        waitpid(writer, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself at trial " << trials;

        const std::string found = drive.read("msdos.sys");
        ASSERT_TRUE(found == oldFile || found == newFile) << "trial " << trials << ": " << found.size() << " bytes";
        killedAfterAWrite += found == newFile;
        leftBehind += int(TemporaryFilesIn(drive.dir()).size());

        // The next write is not disturbed by whatever the killed one left, and clears it.
        ASSERT_EQ(WriteExistingProfileString("Options", "Logo", "0", MsdosSys), 1) << Describe(LastFileError());
        std::string expected = found;
        expected.replace(expected.find("Logo=1"), 6, "Logo=0");
        ASSERT_EQ(drive.read("msdos.sys"), expected);
        ASSERT_TRUE(TemporaryFilesIn(drive.dir()).empty()) << "trial " << trials;
    }
    EXPECT_GE(trials, 20);
    std::printf("%d writers killed, %d after a completed write, %d temporary files left behind and removed\n",
                trials, killedAfterAWrite, leftBehind);
}

TEST(CrashSafety, OnlyStaleTemporaryFilesOfOursAreRemoved)
{
    TempDrive drive;
    drive.write("msdos.sys", "[Options]\r\nBootGUI=1\r\n");
    drive.write("outside", "keep");
    const std::string stale = "VRNL0A1B.TMP";
    drive.write(stale, "half a file");
    // A live writer holds a lock on its file until it renames it.
    drive.write("VRNLFFFF.TMP", "being written");
    int live = open(drive.hostPath("VRNLFFFF.TMP").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(live, LOCK_EX), 0);
    const char* const notOurNames[] = {"VRNL0a1b.TMP", "VRNL123.TMP", "VRNL12345.TMP", "XVRNL1234.TMP",
                                       "VRNL1234.TMP.bak", "VRNL1234.tmp", "vrnl1234.TMP", "VRNLGGGG.TMP"};
    for (const char* name : notOurNames)
        drive.write(name, "someone else's");
    fs::create_symlink("outside", drive.hostPath("VRNL2222.TMP"));
    fs::create_directory(drive.hostPath("VRNL3333.TMP"));
    ASSERT_EQ(mkfifo(drive.hostPath("VRNL5555.TMP").c_str(), 0644), 0);
    const bool root = geteuid() == 0;
    if (root) {
        drive.write("VRNL4444.TMP", "nobody's");
        ASSERT_EQ(chown(drive.hostPath("VRNL4444.TMP").c_str(), NobodyId, NobodyId), 0);
    }

    const ChildResult result = RunInChild([] { return WriteExistingProfileString("Options", "BootGUI", "0", MsdosSys) == 1; });
    close(live);
    ASSERT_EQ(result, ChildResult::Passed);
    EXPECT_EQ(drive.read("msdos.sys"), "[Options]\r\nBootGUI=0\r\n");

    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(drive.dir()))
        left.insert(entry.path().filename().string());
    EXPECT_FALSE(left.contains(stale));
    for (const char* kept : {"VRNLFFFF.TMP", "VRNL2222.TMP", "VRNL3333.TMP", "VRNL5555.TMP", "outside"})
        EXPECT_TRUE(left.contains(kept)) << kept;
    for (const char* kept : notOurNames)
        EXPECT_TRUE(left.contains(kept)) << kept;
    EXPECT_EQ(left.contains("VRNL4444.TMP"), root);
    EXPECT_EQ(drive.read("outside"), "keep");
    EXPECT_EQ(drive.read("VRNLFFFF.TMP"), "being written");
}

TEST(CrashSafety, WritersRunningAtTheSameTimeNeverRemoveEachOthersFiles)
{
    TempDrive drive;
    drive.write("msdos.sys", LargeMsdos("1"));
    // Each writer cleans up before it writes; a live writer's file must never go.
    std::atomic<int>* written = SharedCounters(2);
    ASSERT_NE(written, nullptr);
    pid_t first = StartWriter("BootGUI", "0", "1", &written[0]);
    pid_t second = StartWriter("Logo", "0", "1", &written[1]);
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    for (pid_t writer : {first, second}) {
        int status = 0;
        EXPECT_EQ(waitpid(writer, &status, WNOHANG), 0) << "a writer failed";
        kill(writer, SIGKILL);
        waitpid(writer, &status, 0);
    }
    // Both must have got on with their work, not merely waited for each other.
    std::printf("writes done: BootGUI %d, Logo %d\n", written[0].load(), written[1].load());
    EXPECT_GT(written[0], 0);
    EXPECT_GT(written[1], 0);
    const std::string found = drive.read("msdos.sys");
    EXPECT_EQ(found.size(), LargeMsdos("1").size());
    EXPECT_TRUE(FindProfileValue(found, "Options", "BootGUI").has_value());
    EXPECT_TRUE(FindProfileValue(found, "Options", "Logo").has_value());
}
