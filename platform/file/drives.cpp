#include "platform/file/drives.h"

#include "platform/file/asciicase.h"
#include "platform/file/fileerror.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The value of an environment variable, or "" when it is unset or empty.
std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The user's home directory: $HOME, else the password database.
std::string HomeDirectory()
{
    std::string home = Environment("HOME");
    if (home.empty()) {
        if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
            home = entry->pw_dir;
    }
    return home;
}

}  // namespace

std::string DriveMapping(char letter)
{
    const std::string variable = std::string("VARNELLO_DRIVE_") + AsciiUpper(letter);
    if (const char* mapped = std::getenv(variable.c_str()))
        return mapped;
    std::string prefix = Environment("WINEPREFIX");
    if (prefix.empty()) {
        std::string home = HomeDirectory();
        if (home.empty())
            return "";
        prefix = home + "/.wine";
    }
    return prefix + "/dosdevices/" + AsciiLower(letter) + ":";
}

namespace {

// True for a name that stays inside the drive root: one component, no tricks.
bool IsPlainFileName(std::string_view name)
{
    if (name == "." || name == "..")
        return false;
    return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

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

// The drive's directory (through links, as a Wine prefix has them) and its host path.
Descriptor OpenDriveDirectory(char letter, std::string& directory)
{
    directory = DriveMapping(letter);
    Descriptor drive;
    if (!directory.empty())
        drive = Descriptor(open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!drive)
        RecordFailure(FileStep::ResolvePath, !directory.empty() && errno == ENOTDIR ? ENOTDIR : ENODEV);
    return drive;
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

std::optional<DosName> ParseDosPath(std::string_view dosPath)
{
    if (dosPath.size() < 3 || dosPath[1] != ':' || dosPath[2] != '\\') {
        RecordFailure(FileStep::ResolvePath, EINVAL);
        return std::nullopt;
    }
    const char letter = AsciiUpper(dosPath[0]);
    const std::string_view name = dosPath.substr(3);
    if (letter < 'A' || letter > 'Z' || (!name.empty() && !IsPlainFileName(name))) {
        RecordFailure(FileStep::ResolvePath, EINVAL);
        return std::nullopt;
    }
    return DosName{letter, name};
}

std::optional<std::string> HostPath(std::string_view dosPath)
{
    const std::optional<DosName> parsed = ParseDosPath(dosPath);
    if (!parsed)
        return std::nullopt;
    std::string directory;
    const Descriptor drive = OpenDriveDirectory(parsed->letter, directory);
    if (!drive)
        return std::nullopt;
    if (parsed->name.empty())
        return directory;
    return directory + "/" + MatchInDirectory(drive.get(), parsed->name);
}

std::optional<FileTarget> ResolveFileTarget(std::string_view dosPath)
{
    const std::optional<DosName> parsed = ParseDosPath(dosPath);
    if (!parsed)
        return std::nullopt;
    if (parsed->name.empty()) {  // the drive's root is no file
        RecordFailure(FileStep::ResolvePath, EINVAL);
        return std::nullopt;
    }
    std::string directory;
    Descriptor drive = OpenDriveDirectory(parsed->letter, directory);
    if (!drive)
        return std::nullopt;
    std::string name = MatchInDirectory(drive.get(), parsed->name);
    struct stat entry {};
    if (fstatat(drive.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(entry.st_mode))
        return FileTarget{std::move(drive), std::move(name)};
    return FollowLinkInside(drive, directory, name);
}

Descriptor OpenWithoutBlocking(int directory, const char* name, Openable kinds, int access)
{
    const bool image = kinds == Openable::DiskImage;
    auto allowed = [image](mode_t mode) { return S_ISREG(mode) || (image && S_ISBLK(mode)); };
    struct stat status {};
    if (fstatat(directory, name, &status, image ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return Descriptor();
    // Looked at first, so that no FIFO or terminal is ever opened.
    if (!allowed(status.st_mode)) {
        errno = S_ISDIR(status.st_mode) ? EISDIR : S_ISLNK(status.st_mode) ? ELOOP : EINVAL;
        return Descriptor();
    }
    if (!S_ISBLK(status.st_mode))
        access &= ~O_EXCL;
    Descriptor fd(openat(directory, name, access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (image ? 0 : O_NOFOLLOW)));
    if (fd && (fstat(fd.get(), &status) != 0 || !allowed(status.st_mode))) {
        fd.reset();
        errno = EINVAL;  // swapped for something else since the look
    }
    return fd;
}

Descriptor OpenRegularFile(const FileTarget& target)
{
    return OpenWithoutBlocking(target.directory.get(), target.name.c_str());
}

void ForEachEntry(int directory, const std::function<bool(const char* name)>& visit)
{
    const int fd = openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!listing) {
        if (fd >= 0)
            close(fd);
        return;
    }
    while (const dirent* entry = readdir(listing)) {
        if (!visit(entry->d_name))
            break;
    }
    closedir(listing);
}

bool ReadWholeFile(int fd, std::string& bytes)
{
    bytes.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return count == 0;
        if (bytes.size() + size_t(count) > MaxFileSize) {
            errno = EFBIG;
            return false;
        }
        bytes.append(buffer, size_t(count));
    }
}
