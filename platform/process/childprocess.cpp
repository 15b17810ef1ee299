#include "platform/process/childprocess.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int waitSliceMilliseconds = 10;

std::vector<char*> Pointers(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (std::string& text : strings)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// posix_spawn's file actions and attributes, destroyed with the object. error keeps the
// result of the first set-up call that failed; later calls are not made.
class SpawnSetup {
public:
    SpawnSetup()
    {
        actions_ = check(posix_spawn_file_actions_init(&actions));
        attributes_ = check(posix_spawnattr_init(&attributes));
    }
    ~SpawnSetup()
    {
        if (actions_)
            posix_spawn_file_actions_destroy(&actions);
        if (attributes_)
            posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    template <typename Call, typename... Arguments>
    void apply(Call call, Arguments... arguments)
    {
        if (error == 0)
            check(call(arguments...));
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    int error = 0;

private:
    bool check(int result)
    {
        if (error == 0)
            error = result;
        return result == 0;
    }

    bool actions_ = false;
    bool attributes_ = false;
};

}  // namespace

ChildProcess::ChildProcess(pid_t pid) : pid_(pid), pidfd_(int(syscall(SYS_pidfd_open, pid, 0))) {}

ChildProcess::~ChildProcess()
{
    if (pid_ > 0 && !reaped_)
        kill();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), pidfd_(std::move(other.pidfd_)), reaped_(other.reaped_),
      status_(other.status_)
{
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept
{
    if (this != &other) {
        if (pid_ > 0 && !reaped_)
            kill();
        pid_ = std::exchange(other.pid_, -1);
        pidfd_ = std::move(other.pidfd_);
        reaped_ = other.reaped_;
        status_ = other.status_;
    }
    return *this;
}

ChildProcess ChildProcess::Spawn(const std::string& program, std::vector<std::string> argv,
                                 std::vector<std::string> environment, const int (&stdio)[3],
                                 std::span<const int> keepOpen, int& error)
{
    SpawnSetup setup;
    for (int number = 0; number < 3; ++number)
        setup.apply(posix_spawn_file_actions_adddup2, &setup.actions, stdio[number], number);
    for (int fd : keepOpen)  // the same number: only clears close-on-exec
        setup.apply(posix_spawn_file_actions_adddup2, &setup.actions, fd, fd);
    setup.apply(posix_spawnattr_setflags, &setup.attributes,
                short(POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
    sigset_t signals;
    sigemptyset(&signals);
    setup.apply(posix_spawnattr_setsigmask, &setup.attributes, &signals);
    sigfillset(&signals);
    sigdelset(&signals, SIGKILL);
    sigdelset(&signals, SIGSTOP);
    setup.apply(posix_spawnattr_setsigdefault, &setup.attributes, &signals);
    pid_t pid = -1;
    if (setup.error == 0)
        setup.error = posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attributes, Pointers(argv).data(),
                                  Pointers(environment).data());
    error = setup.error;
    return error == 0 ? ChildProcess(pid) : ChildProcess();
}

ChildProcess ChildProcess::Fork(const std::function<void()>& body, int& error)
{
    const pid_t pid = fork();
    if (pid == 0) {
        body();
        _exit(127);
    }
    error = pid < 0 ? errno : 0;
    return pid > 0 ? ChildProcess(pid) : ChildProcess();
}

bool ChildProcess::ended()
{
    if (pid_ <= 0 || reaped_)
        return true;
    pid_t done;
    do
        done = waitpid(pid_, &status_, WNOHANG);
    while (done < 0 && errno == EINTR);
    reaped_ = done == pid_ || done < 0;
    return reaped_;
}

bool ChildProcess::waitUntil(Clock::time_point deadline, const std::function<bool()>& stop)
{
    while (!ended()) {
        if ((stop && stop()) || Clock::now() > deadline)
            return false;
        if (pidfd_) {
            pollfd watch{pidfd_.get(), POLLIN, 0};
            poll(&watch, 1, waitSliceMilliseconds);
        } else {
            usleep(500);
        }
    }
    return true;
}

void ChildProcess::kill()
{
    if (pid_ <= 0 || reaped_)
        return;
    if (::kill(-pid_, SIGKILL) != 0)  // not yet leading a group of its own
        ::kill(pid_, SIGKILL);
    while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
}
