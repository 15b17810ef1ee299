#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// The fifteen start-up options of msdos.sys's section "Options", named like their keys.
struct BootOptions {
    bool BootMenu = false;
    bool BootMulti = false;
    bool BootKeys = true;
    bool BootGUI = true;
    bool BootWin = true;
    bool BootWarn = true;
    bool Logo = true;
    bool LoadTop = true;
    int16_t BootDelay = 2;
    int16_t BootMenuDefault = 1;
    int16_t BootMenuDelay = 30;
    bool DBLSpace = true;
    bool DRVSpace = true;
    bool Network = false;
    bool DoubleBuffer = false;

    bool operator==(const BootOptions&) const = default;
};

// The member initialisers above are the Windows 95 defaults, which are also what a
// missing key reads as.
inline constexpr BootOptions Windows95Defaults{};

inline constexpr const char* OptionsSection = "Options";

// What an option means to the rules between options (options/rules.h) and to the
// window, which finds the boxes those rules touch by it.
enum class OptionRole {
    Plain,
    DualBoot,              // an earlier MS-DOS may be started beside Windows 95
    LockedWithoutDualBoot, // on, and not to be switched, while dual boot is off
    CompressedDrive,       // a compressed-drive driver: switching it off needs care
};

// One key of the section. Exactly one of flag and number is set.
struct OptionKey {
    const char* key;
    bool BootOptions::*flag;
    int16_t BootOptions::*number;
    int32_t missingDefault;  // passed to the profile reader
    int writingPlace;        // from 0, in the order the keys are written
    OptionRole role;
    const char* caption;     // as the window shows the option
    const char* help;        // one sentence on what the option does
    int16_t lowest;          // numbers only: the range the user may set
    int16_t highest;
};

constexpr OptionKey Flag(const char* key, bool BootOptions::*flag, int writingPlace, const char* caption,
                         const char* help, OptionRole role = OptionRole::Plain)
{
    return {key, flag, nullptr, Windows95Defaults.*flag ? 1 : 0, writingPlace, role, caption, help, 0, 0};
}

constexpr OptionKey Number(const char* key, int16_t BootOptions::*number, int writingPlace, int16_t lowest,
                           int16_t highest, const char* caption, const char* help)
{
    return {key, nullptr, number, Windows95Defaults.*number, writingPlace, OptionRole::Plain, caption, help,
            lowest, highest};
}

// The table of the options, in reading order: the order of the keys in a Windows 95
// msdos.sys.
inline constexpr std::array<OptionKey, 15> ReadingOrder{{
    Flag("BootMenu", &BootOptions::BootMenu, 0, "Show Startup Menu",
         "Enables automatic display of the Windows 95 Startup menu."),
    Flag("BootMulti", &BootOptions::BootMulti, 1, "Enable Dual Boot",
         "Enables dual-boot capabilities. Checking this box enables the ability to start MS-DOS.",
         OptionRole::DualBoot),
    Flag("BootKeys", &BootOptions::BootKeys, 2, "Enable Startup Keys (F-Keys)", "Enables the startup option keys."),
    Flag("BootGUI", &BootOptions::BootGUI, 3, "Load the Windows GUI as Default",
         "Enables automatic graphical startup into Windows 95."),
    Flag("BootWin", &BootOptions::BootWin, 4, "Boot Windows 95 as Default OS",
         "Enables Windows 95 as the default operating system.", OptionRole::LockedWithoutDualBoot),
    Flag("BootWarn", &BootOptions::BootWarn, 7, "Boot Safe Mode Warning", "Enables the Safe Mode startup warning."),
    Flag("Logo", &BootOptions::Logo, 6, "Load Startup Logo", "Enables display of the animated logo."),
    Flag("LoadTop", &BootOptions::LoadTop, 5, "Load Components at Top of 640K",
         "Enables loading of COMMAND.COM or DRVSPACE.BIN at the top of 640K memory."),
    Number("BootDelay", &BootOptions::BootDelay, 8, 0, 99, "Boot Delay (0-99)",
           "Sets the initial startup delay to n seconds."),
    Number("BootMenuDefault", &BootOptions::BootMenuDefault, 9, 1, 9, "Boot Menu Item (1-9)",
           "Sets the default menu item on the Windows Startup menu."),
    Number("BootMenuDelay", &BootOptions::BootMenuDelay, 10, 1, 30, "Boot Menu Delay (1-30)",
           "Sets the number of seconds to display the Windows Startup menu."),
    Flag("DBLSpace", &BootOptions::DBLSpace, 12, "Autoload DoubleSpace Driver",
         "Enables automatic loading of DBLSPACE.BIN.", OptionRole::CompressedDrive),
    Flag("DRVSpace", &BootOptions::DRVSpace, 11, "Autoload DriveSpace Driver",
         "Enables automatic loading of DRVSPACE.BIN.", OptionRole::CompressedDrive),
    Flag("Network", &BootOptions::Network, 13, "Enable Network Support",
         "Enables Safe Mode With Networking as a menu option."),
    Flag("DoubleBuffer", &BootOptions::DoubleBuffer, 14, "Enable Double-Buffering",
         "Enables loading of a double-buffering driver for a SCSI controller."),
}};

// The indices of rows in the order their places give; a place missing or given twice
// stops the build.
template <class Row, std::size_t N>
constexpr std::array<int, N> OrderOfPlaces(const std::array<Row, N>& rows, int Row::*place)
{
    std::array<int, N> order{};
    std::array<bool, N> taken{};
    for (std::size_t i = 0; i < N; ++i) {
        const int at = rows[i].*place;
        if (at < 0 || at >= int(N) || taken[at])
            throw "each row needs a place of its own";
        taken[at] = true;
        order[at] = int(i);
    }
    return order;
}

// Writing order, as indices into ReadingOrder.
inline constexpr std::array<int, ReadingOrder.size()> WritingOrder =
    OrderOfPlaces(ReadingOrder, &OptionKey::writingPlace);

// The row of an option.
constexpr const OptionKey& RowOf(bool BootOptions::*flag)
{
    for (const OptionKey& row : ReadingOrder)
        if (row.flag == flag)
            return row;
    throw "an option without a row";
}
constexpr const OptionKey& RowOf(int16_t BootOptions::*number)
{
    for (const OptionKey& row : ReadingOrder)
        if (row.number == number)
            return row;
    throw "an option without a row";
}

// The text stored in the file for a value: "1"/"0", or the absolute value in decimal.
std::string ValueText(bool on);
std::string ValueText(int16_t number);
