#pragma once

#include "platform/drive/directory/directorydrive.h"
#include "platform/drive/mapping.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/xattr.h>

// Where the directory drive of dosPath's letter finds the file, as the program resolves it.
inline std::optional<std::string> HostPath(std::string_view dosPath)
{
    const std::optional<DosName> parsed = ParseDosPath(dosPath);
    return parsed ? DirectoryDrive(DriveMapping(parsed->letter)).hostPath(parsed->name) : std::nullopt;
}

// The attribute set of the file dosPath names on a directory drive, read from the file's
// own records as this machine keeps them (read-only: no write permission bit; hidden,
// system, archive: the "0x..." text of user.DOSATTRIB), so that a test need not trust the
// program's code; INVALID_FILE_ATTRIBUTES when there is no such regular file.
inline uint32_t AttributesOf(std::string_view dosPath)
{
    const std::optional<std::string> host = HostPath(dosPath);
    struct stat status {};
    if (!host || stat(host->c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return INVALID_FILE_ATTRIBUTES;
    char text[64] = {};
    const ssize_t length = getxattr(host->c_str(), "user.DOSATTRIB", text, sizeof text - 1);
    uint32_t attributes = 0;
    if (length > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        attributes = uint32_t(std::strtoul(text + 2, nullptr, 16)) & ~FILE_ATTRIBUTE_READONLY;
    if ((status.st_mode & 0222) == 0)
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes;
}
