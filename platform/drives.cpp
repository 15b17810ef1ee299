#include "platform/drives.h"

#include "platform/fileerror.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

char AsciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

// True when a and b are the same name on FAT: equal but for ASCII letter case.
bool SameFatName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    }
    return true;
}

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

// The host directory configured for a drive letter, or "" when none is configured.
std::string DriveDirectory(char letter)
{
    std::string mapped = Environment((std::string("VARNELLO_DRIVE_") + AsciiUpper(letter)).c_str());
    if (!mapped.empty())
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

// True for a name that stays inside the drive root: one component, no tricks.
bool IsPlainFileName(std::string_view name)
{
    if (name == "." || name == "..")
        return false;
    return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

// The entry of directory that matches name as FAT would: the exact spelling when it
// exists, otherwise the smallest case-insensitive match, otherwise name itself.
std::string MatchInDirectory(const std::string& directory, std::string_view name)
{
    std::string best(name);
    bool found = false;
    DIR* listing = opendir(directory.c_str());
    if (!listing)
        return best;
    while (const dirent* entry = readdir(listing)) {
        std::string_view candidate = entry->d_name;
        if (candidate == name) {
            best = candidate;
            break;
        }
        if (SameFatName(candidate, name) && (!found || candidate < best)) {
            best = candidate;
            found = true;
        }
    }
    closedir(listing);
    return best;
}

std::optional<std::string> Unresolved(int code)
{
    SetLastFileError(FileStep::ResolvePath, code);
    return std::nullopt;
}

}  // namespace

std::optional<std::string> HostPath(std::string_view dosPath)
{
    if (dosPath.size() < 3 || dosPath[1] != ':' || dosPath[2] != '\\')
        return Unresolved(EINVAL);
    char letter = AsciiUpper(dosPath[0]);
    if (letter < 'A' || letter > 'Z')
        return Unresolved(EINVAL);
    std::string_view name = dosPath.substr(3);
    if (!name.empty() && !IsPlainFileName(name))
        return Unresolved(EINVAL);

    std::string directory = DriveDirectory(letter);
    struct stat status {};
    if (directory.empty() || stat(directory.c_str(), &status) != 0)
        return Unresolved(ENODEV);
    if (!S_ISDIR(status.st_mode))
        return Unresolved(ENOTDIR);
    if (name.empty())
        return directory;
    return directory + "/" + MatchInDirectory(directory, name);
}
