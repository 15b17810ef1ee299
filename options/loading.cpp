#include "options/loading.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "platform/files/files.h"
#include "platform/files/profile.h"

BootDriveOptions ReadBootDrive(const std::string& bootPath)
{
    const std::string file = bootPath + "msdos.sys";
    BootDriveOptions drive;
    FileError unreadable;
    drive.options = ReadBootOptions(file, &unreadable);
    if (unreadable.step != FileStep::None)
        drive.unreadable = file + " could not be read.\r\n" + Describe(unreadable)
                           + "\r\nThe values shown are the Windows 95 defaults, not those of the file.";
    else if (DriveInUseByAnotherProgram(file.c_str()))
        drive.inUse = file + " is in use: another program, such as a running emulator, has its disk image open.\r\n"
                      "The configuration cannot be written until that program has closed it.";

    drive.earlierDos = EarlierDosPresent(bootPath);
    return drive;
}

bool EarlierDosPresent(const std::string& bootPath)
{
    // Dual boot needs all three files that an earlier MS-DOS leaves in the root; each is
    // looked for.
    const bool io = FileExists((bootPath + "io.dos").c_str());
    const bool msdos = FileExists((bootPath + "msdos.dos").c_str());
    const bool command = FileExists((bootPath + "command.dos").c_str());
    return io && msdos && command;
}

BootOptions ReadBootOptions(const std::string& fileName, FileError* readFailure)
{
    BootOptions options;
    for (const OptionKey& option : ReadingOrder) {
        const auto result = static_cast<int32_t>(
            GetPrivateProfileIntA(OptionsSection, option.key, option.missingDefault, fileName.c_str()));
        if (readFailure && LastFileError().step != FileStep::None)
            *readFailure = LastFileError();
        // In 64 bits, so that the absolute value of -2147483648 exists.
        const int64_t magnitude = std::llabs(int64_t{result});
        if (option.flag)
            options.*option.flag = magnitude != 0;
        else  // a number beyond 16 bits is held as the largest one that fits
            options.*option.number =
                static_cast<int16_t>(std::min<int64_t>(magnitude, std::numeric_limits<int16_t>::max()));
    }
    return options;
}
