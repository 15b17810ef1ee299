#include "platform/drive/directory/directorydrive.h"

#include "platform/drive/directory/atomicreplace.h"
#include "platform/drive/directory/dosattributes.h"
#include "platform/sys/asciicase.h"
#include "platform/sys/fileerror.h"
#include "platform/sys/io.h"
#include "platform/sys/opening.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// The entry of the directory open at directory that matches name as FAT would: the exact
// spelling when it exists, otherwise the smallest case-insensitive match, otherwise name.
std::string MatchInDirectory(int directory, std::string_view name)
{
    std::string best(name);
    bool found = false;
    ForEachEntry(directory, [&](std::string_view candidate) {
        if (candidate == name) {
            best = candidate;
            return false;
        }
        if (EqualIgnoringAsciiCase(candidate, name) && (!found || candidate < best)) {
            best = candidate;
            found = true;
        }
        return true;
    });
    return best;
}

std::optional<std::string> RealPath(const std::string& path)
{
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return std::nullopt;
    std::string result = resolved;
    std::free(resolved);
    return result;
}

// Where the link name in the drive leads, when that is a place inside the drive.
std::optional<FileTarget> FollowLinkInside(const Descriptor& drive, const std::string& directory,
                                           const std::string& name)
{
    const std::optional<std::string> root = RealPath(directory);
    const std::optional<std::string> file = root ? RealPath(directory + "/" + name) : std::nullopt;
    if (!file) {
        RecordFailure(FileStep::Inspect);
        return std::nullopt;
    }
    const std::string inside = *root == "/" ? "/" : *root + "/";
    if (!file->starts_with(inside)) {
        RecordFailure(FileStep::LinkOutside, 0);
        return std::nullopt;
    }
    // Walk down from the drive's own descriptor, never through a link: a directory swapped
    // for a link since realpath looked cannot lead the walk out of the drive.
    std::string_view rest = std::string_view(*file).substr(inside.size());
    Descriptor at(openat(drive.get(), ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (size_t slash = rest.find('/'); at && slash != std::string_view::npos; slash = rest.find('/')) {
        const std::string component(rest.substr(0, slash));
        at = Descriptor(openat(at.get(), component.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        rest.remove_prefix(slash + 1);
    }
    if (!at) {
        RecordFailure(FileStep::Inspect);
        return std::nullopt;
    }
    return FileTarget{std::move(at), std::string(rest)};
}

}  // namespace

Descriptor OpenRegularFile(const FileTarget& target)
{
    return OpenWithoutBlocking(target.directory.get(), target.name.c_str());
}

Descriptor DirectoryDrive::openDirectory() const
{
    Descriptor drive;
    if (!directory_.empty())
        drive = Descriptor(::open(directory_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!drive)
        RecordFailure(FileStep::ResolvePath, !directory_.empty() && errno == ENOTDIR ? ENOTDIR : ENODEV);
    return drive;
}

std::optional<std::string> DirectoryDrive::hostPath(std::string_view name) const
{
    const Descriptor drive = openDirectory();
    if (!drive)
        return std::nullopt;
    if (name.empty())
        return directory_;
    return directory_ + "/" + MatchInDirectory(drive.get(), name);
}

std::optional<FileTarget> DirectoryDrive::target(std::string_view name) const
{
    if (name.empty()) {  // the drive's root is no file
        RecordFailure(FileStep::ResolvePath, EINVAL);
        return std::nullopt;
    }
    Descriptor drive = openDirectory();
    if (!drive)
        return std::nullopt;
    std::string entry = MatchInDirectory(drive.get(), name);
    struct stat status {};
    if (fstatat(drive.get(), entry.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(status.st_mode))
        return FileTarget{std::move(drive), std::move(entry)};
    return FollowLinkInside(drive, directory_, entry);
}

bool DirectoryDrive::exists(std::string_view name)
{
    const std::optional<std::string> host = hostPath(name);
    struct stat status {};
    return host && stat(host->c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::optional<std::string> DirectoryDrive::read(std::string_view name)
{
    const std::optional<FileTarget> file = target(name);
    if (!file)
        return std::nullopt;
    const Descriptor fd = OpenRegularFile(*file);
    std::string bytes;
    if (fd && ReadWholeFile(fd.get(), bytes))
        return bytes;
    RecordFailure(fd || errno == EACCES ? FileStep::Read : FileStep::Inspect);
    return std::nullopt;
}

bool DirectoryDrive::replace(std::string_view name, const FileChange& change)
{
    const std::optional<FileTarget> file = target(name);
    return file && ReplaceTarget(*file, change);
}

bool DirectoryDrive::checkReplaceable(std::string_view name)
{
    const std::optional<FileTarget> file = target(name);
    return file && CheckTargetReplaceable(*file);
}

bool DirectoryDrive::setAttributes(std::string_view name, uint32_t attributes)
{
    const std::optional<FileTarget> file = target(name);
    return file && SetTargetAttributes(*file, attributes);
}
