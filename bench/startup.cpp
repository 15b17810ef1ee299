// Start-up time and peak memory of Varnello against a bare Qt window with the same
// controls, and of Varnello on a disk image against Varnello on a directory, run in turn
// on the X server named by DISPLAY.
//
// usage: startup ROUNDS VARNELLO BAREWINDOW [IMAGE]
//   Varnello runs on the drive already mapped through VARNELLO_DRIVE_C, and with IMAGE
//   also on that disk image, with the runtime directory in XDG_RUNTIME_DIR (its instance
//   lock is removed between runs).
//
// Each run is timed from just before fork() to the moment the program's main window is
// mapped (MapNotify on the root window, matched by title and size), and then to the
// moment the process has gone idle: sleeping in its event loop in five samples of
// /proc/PID/stat in a row, taken a millisecond apart. The process is then ended with
// SIGTERM and its peak resident memory comes from wait4() (ru_maxrss, the figure GNU
// time prints for %M). Prints a Markdown table of the medians and the ratios.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Program {
    const char* label;
    const char* path;
    const char* title;
    const char* drive;  // VARNELLO_DRIVE_C for this program, or nullptr to leave it
};

struct Sample {
    double shownMs;
    double idleMs;
    long peakKb;
};

constexpr int MainWidth = 426;   // 6390 twips
constexpr int MainHeight = 337;  // 5055 twips

[[noreturn]] void Die(const std::string& message)
{
    std::fprintf(stderr, "startup: %s\n", message.c_str());
    std::exit(1);
}

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string Title(Display* display, Window window)
{
    XTextProperty property{};
    if (!XGetWMName(display, window, &property) || !property.value)
        return {};
    std::string title(reinterpret_cast<const char*>(property.value), property.nitems);
    XFree(property.value);
    return title;
}

bool IsMainWindow(Display* display, Window window, const Program& program)
{
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes))
        return false;
    return attributes.width == MainWidth && attributes.height == MainHeight
           && Title(display, window) == program.title;
}

char ProcessState(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');  // the command name may hold blanks
    return close != std::string::npos && close + 2 < text.size() ? text[close + 2] : '?';
}

int XErrorIgnored(Display*, XErrorEvent*)
{
    return 0;  // a window may vanish between its MapNotify and our questions about it
}

Sample RunOnce(Display* display, const Program& program)
{
    const Window root = DefaultRootWindow(display);
    XSync(display, False);
    while (XPending(display)) {
        XEvent stale;
        XNextEvent(display, &stale);
    }

    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid < 0)
        Die(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        if (program.drive)
            setenv("VARNELLO_DRIVE_C", program.drive, 1);
        execl(program.path, program.path, static_cast<char*>(nullptr));
        _exit(127);
    }

    const Clock::time_point deadline = start + std::chrono::seconds(60);
    Clock::time_point shown{};
    while (shown == Clock::time_point{}) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && event.xmap.event == root
                && IsMainWindow(display, event.xmap.window, program)) {
                shown = Clock::now();
                break;
            }
        }
        if (shown != Clock::time_point{})
            break;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            Die(std::string(program.path) + " ended before its window was shown");
        if (Clock::now() > deadline)
            Die(std::string(program.path) + " showed no window within 60 s");
        pollfd connection{ConnectionNumber(display), POLLIN, 0};
        poll(&connection, 1, 20);
    }

    int sleeping = 0;
    Clock::time_point idle{};
    Clock::time_point firstSleep{};
    while (idle == Clock::time_point{}) {
        if (ProcessState(pid) == 'S') {
            if (sleeping++ == 0)
                firstSleep = Clock::now();
            if (sleeping == 5)
                idle = firstSleep;
        } else {
            sleeping = 0;
        }
        if (Clock::now() > deadline)
            Die(std::string(program.path) + " never went idle");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    kill(pid, SIGTERM);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        Die("wait4 failed");
    return {Ms(shown - start), Ms(idle - start), usage.ru_maxrss};
}

template <typename T>
T Median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s ROUNDS VARNELLO BAREWINDOW [IMAGE]\n", argv[0]);
        return 2;
    }
    const int rounds = std::atoi(argv[1]);
    if (rounds < 1)
        Die("ROUNDS must be at least 1");
    std::vector<Program> programs = {
        {"varnello (demo drive)", argv[2], "Varnello", nullptr},
        {"bare Qt window", argv[3], "Bare window", nullptr},
    };
    if (argc == 5)
        programs.push_back({"varnello (2 GiB disk image)", argv[2], "Varnello", argv[4]});
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string lock = runtime ? std::string(runtime) + "/varnello.lock" : std::string();

    XSetErrorHandler(XErrorIgnored);
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        Die("cannot open the X display");
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);

    std::vector<std::vector<Sample>> samples(programs.size());
    for (int round = -1; round < rounds; ++round) {  // round -1 warms the caches up
        for (size_t p = 0; p < programs.size(); ++p) {
            if (!lock.empty())
                unlink(lock.c_str());  // left by the SIGTERM; each run starts alike
            const Sample sample = RunOnce(display, programs[p]);
            if (round >= 0)
                samples[p].push_back(sample);
        }
    }
    XCloseDisplay(display);

    std::vector<double> shown, idle, peak;
    for (const std::vector<Sample>& runs : samples) {
        std::vector<double> s, i, m;
        for (const Sample& sample : runs) {
            s.push_back(sample.shownMs);
            i.push_back(sample.idleMs);
            m.push_back(double(sample.peakKb));
        }
        shown.push_back(Median(s));
        idle.push_back(Median(i));
        peak.push_back(Median(m));
    }

    std::printf("| Program | Window shown (ms) | Shown and idle (ms) | Peak memory (KiB) |\n");
    std::printf("|---|---:|---:|---:|\n");
    for (size_t p = 0; p < programs.size(); ++p)
        std::printf("| %s | %.1f | %.1f | %.0f |\n", programs[p].label, shown[p], idle[p], peak[p]);
    auto ratioRow = [&](const char* label, size_t of, size_t to) {
        std::printf("| %s | %.2f | %.2f | %.2f |\n", label, shown[of] / shown[to], idle[of] / idle[to],
                    peak[of] / peak[to]);
    };
    ratioRow("ratio varnello / bare", 0, 1);
    if (programs.size() == 3)
        ratioRow("ratio disk image / demo drive", 2, 0);
    const double timeRatio = idle[0] / idle[1];
    const double memoryRatio = peak[0] / peak[1];
    std::printf("\nMedians of %d alternating runs each (after one warm-up run each).\n", rounds);
    std::printf("Goal: time at most 1.5x the bare window's (%s, %.2fx), memory at most 1.2x (%s, %.2fx).\n",
                timeRatio <= 1.5 ? "met" : "NOT met", timeRatio, memoryRatio <= 1.2 ? "met" : "NOT met",
                memoryRatio);
    if (programs.size() == 3) {
        const double imageRatio = idle[2] / idle[0];
        std::printf("Goal: on the disk image at most 1.5x the time on the demo drive (%s, %.2fx).\n",
                    imageRatio <= 1.5 ? "met" : "NOT met", imageRatio);
    }
    return 0;
}
