#include "platform/drive/image/mtools.h"

#include "platform/drive/image/mtoolsformat.h"

#include <cerrno>

namespace {

// What mtools says when it meets these causes, and each cause in the user's words. A full
// file system also shows "No space left on device", so the host's own comes last.
constexpr struct {
    std::string_view words;
    int code;
    const char* cause;
} mtoolsCauses[] = {
    {"Disk full", ENOSPC, "the file system in the disk image is full"},
    {"No free cluster", ENOSPC, "the file system in the disk image is full"},
    {"No directory slots", ENOSPC, "the root directory of the disk image's file system has no free entry"},
    {"No space left on device", ENOSPC, "the disk that holds the disk image is full"},
    {"zero number of heads or sectors", EINVAL, "its boot sector gives no number of heads or of sectors per track"},
    {"non DOS media", EINVAL, "no FAT boot sector is where the file system should begin"},
};

}  // namespace

ToolResult MtoolsImage::run(const char* tool, std::vector<std::string> arguments, int lockFd, std::string_view input,
                            size_t outputLimit) const
{
    const std::string image = lockFd >= 0 ? "/proc/self/fd/" + std::to_string(lockFd) : toolPath_;
    std::vector<std::string> argv = {tool, "-i", image + "@@" + std::to_string(offset_)};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<int> keepOpen;
    for (int fd : {lockFd, keepAliveFd_}) {
        if (fd >= 0)
            keepOpen.push_back(fd);
    }
    return RunTool(argv, input, keepOpen, ToolLimits{.output = outputLimit});
}

bool MtoolsImage::setAttributes(const std::string& shortName, uint32_t attributes, int lockFd) const
{
    std::vector<std::string> arguments = AttributeArguments(attributes);
    arguments.push_back("::/" + shortName);
    const ToolResult changed = run("mattrib", arguments, lockFd);
    return changed.ok || ToolFailure(FileStep::Attributes, changed);
}

bool ToolFailure(FileStep step, const ToolResult& result)
{
    if (result.code != EIO)
        return RecordFailure(FileStep::ImageTool, result.code, result.message);
    for (const auto& known : mtoolsCauses) {
        if (result.said.find(known.words) != std::string::npos)
            return RecordFailure(step, known.code, known.cause, result.said);
    }
    return RecordFailure(step, result.code, result.message, result.said);
}
