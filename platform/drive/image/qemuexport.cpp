#include "platform/drive/image/qemuexport.h"

#include "platform/process/toolrun.h"
#include "platform/sys/descriptor.h"
#include "platform/sys/fileerror.h"
#include "platform/sys/io.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = ChildProcess::Clock;
constexpr auto startLimit = std::chrono::seconds(10);
constexpr auto stopLimit = std::chrono::seconds(10);

std::string JsonString(std::string_view text)
{
    std::string json = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (uint8_t(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(c));
            json += escaped;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

// Where the private directory goes: the user's runtime directory, else the temporary one.
std::string RuntimeDirectory()
{
    for (const char* variable : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        const char* value = std::getenv(variable);
        struct stat status {};
        if (value && *value && stat(value, &status) == 0 && S_ISDIR(status.st_mode))
            return value;
    }
    return "/tmp";
}

bool Mounted(const std::string& rawPath, const std::string& directory)
{
    struct stat file {};
    struct stat parent {};
    return stat(rawPath.c_str(), &file) == 0 && stat(directory.c_str(), &parent) == 0 && file.st_dev != parent.st_dev;
}

bool Ended(pid_t pid)
{
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    return done == pid || (done < 0 && errno == ECHILD);
}

void CloseAllBut(int first, int second)
{
    unsigned low = unsigned(std::min(first, second));
    unsigned high = unsigned(std::max(first, second));
    close_range(3, low - 1, 0);
    close_range(low + 1, high - 1, 0);
    close_range(high + 1, ~0U, 0);
}

void Pause(long nanoseconds)
{
    timespec delay{0, nanoseconds};
    nanosleep(&delay, nullptr);
}

// Everything the watcher needs, prepared before forking: after the fork only
// async-signal-safe calls are allowed.
struct WatchPlan {
    std::string daemon;
    std::vector<std::string> arguments;
    std::vector<std::string> unmountArguments;  // fusermount3 -u -z rawPath; empty without fusermount3
    std::vector<char*> argv;
    int keepAlive;  // read end: end of file once every holder of the write end is gone
    int log;        // the daemon's standard output and error
    std::string rawPath;
    std::string logPath;
    std::string directory;
    std::vector<char*> unmount;

    // argv and unmount, pointing into the strings, once the plan is where it stays.
    void point()
    {
        for (auto [strings, pointers] : {std::pair{&arguments, &argv}, std::pair{&unmountArguments, &unmount}}) {
            for (std::string& argument : *strings)
                pointers->push_back(argument.data());
            if (!strings->empty())
                pointers->push_back(nullptr);
        }
    }
};

// Unmounts the dead mount a killed daemon leaves, lazily: umount2 for root, else the
// setuid fusermount3 that FUSE mounts of ordinary users need.
void UnmountDead(const WatchPlan& plan)
{
    if (umount2(plan.rawPath.c_str(), MNT_DETACH) == 0 || plan.unmount.empty())
        return;
    pid_t unmounter = _Fork();
    if (unmounter == 0) {
        execve(plan.unmount[0], plan.unmount.data(), environ);
        _exit(127);
    }
    if (unmounter > 0)
        waitpid(unmounter, nullptr, 0);
}

// The watcher process: starts the daemon, waits for the end of file on keepAlive (or for
// the daemon to end), stops the daemon and removes the directory. Never returns.
[[noreturn]] void Watch(const WatchPlan& plan)
{
    setsid();  // a Ctrl-C meant for us must not stop it before our tools are done
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int number = 1; number < NSIG; ++number)
        sigaction(number, &defaults, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    CloseAllBut(plan.keepAlive, plan.log);

    pid_t watcher = getpid();
    pid_t daemon = _Fork();
    if (daemon == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // should the watcher itself be killed
        if (getppid() != watcher)
            _exit(1);
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(plan.log, 1);
        dup2(plan.log, 2);
        close_range(3, ~0U, 0);
        execve(plan.daemon.c_str(), plan.argv.data(), environ);
        _exit(127);
    }
    close(plan.log);

    bool daemonEnded = daemon < 0;
    while (!daemonEnded) {
        pollfd watch{plan.keepAlive, POLLIN, 0};
        char byte;
        if (poll(&watch, 1, 200) > 0 && read(plan.keepAlive, &byte, 1) <= 0)
            break;
        daemonEnded = Ended(daemon);
    }
    if (!daemonEnded) {
        kill(daemon, SIGTERM);  // it unmounts the export and releases the image
        for (int wait = 0; wait < 1000 && !Ended(daemon); ++wait)
            Pause(10'000'000);
        if (!Ended(daemon)) {
            kill(daemon, SIGKILL);
            waitpid(daemon, nullptr, 0);
        }
    }
    if (unlink(plan.rawPath.c_str()) != 0 && errno == EBUSY) {
        UnmountDead(plan);
        unlink(plan.rawPath.c_str());
    }
    unlink(plan.logPath.c_str());
    rmdir(plan.directory.c_str());
    _exit(0);
}

// Records why the daemon did not come up, from the words QEMU wrote (log) while it opened
// the image through driver. Its errors repeat the option that failed ("--blockdev {...}: "),
// which the user need not read.
void RecordStartFailure(const std::string& log, std::string_view driver)
{
    const auto has = [&](std::string_view words) { return log.find(words) != std::string::npos; };
    std::string words = log;
    const size_t echo = words.find(": --");
    const size_t echoEnd = echo == std::string::npos ? echo : words.find("}: ", echo);
    if (echoEnd != std::string::npos)
        words.erase(echo + 2, echoEnd + 3 - (echo + 2));
    const std::string said = ToolSaid("qemu-storage-daemon", words);
    if (has("Is another process using the image") || (has("Failed to get") && has(" lock")))
        RecordFailure(FileStep::ImageInUse, EBUSY, "another program, such as a running emulator, has it open", said);
    else if (has("failed to exec fusermount3"))
        RecordFailure(FileStep::ImageTool, ENOENT, NotInstalled("fusermount3"), said);
    else if (has("JSON parse error"))
        RecordFailure(FileStep::OpenImage, EILSEQ,
                      "its name is not valid UTF-8, which qemu-storage-daemon cannot take: rename the image", said);
    else if (has("Could not open backing file"))
        RecordFailure(FileStep::OpenImage, ENOENT, "its backing file could not be opened", said);
    else if (has("--blockdev {\"driver\":" + JsonString(driver)))
        RecordFailure(FileStep::OpenImage, EINVAL,
                      "QEMU cannot read it as a " + std::string(driver) + " image; it may be damaged", said);
    else
        RecordFailure(FileStep::ImageTool, EIO, "qemu-storage-daemon could not show the image as a raw disk", said);
}

// The private directory of an export, with the files the watcher needs: the FUSE
// mount point, the daemon's log and a reader of it, and the keep-alive pipe. Removed,
// with its files, when the object dies, unless the watcher has taken it over.
struct ExportFiles {
    std::string directory;
    std::string rawPath;
    std::string logPath;
    Descriptor log;           // the daemon's standard output and error
    Descriptor logReader;
    Descriptor keepAliveRead;   // the watcher's
    Descriptor keepAliveWrite;  // ours, for as long as the export lives
    bool watched = false;

    ExportFiles() = default;
    ExportFiles(const ExportFiles&) = delete;
    ExportFiles& operator=(const ExportFiles&) = delete;
    ~ExportFiles()
    {
        if (watched || directory.empty())
            return;
        unlink(rawPath.c_str());
        unlink(logPath.c_str());
        rmdir(directory.c_str());
    }

    // Makes them all; false, with the failure recorded, when any cannot be made.
    bool make()
    {
        std::string pattern = RuntimeDirectory() + "/varnello-image-XXXXXX";
        if (!mkdtemp(pattern.data()))
            return RecordFailure(FileStep::ImageTool, errno, "no private directory for the disk image's export");
        directory = pattern;
        rawPath = directory + "/disk.raw";
        logPath = directory + "/daemon.log";
        const Descriptor mountpoint(open(rawPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        log = Descriptor(open(logPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        logReader = Descriptor(open(logPath.c_str(), O_RDONLY | O_CLOEXEC));
        int keepAlive[2] = {-1, -1};
        const bool piped = pipe2(keepAlive, O_CLOEXEC) == 0;
        keepAliveRead = Descriptor(keepAlive[0]);
        keepAliveWrite = Descriptor(keepAlive[1]);
        return (mountpoint && log && logReader && piped)
               || RecordFailure(FileStep::ImageTool, errno, "no private directory for the disk image's export");
    }
};

// The watcher's plan for exporting image through QEMU's driver into files.
WatchPlan PlanWatch(const std::string& daemon, const std::string& image, std::string_view driver, bool writable,
                    const ExportFiles& files)
{
    const char* readOnly = writable ? "false" : "true";
    WatchPlan plan;
    plan.daemon = daemon;
    plan.arguments = {
        daemon,
        "--blockdev",
        std::string(R"({"driver":"file","node-name":"file","filename":)") + JsonString(image) + R"(,"read-only":)"
            + readOnly + "}",
        "--blockdev",
        std::string(R"({"driver":)") + JsonString(driver) + R"(,"node-name":"disk","file":"file","read-only":)"
            + readOnly + "}",
        "--export",
        std::string(R"({"type":"fuse","id":"disk","node-name":"disk","allow-other":"off","mountpoint":)")
            + JsonString(files.rawPath) + R"(,"writable":)" + (writable ? "true" : "false") + "}",
    };
    if (std::string fusermount = FindProgram("fusermount3"); !fusermount.empty())
        plan.unmountArguments = {fusermount, "-u", "-z", files.rawPath};
    plan.keepAlive = files.keepAliveRead.get();
    plan.log = files.log.get();
    plan.rawPath = files.rawPath;
    plan.logPath = files.logPath;
    plan.directory = files.directory;
    return plan;
}

// Waits for the export to show up; false, with why recorded, when the watcher ended
// first or it took too long. Then the watcher stops the daemon and cleans up.
bool WaitForMount(ChildProcess& watcher, ExportFiles& files, std::string_view driver)
{
    const auto mounted = [&] { return Mounted(files.rawPath, files.directory); };
    watcher.waitUntil(Clock::now() + startLimit, mounted);
    if (mounted())
        return true;
    const bool gone = watcher.ended();
    files.keepAliveWrite.reset();
    if (!gone && !watcher.waitUntil(Clock::now() + stopLimit))
        watcher.release();  // still cleaning up
    std::string log;
    ReadAt(files.logReader.get(), 0, 4096, log);
    if (gone)
        RecordStartFailure(log, driver);
    else
        RecordFailure(FileStep::ImageTool, ETIMEDOUT, "qemu-storage-daemon did not start within 10 seconds",
                      ToolSaid("qemu-storage-daemon", log));
    return false;
}

}  // namespace

std::unique_ptr<QemuExport> QemuExport::Start(const std::string& image, std::string_view driver, bool writable)
{
    const std::string daemon = FindProgram("qemu-storage-daemon");
    if (daemon.empty()) {
        RecordFailure(FileStep::ImageTool, ENOENT, NotInstalled("qemu-storage-daemon"));
        return nullptr;
    }
    if (access("/dev/fuse", R_OK | W_OK) != 0) {
        RecordFailure(FileStep::ImageTool, errno,
                      "FUSE is not available to this user (/dev/fuse; Debian package fuse3); "
                      "qemu-img convert -O raw can make a raw image instead");
        return nullptr;
    }
    ExportFiles files;
    if (!files.make())
        return nullptr;
    WatchPlan plan = PlanWatch(daemon, image, driver, writable, files);
    plan.point();
    int error = 0;
    ChildProcess watcher = ChildProcess::Fork([&plan] { Watch(plan); }, error);
    files.keepAliveRead.reset();
    files.log.reset();
    if (!watcher) {
        RecordFailure(FileStep::ImageTool, error, "qemu-storage-daemon could not be started");
        return nullptr;
    }
    files.watched = true;  // from now on the watcher removes them
    if (!WaitForMount(watcher, files, driver))
        return nullptr;
    return std::unique_ptr<QemuExport>(new QemuExport(files.rawPath, std::move(files.keepAliveWrite), std::move(watcher)));
}

bool QemuExport::ended()
{
    return watcher_.ended();
}

QemuExport::~QemuExport()
{
    keepAlive_.reset();
    if (!watcher_.waitUntil(ChildProcess::Clock::now() + stopLimit))
        watcher_.release();  // still cleaning up
}
