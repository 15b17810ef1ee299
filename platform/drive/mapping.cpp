#include "platform/drive/mapping.h"

#include "platform/sys/asciicase.h"
#include "platform/sys/fileerror.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace {

// The value of an environment variable, or "" when it is unset or empty.
std::string Environment(const std::string& name)
{
    const char* value = std::getenv(name.c_str());
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

// True for a name that stays inside the drive root: one component, no tricks.
bool IsPlainFileName(std::string_view name)
{
    if (name == "." || name == "..")
        return false;
    return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
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

std::optional<int> PartitionChoice(char letter)
{
    const std::string variable = std::string("VARNELLO_PARTITION_") + AsciiUpper(letter);
    const std::string partition = Environment(variable);
    if (partition.empty())
        return 0;
    if (partition.size() == 1 && partition[0] >= '1' && partition[0] <= '4')
        return partition[0] - '0';
    RecordFailure(FileStep::ImageNotUnderstood, EINVAL, variable + " must be a partition number from 1 to 4");
    return std::nullopt;
}

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
