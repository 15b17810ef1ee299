// Other programs acting on msdos.sys while Varnello writes it, and two writers at once: a
// write replaces nothing but the file it read, never makes it anew, and loses no change.

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/drive/directory/atomicreplace.h"
#include "platform/files/files.h"
#include "platform/sys/descriptor.h"
#include "platform/files/profile.h"
#include "safetykit.h"
#include "tempdrive.h"

namespace fs = std::filesystem;

namespace {

const char* const MsdosSys = "C:\\msdos.sys";
const std::string Msdos = "[Paths]\r\nWinDir=C:\\WINDOWS\r\n[Options]\r\nBootGUI=1\r\nBootDelay=2\r\n";
const std::string Other = "[Other]\r\nKey=1\r\n";

bool WriteBootGui(const char* value)
{
    return WriteExistingProfileString("Options", "BootGUI", value, MsdosSys) == 1;
}

// Another process that repeats its steps, with a random pause up to longestPause µs after
// each, until killed; it counts its rounds. A step that fails (it found a fault) ends it.
pid_t StartMeddler(std::atomic<int>* rounds, const std::vector<std::function<bool()>>& steps, int longestPause)
{
    const unsigned seed = TestSeed();
    pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> pause(0, longestPause);
        for (;; ++*rounds) {
            for (const auto& step : steps) {
                if (!step())
                    _exit(1);
                std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
            }
        }
    }
    return child;
}

// Stops the meddler; true when it never found a fault.
bool StopMeddler(pid_t meddler)
{
    kill(meddler, SIGKILL);
    int status = 0;
    waitpid(meddler, &status, 0);
    return WIFSIGNALED(status);
}

}  // namespace

TEST(Interference, WhatAnotherProgramDoesBetweenTheReadAndTheReplaceIsNeverOverwritten)
{
    TempDrive drive;
    TempDrive outside('O');
    const std::string path = drive.hostPath("msdos.sys");
    const std::string theirs = "[Paths]\r\nWinDir=D:\\WIN\r\n[Options]\r\nBootGUI=1\r\n";
    auto linkTo = [&](const std::string& target) {
        fs::remove(path);
        fs::create_symlink(target, path);
    };
    auto appendNote = [&] { std::ofstream(path, std::ios::binary | std::ios::app) << ";note\r\n"; };
    const struct {
        const char* name;
        std::function<void()> act;
        bool everyTime;    // at every attempt, not only the first
        FileStep failure;  // None: the write goes through
        std::string after;
    } cases[] = {
        {"swapped for a link out of the drive", [&] { linkTo(outside.hostPath("precious")); }, false,
         FileStep::Changed, "precious"},
        {"swapped for a link to another file", [&] { linkTo("other.sys"); }, false, FileStep::Changed, Other},
        {"removed", [&] { fs::remove(path); }, false, FileStep::Inspect, ""},
        {"replaced by its own new file",
         [&] {
             drive.write("their.tmp", theirs);
             fs::rename(drive.hostPath("their.tmp"), path);
         },
         false, FileStep::None, "[Paths]\r\nWinDir=D:\\WIN\r\n[Options]\r\nBootGUI=0\r\n"},
        {"edited in place", appendNote, false, FileStep::None,
         "[Paths]\r\nWinDir=C:\\WINDOWS\r\n[Options]\r\nBootGUI=0\r\nBootDelay=2\r\n;note\r\n"},
        {"edited in place at every attempt", appendNote, true, FileStep::Changed,
         Msdos + ";note\r\n;note\r\n;note\r\n;note\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path);
        drive.write("msdos.sys", Msdos);
        drive.write("other.sys", Other);
        outside.write("precious", "precious");
        int calls = 0;
        BeforeReplaceForTesting([&] {
            if (calls++ == 0 || c.everyTime)
                c.act();
        });
        const bool written = WriteBootGui("0");
        BeforeReplaceForTesting({});
        EXPECT_EQ(written ? FileStep::None : LastFileError().step, c.failure) << Describe(LastFileError());
        EXPECT_EQ(drive.read("msdos.sys"), c.after);
        EXPECT_EQ(drive.read("other.sys"), Other);
        EXPECT_EQ(outside.read("precious"), "precious");
        EXPECT_TRUE(TemporaryFilesIn(drive.dir()).empty());
    }
}

// The same for real: another process moves the names about while we write a thousand
// times. Some writes go through, some are refused, and no file's text lands in another.
TEST(Interference, ANameMovedAboutByAnotherProcessIsNeverWrittenThrough)
{
    TempDrive drive;
    const std::string path = drive.hostPath("msdos.sys");
    const std::string link = drive.hostPath("link.sys");
    const std::string held = drive.hostPath("held.sys");
    auto exchange = [&] { return renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE) == 0; };
    const struct {
        const char* name;
        std::vector<std::function<bool()>> steps;
        int longestPause;
    } cases[] = {
        {"msdos.sys and a link to other.sys trade names, and back", {exchange, exchange}, 1000},
        {"msdos.sys moves aside and back, finding its name free",
         {[&] { return rename(path.c_str(), held.c_str()) == 0; },
          [&] { return renameat2(AT_FDCWD, held.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0; }},
         5000},  // time enough for some writes in between
    };
    // 64 KB, as a padded msdos.sys may be: each write takes long enough to be caught.
    std::string large = Msdos;
    while (large.size() < 64 * 1024)
        large += ";" + std::string(70, 'x') + "\r\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::string& left : {path, link, held})
            fs::remove(left);
        drive.write("msdos.sys", large);
        drive.write("other.sys", Other);
        fs::create_symlink("other.sys", link);
        std::atomic<int>* rounds = SharedCounters(1);
        ASSERT_NE(rounds, nullptr);
        const pid_t meddler = StartMeddler(rounds, c.steps, c.longestPause);
        int written = 0;
        for (int i = 0; i < 1000; ++i) {
            written += WriteBootGui(i % 2 ? "1" : "0");
            // Each file keeps its own first line, whatever name it has now.
            for (const std::string& name : {path, link, drive.hostPath("other.sys")}) {
                const Descriptor fd(open(name.c_str(), O_RDONLY | O_NOFOLLOW));
                const std::string_view expected = name.ends_with("other.sys") ? "[Other]" : "[Paths]";
                char first[7] = {};
                ASSERT_TRUE(!fd || (read(fd.get(), first, 7) == 7 && std::string_view(first, 7) == expected))
                    << "write " << i << " put another file's text into " << name;
            }
        }
        EXPECT_TRUE(StopMeddler(meddler)) << "msdos.sys was made anew while it was away";
        std::printf("%s: %d rounds; %d writes done, %d refused\n", c.name, rounds->load(), written, 1000 - written);
        EXPECT_GT(written, 0);
        EXPECT_LT(written, 1000);  // the moves did get in the way
    }
}

TEST(Interference, TwoWritersAtOnceLoseNothing)
{
    TempDrive drive;
    drive.write("msdos.sys", Msdos + "BootMenuDelay=30\r\n");
    constexpr int writes = 1000;
    const char* const keys[] = {"BootDelay", "BootMenuDelay"};
    std::atomic<int>* counts = SharedCounters(4);  // written and stale read-backs, per writer
    ASSERT_NE(counts, nullptr);
    const auto start = std::chrono::steady_clock::now();
    // Each writer writes its own key 1,000 times and reads it back after every write.
    std::vector<pid_t> writers;
    for (int w = 0; w < 2; ++w) {
        writers.push_back(fork());
        if (writers.back() != 0)
            continue;
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (int i = 1; i <= writes; ++i) {
            if (WriteExistingProfileString("Options", keys[w], std::to_string(i).c_str(), MsdosSys)) {
                ++counts[2 * w];
                counts[2 * w + 1] += GetPrivateProfileIntA("Options", keys[w], -1, MsdosSys) != uint32_t(i);
            }
        }
        _exit(0);
    }
    for (pid_t writer : writers)
        waitpid(writer, nullptr, 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (int w = 0; w < 2; ++w) {
        std::printf("%s: %d writes done, %d stale read-backs (both writers: %.1f s)\n", keys[w],
                    counts[2 * w].load(), counts[2 * w + 1].load(), seconds);
        EXPECT_EQ(counts[2 * w], writes);
        EXPECT_EQ(counts[2 * w + 1], 0);
    }
    EXPECT_EQ(drive.read("msdos.sys"),
              "[Paths]\r\nWinDir=C:\\WINDOWS\r\n[Options]\r\nBootGUI=1\r\nBootDelay=1000\r\nBootMenuDelay=1000\r\n");
}
