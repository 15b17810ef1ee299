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
    int code = 0;         // when not ok: ENOENT (not installed), ETIMEDOUT, EFBIG, EIO (it failed)
    std::string output;   // standard output
    std::string message;  // when not ok: what went wrong, in the user's words ("mcopy failed (exit status 1)")
    std::string said;     // when not ok: its standard error as a detail line (ToolSaid), or ""
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

// "minfo is not installed (Debian package mtools)": the program and the package that has it.
std::string NotInstalled(std::string_view program);

// What a tool wrote, as the detail line a message shows below the cause: one line, without
// the tool's own name in front, shortened; "" when it wrote nothing.
// ('mcopy said: "Disk full"')
std::string ToolSaid(std::string_view tool, std::string_view words);
