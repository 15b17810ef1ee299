#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <random>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Helpers for the tests of what happens to msdos.sys under bad input and failures.

inline constexpr uid_t NobodyId = 65534;

// The seed of a randomised test: VARNELLO_TEST_SEED when set (to replay a run), else a
// fresh one. Printed either way, so that a failure can be replayed.
inline unsigned TestSeed()
{
    const char* given = std::getenv("VARNELLO_TEST_SEED");
    const unsigned seed = given ? unsigned(std::strtoul(given, nullptr, 10)) : std::random_device{}();
    std::printf("seed %u (replay with VARNELLO_TEST_SEED=%u)\n", seed, seed);
    return seed;
}

// Counters that forked processes share with the test.
inline std::atomic<int>* SharedCounters(size_t count)
{
    void* memory = mmap(nullptr, count * sizeof(std::atomic<int>), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : new (memory) std::atomic<int>[count] {};
}

// Names of the writer's temporary files (VRNL*.TMP) in dir.
inline std::vector<std::string> TemporaryFilesIn(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        if (name.starts_with("VRNL") && name.ends_with(".TMP"))
            names.push_back(name);
    }
    return names;
}

inline struct stat LinkStatusOf(const std::string& path)
{
    struct stat status {};
    lstat(path.c_str(), &status);
    return status;
}

enum class ChildResult { Passed, Failed, TimedOut };

// Runs check in a child process and waits at most limit for it: an operation that could
// block (a FIFO, a device) cannot hang the test run. The child only uses the file layer.
inline ChildResult RunInChild(const std::function<bool()>& check,
                              std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        _exit(check() ? 0 : 1);
    }
    if (child < 0)
        return ChildResult::Failed;
    auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return ChildResult::TimedOut;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ChildResult::Passed : ChildResult::Failed;
}

// Acts as another user until the object dies: the effective ids change, the real and
// saved ones stay root's, so root comes back afterwards. Only possible when run as root.
class AsUser {
public:
    explicit AsUser(uid_t id)
    {
        groups_.resize(size_t(std::max(getgroups(0, nullptr), 0)));
        const gid_t none[] = {gid_t(id)};
        active_ = getgroups(int(groups_.size()), groups_.data()) >= 0 && setgroups(1, none) == 0
                  && setresgid(-1, id, -1) == 0 && setresuid(-1, id, -1) == 0;
    }
    ~AsUser()
    {
        // Every later check would run with the other user's rights.
        if (setresuid(-1, 0, -1) != 0 || setresgid(-1, 0, -1) != 0 || setgroups(groups_.size(), groups_.data()) != 0)
            std::abort();
    }
    AsUser(const AsUser&) = delete;
    AsUser& operator=(const AsUser&) = delete;

    bool active() const { return active_; }

private:
    std::vector<gid_t> groups_;
    bool active_ = false;
};
