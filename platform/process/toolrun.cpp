#include "platform/process/toolrun.h"

#include "platform/process/childprocess.h"
#include "platform/sys/descriptor.h"
#include "platform/sys/io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

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

// An anonymous file in memory holding contents, read from its start; invalid on failure.
Descriptor MemoryFile(std::string_view contents)
{
    Descriptor fd(memfd_create("varnello-tool", MFD_CLOEXEC));
    if (fd && (!WriteAll(fd.get(), contents) || lseek(fd.get(), 0, SEEK_SET) != 0))
        fd.reset();
    return fd;
}

size_t SizeOf(int fd)
{
    struct stat status {};
    return fstat(fd, &status) == 0 ? size_t(status.st_size) : 0;
}

std::string ReadMemoryFile(int fd, size_t limit)
{
    std::string text;
    ReadAt(fd, 0, limit, text);
    return text;
}

// A backstop that outlives us: a tool looping on a damaged image stops by itself.
void LimitProcessorTime(pid_t pid, std::chrono::milliseconds time)
{
    const rlim_t seconds = rlim_t(std::max<long long>(1, (time.count() + 999) / 1000));
    const struct rlimit cpu = {seconds, seconds + 1};
    prlimit(pid, RLIMIT_CPU, &cpu, nullptr);
}

ToolResult Failed(int code, std::string message)
{
    ToolResult result;
    result.code = code;
    result.message = std::move(message);
    return result;
}

// What a run that ended with status (or did not end) comes to.
ToolResult Verdict(const std::string& tool, int status, bool ended, std::string output, std::string said,
                   const ToolLimits& limits)
{
    if (output.size() > limits.output)
        return Failed(EFBIG, tool + " gave more output than expected");
    if (!ended) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", double(limits.time.count()) / 1000);
        return Failed(ETIMEDOUT, tool + " did not finish within " + seconds + " seconds");
    }
    ToolResult result;
    result.output = std::move(output);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        result.ok = true;
        return result;
    }
    result.code = EIO;
    result.message = WIFEXITED(status) ? tool + " failed (exit status " + std::to_string(WEXITSTATUS(status)) + ")"
                                       : tool + " was ended by signal " + std::to_string(WTERMSIG(status));
    result.said = std::move(said);
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
    const Descriptor in = MemoryFile(input);
    const Descriptor out = MemoryFile({});
    const Descriptor err = MemoryFile({});
    int error = errno;
    if (!in || !out || !err)
        return Failed(error, tool + " could not be started");
    const int stdio[3] = {in.get(), out.get(), err.get()};
    ChildProcess child = ChildProcess::Spawn(program, argv, ToolEnvironment(), stdio, keepOpen, error);
    if (!child)
        return Failed(error, tool + " could not be started");
    LimitProcessorTime(child.pid(), limits.time);
    const bool ended = child.waitUntil(ChildProcess::Clock::now() + limits.time,
                                       [&] { return SizeOf(out.get()) > limits.output; });
    child.kill();
    return Verdict(tool, child.status(), ended, ReadMemoryFile(out.get(), limits.output + 1),
                   ToolSaid(tool, ReadMemoryFile(err.get(), 64 * 1024)), limits);
}
