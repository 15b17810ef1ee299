#include "options/bootdrive.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

#include "platform/sys/asciicase.h"
#include "platform/files/files.h"

namespace {

HostBootDrive Refused(std::string problem)
{
    return {{}, std::move(problem)};
}

std::string Quoted(const std::string& path)
{
    return "'" + path + "'";
}

}  // namespace

HostBootDrive MapBootDrive(const std::string& path)
{
    const std::string needs = WhatVarnelloNeeds;
    if (path.empty())
        return Refused("The path is empty.\r\n" + needs);
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        const int code = errno;
        if (code == ENOENT || code == ENOTDIR)
            return Refused(Quoted(path) + " does not exist.\r\n" + needs);
        return Refused(Quoted(path) + " cannot be opened: " + strerror(code));
    }
    if (!S_ISDIR(status.st_mode) && !S_ISREG(status.st_mode) && !S_ISBLK(status.st_mode))
        return Refused(Quoted(path) + " is neither a folder nor a disk image.\r\n" + needs);
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        return Refused(Quoted(path) + " cannot be opened: " + error.message());
    // Picking msdos.sys itself is an easy slip: its folder is meant.
    const bool bootFile = S_ISREG(status.st_mode) && EqualIgnoringAsciiCase(absolute.filename().string(), "msdos.sys");
    if (bootFile)
        absolute = absolute.parent_path();
    const std::string drive = absolute.string();
    // Looked at as the window will look, with drive C mapped to it.
    setenv("VARNELLO_DRIVE_C", drive.c_str(), 1);
    if (FileExists("C:\\msdos.sys"))
        return {drive, {}};
    if (const std::string why = WhyFileNotFound("C:\\msdos.sys"); !why.empty())
        return Refused(Quoted(drive) + " cannot be used: " + why + "\r\n" + needs);  // why ends its sentence
    const char* kind = S_ISDIR(status.st_mode) || bootFile ? "The folder " : "The disk image ";
    return Refused(kind + Quoted(drive)
                   + " holds no msdos.sys, so it is not the boot drive of a Windows 95 installation.\r\n" + needs);
}
