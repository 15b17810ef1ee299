#pragma once

#include <chrono>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Runs the external programs of the image drives (mtools, qemu-storage-daemon): an
// argument vector, never a shell.

struct ToolLimits {
    std::chrono::milliseconds time{10000};
    size_t output = 1 << 20;  // bytes of standard output kept; beyond that the run fails
};

struct ToolResult {
    bool ok = false;      // ran to its end and exited with status 0
    int code = 0;         // when not ok: ENOENT (not installed), ETIMEDOUT, EFBIG, EIO
    std::string output;   // standard output
    std::string message;  // when not ok: what the user reads, the tool's own words if any
};

// Runs argv[0] (found on PATH) with input on its standard input. The tool runs in a session
// of its own and writes its output to memory files, not pipes, so it finishes its work even
// when this process is killed; the descriptors in keepOpen stay open in it (a lock held on
// the image lasts until it is done). Past limits.time it is killed, and the run fails.
// mtools sees the same settings whatever the user's configuration says.
ToolResult RunTool(const std::vector<std::string>& argv, std::string_view input = {},
                   std::span<const int> keepOpen = {}, ToolLimits limits = {});

// The full path of program on PATH, or "" when it is not installed.
std::string FindProgram(std::string_view program);
