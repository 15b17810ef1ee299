#include "platform/drive/image/recovery.h"

#include "platform/sys/asciicase.h"
#include "platform/sys/io.h"
#include "platform/sys/tempname.h"

#include <cerrno>
#include <unistd.h>

namespace {

// Writes bytes under the temporary name with attributes, reads it back and flushes the
// image. Until the original is removed, a failure (recorded) leaves it alone and takes
// the copy away.
bool WriteCopy(RootDirectory& root, const MtoolsImage& tools, const std::string& temporary, const std::string& bytes,
               uint32_t attributes, int lockFd)
{
    auto abandon = [&](bool failed) {
        tools.run("mdel", {"::/" + temporary}, lockFd);
        root.release();
        return failed;
    };
    ToolResult written = tools.run("mcopy", {"-D", "o", "-", "::/" + temporary}, lockFd, bytes);
    if (!written.ok)
        return abandon(ToolFailure(FileStep::WriteTemporary, written));
    if (!tools.setAttributes(temporary, attributes, lockFd))
        return abandon(false);
    ToolResult check = tools.run("mtype", {"::/" + temporary}, lockFd, {}, MaxFileSize);
    if (!check.ok)
        return abandon(ToolFailure(FileStep::WriteTemporary, check));
    if (check.output != bytes)
        return abandon(RecordFailure(FileStep::WriteTemporary, EIO, "the copy written into the image reads back differently"));
    if (fdatasync(lockFd) != 0)
        return abandon(RecordFailure(FileStep::FlushTemporary, errno));
    return true;
}

// Puts the complete copy in place of target under newName. From here on the copy stays
// whatever happens: the next lookup finishes the job should we fail or be killed.
bool SwapInCopy(const MtoolsImage& tools, const std::string& temporary, const std::string& target,
                const std::string& newName, int lockFd)
{
    ToolResult removed = tools.run("mdel", {"::/" + target}, lockFd);
    if (!removed.ok)
        return ToolFailure(FileStep::Rename, removed);
    ToolResult renamed = tools.run("mren", {"-D", "s", "::/" + temporary, "::/" + newName}, lockFd);
    if (!renamed.ok)
        return ToolFailure(FileStep::Rename, renamed);
    return fdatasync(lockFd) == 0 || RecordFailure(FileStep::FlushTemporary, errno);
}

}  // namespace

std::string TemporaryNameFor(std::string_view name)
{
    uint32_t hash = 2166136261u;  // FNV-1a
    for (char c : name)
        hash = (hash ^ uint8_t(AsciiUpper(c))) * 16777619u;
    return TemporaryName(hash ^ hash >> 16);
}

bool HasLeftover(const RootDirectory& root, std::string_view name)
{
    const RootEntry* copy = root.find(TemporaryNameFor(name));
    return copy && !copy->directory;
}

bool Repair(RootDirectory& root, const MtoolsImage& tools, std::string_view name, int lockFd)
{
    if (!root.refresh(lockFd, false))
        return false;
    if (!HasLeftover(root, name))
        return true;
    const RootEntry* copy = root.find(TemporaryNameFor(name));
    const std::string copyName = copy->shortName;
    const std::string target = AsciiUppercase(name);
    const bool original = root.find(name) != nullptr;
    if (!original && !copy->sound)
        return RecordFailure(FileStep::Rename, EIO, "the copy left by an interrupted save is damaged");
    if (!root.reaches(copyName, 1, FileStep::Rename, lockFd)
        || (!original && !root.reaches(target, 0, FileStep::Rename, lockFd)))
        return false;
    ToolResult repaired = original ? tools.run("mdel", {"::/" + copyName}, lockFd)
                                   : tools.run("mren", {"-D", "s", "::/" + copyName, "::/" + target}, lockFd);
    if (!repaired.ok)
        return ToolFailure(FileStep::Rename, repaired);
    if (fdatasync(lockFd) != 0)
        return RecordFailure(FileStep::FlushTemporary, errno);
    return root.refresh(lockFd, true);
}

bool ReplaceThroughCopy(RootDirectory& root, const MtoolsImage& tools, const RootEntry& entry, std::string_view name,
                        std::string bytes, int lockFd)
{
    const std::string target = entry.shortName;
    // A long name that only spells the 8.3 name in other letter cases is kept.
    const std::string newName = EqualIgnoringAsciiCase(entry.longName, target) ? entry.longName : target;
    // Repairing removed any file copy; whatever else answers to the name would be
    // written into or removed.
    const std::string temporary = TemporaryNameFor(name);
    if (!root.reaches(temporary, 0, FileStep::CreateTemporary, lockFd))
        return false;
    const std::optional<uint32_t> attributes = root.attributes(target, lockFd);
    if (!attributes || !WriteCopy(root, tools, temporary, bytes, *attributes, lockFd))
        return false;
    std::vector<RootEntry> entries = root.release();
    if (!SwapInCopy(tools, temporary, target, newName, lockFd))
        return false;
    root.replaced(std::move(entries), target, std::move(bytes), *attributes, lockFd);
    return true;
}
