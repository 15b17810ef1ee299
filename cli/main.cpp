// varnello-options: the fifteen options of a boot drive's msdos.sys, printed or set from a
// script, with the window's rules and the same write path. No display, no Qt.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/settings.h"
#include "options/bootdrive.h"
#include "options/loading.h"
#include "options/rules.h"
#include "options/saving.h"
#include "platform/files/drives.h"
#include "version.h"

namespace {

// Exit statuses: what was asked is done; a step failed; what was asked is refused.
constexpr int Done = 0;
constexpr int Failed = 1;
constexpr int Refused = 2;

constexpr const char* BootPath = "C:\\";
constexpr const char* BootFile = "C:\\msdos.sys";

constexpr const char* Usage = "usage: varnello-options [--force] [--defaults] [--partition N] PATH [KEY | KEY=VALUE]...";

constexpr const char* Help = R"(Prints or sets the start-up options in the msdos.sys of a Windows 95 boot drive.

PATH is the drive: a folder (its root) or a disk image or block device holding it.
With no KEY, prints the fifteen options as Key=Value lines; KEY alone prints its value;
KEY=VALUE sets it (key names in any letter case). All settings are written together, in
one replace of the file, or none is.

  BootMenu BootMulti BootKeys BootGUI BootWin BootWarn Logo LoadTop
  DBLSpace DRVSpace Network DoubleBuffer   0 (off) or 1 (on)
  BootDelay 0-99   BootMenuDefault 1-9   BootMenuDelay 1-30

Options:
  --defaults     set all fifteen to the Windows 95 defaults first, then any KEY=VALUE
  --force        turn a compressed-drive driver (DRVSpace, DBLSpace) off all the same
  --partition N  use primary partition N (1-4) of a partitioned disk image
  --help         show this text and end
  --version      show the version and end

Exit status: 0 done, 1 a step failed (the message names it), 2 refused (nothing written).
See varnello-options(1).
)";

struct Request {
    bool force = false;
    bool defaults = false;
    std::string partition;  // "" chooses
    std::string path;
    std::vector<OptionArgument> arguments;
};

// The text as a terminal shows it: the drive under its own name, lines ending in LF.
std::string ForTerminal(std::string text, const std::string& drive)
{
    const auto replaceAll = [&text](std::string_view from, const std::string& to) {
        for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
            text.replace(at, from.size(), to);
    };
    if (!drive.empty())
        replaceAll(BootFile, "msdos.sys in '" + drive + "'");
    replaceAll("\r\n", "\n");
    return text;
}

int Tell(int status, const std::string& text, const std::string& drive = {})
{
    std::fprintf(stderr, "varnello-options: %s\n", ForTerminal(text, drive).c_str());
    return status;
}

// A partition number as --partition takes it: 1 to 4.
bool IsPartition(std::string_view text)
{
    return text.size() == 1 && text[0] >= '1' && text[0] <= '4';
}

// Reads the command line into request; an exit status when the command ends here. Options
// may stand anywhere before "--"; the first other argument is the path.
std::optional<int> ParseCommandLine(int argc, char** argv, Request& request)
{
    bool optionsEnd = false;
    bool pathSeen = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (!optionsEnd && argument.starts_with("-")) {
            if (argument == "--help") {
                std::printf("%s\n\n%s", Usage, Help);
                return Done;
            }
            if (argument == "--version") {
                std::printf("varnello-options (Varnello) %d.%d\n", VersionMajor, VersionMinor);
                return Done;
            }
            if (argument == "--force")
                request.force = true;
            else if (argument == "--defaults")
                request.defaults = true;
            else if (argument == "--")
                optionsEnd = true;
            else if (argument == "--partition" && i + 1 < argc && IsPartition(argv[i + 1]))
                request.partition = argv[++i];
            else if (argument == "--partition")
                return Tell(Refused, "--partition takes a number from 1 to 4.");
            else
                return Tell(Refused, "unknown option '" + argument + "'\r\n" + Usage);
        } else if (!pathSeen) {
            pathSeen = true;
            request.path = argument;
        } else {
            auto parsed = ParseOptionArgument(argument);
            if (const std::string* refusal = std::get_if<std::string>(&parsed))
                return Tell(Refused, *refusal + " Nothing was written.");
            request.arguments.push_back(std::get<OptionArgument>(parsed));
        }
    }
    if (!pathSeen)
        return Tell(Refused, Usage);
    return std::nullopt;
}

int Run(int argc, char** argv)
{
    Request request;
    if (const std::optional<int> status = ParseCommandLine(argc, argv, request))
        return *status;

    setenv("VARNELLO_PARTITION_C", request.partition.c_str(), 1);
    const HostBootDrive mapped = MapBootDrive(request.path);
    if (!mapped.problem.empty())
        return Tell(Refused, mapped.problem);
    const std::string& drive = mapped.drive;

    FileError unreadable;
    BootOptions loaded = ReadBootOptions(BootFile, &unreadable);
    if (unreadable.step != FileStep::None)
        return Tell(Failed, std::string(BootFile) + " could not be read.\r\n" + Describe(unreadable), drive);
    const bool earlierDos = EarlierDosPresent(BootPath);
    if (!earlierDos)
        ApplyNoEarlierDos(loaded);

    // The values after the change, and the keys the write sets: those named, or all
    // fifteen after the defaults.
    BootOptions after = request.defaults ? Windows95Defaults : loaded;
    ChosenKeys chosen;
    if (request.defaults)
        chosen.set();
    for (const OptionArgument& argument : request.arguments) {
        if (!argument.value)
            continue;
        StoreValue(after, ReadingOrder[size_t(argument.index)], *argument.value);
        chosen.set(size_t(argument.index));
    }
    const size_t bootMulti = KeyIndex(&BootOptions::BootMulti);
    const size_t bootWin = KeyIndex(&BootOptions::BootWin);
    const bool writes = chosen.any();
    if (writes) {
        // Switching dual boot off makes Windows 95 the system to start, as the window does,
        // unless BootWin is given too: then the rules below judge it.
        if (chosen.test(bootMulti) && !chosen.test(bootWin) && !after.BootMulti && !after.BootWin) {
            ApplySingleBoot(after);
            chosen.set(bootWin);
        }
        if (chosen.test(bootMulti) || chosen.test(bootWin)) {
            if (const std::string broken = RuleBroken(after, earlierDos); !broken.empty())
                return Tell(Refused, broken + ". Nothing was written.", drive);
        }
        if (TurnsCompressedDriveOff(loaded, after) && !request.force)
            return Tell(Refused,
                        std::string(loaded.DRVSpace && !after.DRVSpace ? "DRVSpace=0" : "DBLSpace=0")
                            + " turns a compressed-drive driver off.\r\n" + CompressedDriveWarning
                            + "\r\nNothing was written; give --force to write it all the same.",
                        drive);
        if (const std::optional<std::string> failure = WriteChosenBootOptions(after, chosen, BootPath))
            return Tell(Failed, *failure, drive);
    }

    for (const OptionArgument& argument : request.arguments) {
        if (!argument.value)
            std::printf("%s\n", OptionValueText(after, ReadingOrder[size_t(argument.index)]).c_str());
    }
    if (request.arguments.empty() && !writes) {
        for (const OptionKey& option : ReadingOrder)
            std::printf("%s=%s\n", option.key, OptionValueText(after, option).c_str());
    }
    return std::fflush(stdout) == 0 ? Done : Tell(Failed, "the output could not be written");
}

}  // namespace

int main(int argc, char** argv)
{
    const int status = Run(argc, argv);
    CloseImageDrives();  // stops the exports of images in QEMU's own formats
    return status;
}
