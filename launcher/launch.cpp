#include "launcher/launch.h"

#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files/drives.h"
#include "platform/files/files.h"
#include "platform/sys/asciicase.h"

namespace {

const QString WhatVarnelloNeeds = QStringLiteral("Give the folder or the disk image of a Windows 95 boot drive.");

LaunchChoice Refused(const QString& problem)
{
    return {LaunchAction::Refuse, {}, problem};
}

QString Quoted(const std::string& path)
{
    return QStringLiteral("'") + QFile::decodeName(QByteArray::fromStdString(path)) + QStringLiteral("'");
}

// The varnello installed or built beside this program, or "" when there is none.
std::string ProgramBesideLauncher()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    const std::string program = (self.parent_path() / "varnello").string();
    return access(program.c_str(), X_OK) == 0 ? program : std::string();
}

}  // namespace

LaunchChoice ChooseDrive(const std::string& path)
{
    if (path.empty())
        return Refused(QStringLiteral("The path is empty.\r\n") + WhatVarnelloNeeds);
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        const int code = errno;
        if (code == ENOENT || code == ENOTDIR)
            return Refused(Quoted(path) + QStringLiteral(" does not exist.\r\n") + WhatVarnelloNeeds);
        return Refused(Quoted(path) + QStringLiteral(" cannot be opened: ")
                       + QString::fromLocal8Bit(strerror(code)));
    }
    if (!S_ISDIR(status.st_mode) && !S_ISREG(status.st_mode) && !S_ISBLK(status.st_mode))
        return Refused(Quoted(path) + QStringLiteral(" is neither a folder nor a disk image.\r\n")
                       + WhatVarnelloNeeds);
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        return Refused(Quoted(path) + QStringLiteral(" cannot be opened: ")
                       + QString::fromLocal8Bit(error.message()));
    // Picking msdos.sys itself is an easy slip: its folder is meant.
    const bool bootFile = S_ISREG(status.st_mode) && EqualIgnoringAsciiCase(absolute.filename().string(), "msdos.sys");
    if (bootFile)
        absolute = absolute.parent_path();
    const std::string drive = absolute.string();
    // Looked at as varnello will look, with drive C mapped to it.
    setenv("VARNELLO_DRIVE_C", drive.c_str(), 1);
    if (FileExists("C:\\msdos.sys"))
        return {LaunchAction::Start, drive, {}};
    if (const std::string why = WhyFileNotFound("C:\\msdos.sys"); !why.empty())
        return Refused(Quoted(drive) + QStringLiteral(" cannot be used: ") + QString::fromStdString(why)
                       + QStringLiteral(".\r\n") + WhatVarnelloNeeds);
    const QString kind = S_ISDIR(status.st_mode) || bootFile ? QStringLiteral("The folder ")
                                                               : QStringLiteral("The disk image ");
    return Refused(kind + Quoted(drive)
                   + QStringLiteral(" holds no msdos.sys, so it is not the boot drive of a Windows 95 "
                                    "installation.\r\n")
                   + WhatVarnelloNeeds);
}

LaunchChoice ChooseLaunch(const std::vector<std::string>& arguments)
{
    if (arguments.empty()) {
        if (FileExists("C:\\msdos.sys"))
            return {LaunchAction::Start, {}, {}};
        return {LaunchAction::AskForDrive, {}, {}};
    }
    if (arguments.size() > 1)
        return Refused(QStringLiteral("Varnello opens one boot drive at a time.\r\n") + WhatVarnelloNeeds);
    // A path of that spelling is still reachable as ./-name.
    if (arguments.front().starts_with('-'))
        return Refused(QStringLiteral("varnello-open takes no options: varnello-open [FOLDER | DISK-IMAGE]"));
    return ChooseDrive(arguments.front());
}

QString StartVarnello(const std::string& drive)
{
    if (!drive.empty())
        setenv("VARNELLO_DRIVE_C", drive.c_str(), 1);
    CloseImageDrives();  // the check's, which would hold an image varnello is about to open
    // No argument: varnello's boot drive is then C.
    std::string program = ProgramBesideLauncher();
    if (!program.empty()) {
        char* const arguments[] = {program.data(), nullptr};
        execv(program.c_str(), arguments);
    } else {
        program = "varnello";
        char* const arguments[] = {program.data(), nullptr};
        execvp(program.c_str(), arguments);
    }
    const int code = errno;
    return QStringLiteral("Varnello could not be started (")
           + QFile::decodeName(QByteArray::fromStdString(program)) + QStringLiteral("): ")
           + QString::fromLocal8Bit(strerror(code));
}
