#include "launcher/launch.h"

#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "options/bootdrive.h"
#include "platform/files/drives.h"
#include "platform/files/files.h"

namespace {

LaunchChoice Refused(const QString& problem)
{
    return {LaunchAction::Refuse, {}, problem};
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
    const HostBootDrive chosen = MapBootDrive(path);
    if (chosen.drive.empty())
        return Refused(QFile::decodeName(QByteArray::fromStdString(chosen.problem)));
    return {LaunchAction::Start, chosen.drive, {}};
}

LaunchChoice ChooseLaunch(const std::vector<std::string>& arguments)
{
    if (arguments.empty()) {
        if (FileExists("C:\\msdos.sys"))
            return {LaunchAction::Start, {}, {}};
        return {LaunchAction::AskForDrive, {}, {}};
    }
    if (arguments.size() > 1)
        return Refused(QStringLiteral("Varnello opens one boot drive at a time.\r\n") + QLatin1String(WhatVarnelloNeeds));
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
