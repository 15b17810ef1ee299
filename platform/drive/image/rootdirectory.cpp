#include "platform/drive/image/rootdirectory.h"

#include "platform/sys/asciicase.h"
#include "platform/sys/io.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

RootDirectory::Identity RootDirectory::identity(int lockFd) const
{
    struct stat status {};
    if (!identityPath_.empty() ? stat(identityPath_.c_str(), &status) != 0 : fstat(lockFd, &status) != 0)
        return {};
    return {status.st_dev, status.st_ino, status.st_size,
            int64_t(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
}

// The entries from mdir, with their cluster chains checked through mshowfat.
bool RootDirectory::refresh(int lockFd, bool force)
{
    const Identity now = identity(lockFd);
    if (!force && entries_ && now == cachedFor_)
        return true;
    entries_.reset();
    reached_.clear();
    contents_.clear();
    attributes_.clear();

    ToolResult listing = tools_.run("mdir", {"-a", "-f", "::/"}, lockFd);
    if (!listing.ok)
        return ToolFailure(FileStep::ImageNotUnderstood, listing);
    std::vector<RootEntry> entries;
    for (std::string_view line : Lines(listing.output)) {
        if (std::optional<RootEntry> listed = ParseListing(line))
            entries.push_back(std::move(*listed));
    }
    if (!entries.empty()) {
        ToolResult chains = tools_.run("mshowfat", {"::/", "::/*"}, lockFd);
        if (!chains.ok)  // the chains are unknown, not damaged
            return ToolFailure(FileStep::ImageTool, chains);
        CheckChains(chains.output, clusterBytes_, entries);
    }
    entries_ = std::move(entries);
    cachedFor_ = now;
    return true;
}

bool RootDirectory::reaches(const std::string& name, size_t expected, FileStep step, int lockFd)
{
    const std::string key = AsciiUppercase(name);
    auto reached = reached_.find(key);
    if (reached == reached_.end()) {
        // mattrib shows one line for each entry it reaches, a directory's own included.
        ToolResult shown = tools_.run("mattrib", {"::/" + name}, lockFd);
        if (!shown.ok && !(shown.output.empty() && shown.said.find("not found") != std::string::npos))
            return ToolFailure(FileStep::ImageNotUnderstood, shown);
        reached = reached_.emplace(key, Lines(shown.output).size()).first;
    }
    return reached->second == expected
           || RecordFailure(step, EEXIST,
                            "another entry of the root directory answers to the name " + key
                                + " too (by its 8.3 or long name), and a change could reach it; check the file "
                                  "system with fsck.fat and rename the other entry");
}

const RootEntry* RootDirectory::find(std::string_view name) const
{
    if (!entries_)
        return nullptr;
    for (const RootEntry& entry : *entries_) {
        if (EqualIgnoringAsciiCase(entry.shortName, name))
            return &entry;
    }
    return nullptr;
}

const RootEntry* RootDirectory::usable(std::string_view name, int lockFd)
{
    const RootEntry* entry = find(name);
    if (!entry)
        RecordFailure(FileStep::Inspect, ENOENT);
    else if (entry->directory)
        RecordFailure(FileStep::Inspect, EISDIR);
    else if (!entry->sound)
        RecordFailure(FileStep::Inspect, EIO, "the file system is damaged there (its clusters loop or are shared); fsck.fat can repair it");
    else if (reaches(entry->shortName, 1, FileStep::Inspect, lockFd))
        return entry;
    return nullptr;
}

std::optional<std::string> RootDirectory::contents(const RootEntry& entry, int lockFd)
{
    if (auto cached = contents_.find(entry.shortName); cached != contents_.end())
        return cached->second;
    ToolResult typed = tools_.run("mtype", {"::/" + entry.shortName}, lockFd, {}, MaxFileSize);
    if (!typed.ok) {
        ToolFailure(FileStep::Read, typed);
        return std::nullopt;
    }
    // mtype gives what the chain holds, whatever size the directory entry says.
    if (!entry.sizeFitsChain || typed.output.size() != entry.size) {
        RecordFailure(FileStep::Read, EIO,
                      "its size in the directory (" + std::to_string(entry.size)
                          + " bytes) does not match its clusters; the file system is damaged there, and fsck.fat "
                            "can repair it");
        return std::nullopt;
    }
    return contents_[entry.shortName] = std::move(typed.output);
}

std::optional<uint32_t> RootDirectory::attributes(const std::string& shortName, int lockFd)
{
    if (auto cached = attributes_.find(shortName); cached != attributes_.end())
        return cached->second;
    ToolResult shown = tools_.run("mattrib", {"::/" + shortName}, lockFd);
    const std::optional<uint32_t> attributes = shown.ok ? ParseAttributes(shown.output) : std::nullopt;
    if (!attributes) {
        if (shown.ok)
            RecordFailure(FileStep::Attributes, EIO, "mattrib did not list the file");
        else
            ToolFailure(FileStep::Attributes, shown);
        return std::nullopt;
    }
    return attributes_[shortName] = *attributes;
}

bool RootDirectory::setAttributes(const std::string& shortName, uint32_t attributes, int lockFd)
{
    if (!tools_.setAttributes(shortName, attributes, lockFd))
        return false;
    if (fdatasync(lockFd) != 0)
        return RecordFailure(FileStep::Attributes, errno);
    cachedFor_ = identity(lockFd);
    attributes_[shortName] = attributes;
    return true;
}

std::vector<RootEntry> RootDirectory::release()
{
    std::vector<RootEntry> entries = entries_ ? std::move(*entries_) : std::vector<RootEntry>();
    entries_.reset();
    return entries;
}

void RootDirectory::replaced(std::vector<RootEntry> entries, const std::string& shortName, std::string bytes,
                             uint32_t attributes, int lockFd)
{
    for (RootEntry& kept : entries) {
        if (kept.shortName == shortName) {
            kept.size = bytes.size();
            kept.sizeFitsChain = true;
        }
    }
    entries_ = std::move(entries);
    cachedFor_ = identity(lockFd);
    contents_[shortName] = std::move(bytes);
    attributes_[shortName] = attributes;
}
