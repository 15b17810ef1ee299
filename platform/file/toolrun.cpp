#include "platform/file/toolrun.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// mtools reads these from the environment before its configuration files; fixing them
// keeps a user's setting (no long names, no sanity checks, lower-case listings, another
// date format) from changing what we write or read. Bigger FATs than needed are common
// and harmless.
constexpr const char* toolSettings[] = {
    "MTOOLS_SKIP_CHECK=0",        "MTOOLS_NO_VFAT=0", "MTOOLS_LOWER_CASE=0", "MTOOLS_FAT_COMPATIBILITY=1",
    "MTOOLS_NAME_NUMERIC_TAIL=1", "MTOOLS_DATE_STRING=yyyy-mm-dd", "LC_ALL=C.UTF-8",
};
constexpr size_t saidLimit = 200;  // characters of a tool's words kept for a message box

// Our environment without the variables toolSettings replaces, then toolSettings.
std::vector<std::string> ToolEnvironment()
{
    std::vector<std::string> variables;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string_view variable = *entry;
        if (!variable.starts_with("MTOOLS") && !variable.starts_with("MCWD=") && !variable.starts_with("LC_ALL="))
            variables.emplace_back(variable);
    }
    variables.insert(variables.end(), std::begin(toolSettings), std::end(toolSettings));
    return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (std::string& text : strings)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// An anonymous file in memory holding contents, read from its start; -1 on failure.
int MemoryFile(std::string_view contents)
{
    int fd = memfd_create("varnello-tool", MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    while (!contents.empty()) {
        ssize_t written = write(fd, contents.data(), contents.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            close(fd);
            return -1;
        }
        contents.remove_prefix(size_t(written));
    }
    lseek(fd, 0, SEEK_SET);
    return fd;
}

size_t SizeOf(int fd)
{
    struct stat status {};
    return fstat(fd, &status) == 0 ? size_t(status.st_size) : 0;
}

std::string ReadMemoryFile(int fd, size_t limit)
{
    std::string text(std::min(SizeOf(fd), limit), '\0');
    ssize_t got = pread(fd, text.data(), text.size(), 0);
    text.resize(got > 0 ? size_t(got) : 0);
    return text;
}

// Waits for pid to end until deadline, or until its output outgrows outputLimit.
// True, with status set, when it ended.
bool WaitForExit(pid_t pid, int& status, Clock::time_point deadline, int output, size_t outputLimit)
{
    int pidfd = int(syscall(SYS_pidfd_open, pid, 0));
    bool ended = false;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) {
            ended = true;
            break;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || SizeOf(output) > outputLimit)
            break;
        int slice = int(std::min<long long>(left.count(), 20));
        if (pidfd >= 0) {
            pollfd watch{pidfd, POLLIN, 0};
            poll(&watch, 1, slice);
        } else {
            usleep(500);
        }
    }
    if (pidfd >= 0)
        close(pidfd);
    return ended;
}

ToolResult Failed(int code, std::string message)
{
    ToolResult result;
    result.code = code;
    result.message = std::move(message);
    return result;
}

}  // namespace

std::string FindProgram(std::string_view program)
{
    const char* path = std::getenv("PATH");
    std::string_view directories = path ? path : "/usr/bin:/bin";
    while (!directories.empty()) {
        size_t colon = directories.find(':');
        std::string candidate(directories.substr(0, colon));
        candidate += "/";
        candidate += program;
        struct stat status {};
        if (stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        directories.remove_prefix(colon == std::string_view::npos ? directories.size() : colon + 1);
    }
    return "";
}

std::string NotInstalled(std::string_view program)
{
    constexpr std::string_view mtools[] = {"minfo", "mdir", "mshowfat", "mtype", "mcopy", "mattrib", "mren", "mdel"};
    constexpr std::pair<std::string_view, std::string_view> others[] = {{"qemu-storage-daemon", "qemu-system-common"},
                                                                       {"fusermount3", "fuse3"}};
    std::string_view package;
    if (std::find(std::begin(mtools), std::end(mtools), program) != std::end(mtools))
        package = "mtools";
    for (const auto& [name, debian] : others) {
        if (name == program)
            package = debian;
    }
    std::string text = std::string(program) + " is not installed";
    return package.empty() ? text : text + " (Debian package " + std::string(package) + ")";
}

std::string ToolSaid(std::string_view tool, std::string_view words)
{
    std::string line;
    for (char c : words) {
        const bool blank = c == ' ' || c == '\n' || c == '\r' || c == '\t';
        if (!blank)
            line += c;
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    if (!line.empty() && line.back() == ' ')
        line.pop_back();
    if (line.empty())
        return "";
    const std::string ownName = std::string(tool) + ": ";
    if (line.starts_with(ownName))
        line.erase(0, ownName.size());
    if (line.size() > saidLimit) {
        const size_t lastWord = line.rfind(' ', saidLimit);
        line = line.substr(0, lastWord == std::string::npos ? saidLimit : lastWord) + "...";
    }
    return std::string(tool) + " said: \"" + line + "\"";
}

ToolResult RunTool(const std::vector<std::string>& argv, std::string_view input, std::span<const int> keepOpen,
                   ToolLimits limits)
{
    const std::string& tool = argv.front();
    // Searched here rather than by posix_spawnp, which reports a PATH entry we may not
    // enter instead of the tool's absence.
    const std::string program = FindProgram(tool);
    if (program.empty())
        return Failed(ENOENT, NotInstalled(tool));
    int in = MemoryFile(input);
    int out = MemoryFile({});
    int err = MemoryFile({});
    auto closeAll = [&] {
        for (int fd : {in, out, err}) {
            if (fd >= 0)
                close(fd);
        }
    };
    if (in < 0 || out < 0 || err < 0) {
        int code = errno;
        closeAll();
        return Failed(code, tool + " could not be started");
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    for (int fd : keepOpen)
        posix_spawn_file_actions_adddup2(&actions, fd, fd);  // the same number: only clears close-on-exec
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigfillset(&signals);
    sigdelset(&signals, SIGKILL);
    sigdelset(&signals, SIGSTOP);
    posix_spawnattr_setsigdefault(&attributes, &signals);

    std::vector<std::string> arguments = argv;
    std::vector<std::string> environment = ToolEnvironment();
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, &attributes, Pointers(arguments).data(),
                              Pointers(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        closeAll();
        return Failed(spawned, tool + " could not be started");
    }

    // A backstop that outlives us: a tool looping on a damaged image stops by itself.
    rlim_t seconds = rlim_t(std::max<long long>(1, (limits.time.count() + 999) / 1000));
    const struct rlimit cpu = {seconds, seconds + 1};
    prlimit(pid, RLIMIT_CPU, &cpu, nullptr);

    int status = 255 << 8;  // what a lost child counts as: exit status 255
    bool ended = WaitForExit(pid, status, Clock::now() + limits.time, out, limits.output);
    if (!ended) {
        kill(-pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    ToolResult result;
    result.output = ReadMemoryFile(out, limits.output + 1);
    const std::string said = ToolSaid(tool, ReadMemoryFile(err, 64 * 1024));
    closeAll();

    if (result.output.size() > limits.output)
        return Failed(EFBIG, tool + " gave more output than expected");
    if (!ended) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", double(limits.time.count()) / 1000);
        return Failed(ETIMEDOUT, tool + " did not finish within " + seconds + " seconds");
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        result.ok = true;
        return result;
    }
    result.code = EIO;
    result.message = WIFEXITED(status) ? tool + " failed (exit status " + std::to_string(WEXITSTATUS(status)) + ")"
                                       : tool + " was ended by signal " + std::to_string(WTERMSIG(status));
    result.said = said;
    return result;
}
