#pragma once

#include "platform/sys/descriptor.h"

#include <chrono>
#include <functional>
#include <span>
#include <string>
#include <sys/types.h>
#include <vector>

// A child process of ours, reaped when the object dies: one still running then is killed
// first, with the process group it leads. Every tool we run (mtools, the watcher that
// keeps qemu-storage-daemon) is one.
class ChildProcess {
public:
    using Clock = std::chrono::steady_clock;

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts program (a full path) with argv and environment, never through a shell, in a
    // session of its own, with every signal at its default and none blocked. Its standard
    // input, output and error are stdio; the descriptors in keepOpen stay open in it.
    // Every set-up call is checked: on failure the object is empty and error says why.
    static ChildProcess Spawn(const std::string& program, std::vector<std::string> argv,
                              std::vector<std::string> environment, const int (&stdio)[3],
                              std::span<const int> keepOpen, int& error);

    // Runs body, which must end the process (only async-signal-safe calls), in a forked
    // copy of this process; empty, with error set, when it cannot fork.
    static ChildProcess Fork(const std::function<void()>& body, int& error);

    explicit operator bool() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // True once it has ended; then status() is its wait status.
    bool ended();
    int status() const { return status_; }

    // Waits until it ends (true), or until deadline passes or stop answers true (false).
    bool waitUntil(Clock::time_point deadline, const std::function<bool()>& stop = {});

    // Kills it and the group it leads, and reaps it.
    void kill();

    // Lets it run on unreaped: for a child that finishes a job of its own after we stop
    // waiting for it (the watcher that removes an export's mount and folder).
    void release() { pid_ = -1; }

private:
    explicit ChildProcess(pid_t pid);

    pid_t pid_ = -1;
    Descriptor pidfd_;     // readable once it ends, where the kernel offers one
    bool reaped_ = false;
    int status_ = 255 << 8;  // what a lost child counts as: exit status 255
};
