#pragma once

#include "platform/process/toolrun.h"
#include "platform/sys/fileerror.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The FAT file system at offset in a disk image (or an export's raw disk), as mtools
// reaches it: "-i IMAGE@@OFFSET", the image named by its locked descriptor where there is
// one, so that an image traded under its name is never the one written.
class MtoolsImage {
public:
    // keepAliveFd: a descriptor every run holds open (an export's), or -1.
    MtoolsImage(std::string toolPath, uint64_t offset, int keepAliveFd)
        : toolPath_(std::move(toolPath)), offset_(offset), keepAliveFd_(keepAliveFd) {}

    // Runs tool with arguments on the file system; lockFd (or -1) is the locked image,
    // which the tool keeps locked until it ends.
    ToolResult run(const char* tool, std::vector<std::string> arguments, int lockFd, std::string_view input = {},
                   size_t outputLimit = 1 << 20) const;

    // Sets exactly this set of read-only, hidden, system and archive on the entry shortName
    // (mattrib); false, with the failure recorded, when it could not.
    bool setAttributes(const std::string& shortName, uint32_t attributes, int lockFd) const;

private:
    std::string toolPath_;
    uint64_t offset_;
    int keepAliveFd_;
};

// Records a tool's failure as the failure of step, with the cause its words name (a full
// file system, no FAT boot sector...) and those words as the detail; returns false. A tool
// that could not give its verdict (not installed, not started, stopped) is the failure
// (ImageTool), whatever step needed it.
bool ToolFailure(FileStep step, const ToolResult& result);
