#include "options/rules.h"

// The rules below name the options their roles mark.
static_assert(RowOf(&BootOptions::BootMulti).role == OptionRole::DualBoot);
static_assert(RowOf(&BootOptions::BootWin).role == OptionRole::LockedWithoutDualBoot);

void ApplyNoEarlierDos(BootOptions& options)
{
    options.BootMulti = false;
    ApplySingleBoot(options);
}

void ApplySingleBoot(BootOptions& options)
{
    if (!options.BootMulti)
        options.BootWin = true;
}

bool TurnsCompressedDriveOff(const BootOptions& before, const BootOptions& after)
{
    for (const OptionKey& row : ReadingOrder) {
        if (row.role == OptionRole::CompressedDrive && before.*row.flag && !(after.*row.flag))
            return true;
    }
    return false;
}

std::string RuleBroken(const BootOptions& options, bool earlierDos)
{
    if (options.BootMulti && !earlierDos)
        return "BootMulti=1 needs MS-DOS Version 5 or 6.x beside Windows 95 (io.dos, msdos.dos and command.dos "
               "in the drive's root), and they are not there";
    if (!options.BootWin && !options.BootMulti)
        return "BootWin=0 needs BootMulti=1: without dual boot Windows 95 is the only system to start";
    return {};
}
