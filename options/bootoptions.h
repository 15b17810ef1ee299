#pragma once

#include <array>
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

// The member initialisers above are the Windows 95 defaults.
inline constexpr BootOptions Windows95Defaults{};

inline constexpr const char* OptionsSection = "Options";

// One key of the section. Exactly one of flag and number is set.
struct OptionKey {
    const char* key;
    bool BootOptions::*flag;
    int16_t BootOptions::*number;
    int32_t missingDefault;  // passed to the profile reader
};

// Reading order: the order of the keys in a Windows 95 msdos.sys.
inline constexpr std::array<OptionKey, 15> ReadingOrder{{
    {"BootMenu", &BootOptions::BootMenu, nullptr, 0},
    {"BootMulti", &BootOptions::BootMulti, nullptr, 0},
    {"BootKeys", &BootOptions::BootKeys, nullptr, 1},
    {"BootGUI", &BootOptions::BootGUI, nullptr, 1},
    {"BootWin", &BootOptions::BootWin, nullptr, 1},
    {"BootWarn", &BootOptions::BootWarn, nullptr, 1},
    {"Logo", &BootOptions::Logo, nullptr, 1},
    {"LoadTop", &BootOptions::LoadTop, nullptr, 1},
    {"BootDelay", nullptr, &BootOptions::BootDelay, 2},
    {"BootMenuDefault", nullptr, &BootOptions::BootMenuDefault, 1},
    {"BootMenuDelay", nullptr, &BootOptions::BootMenuDelay, 30},
    {"DBLSpace", &BootOptions::DBLSpace, nullptr, 1},
    {"DRVSpace", &BootOptions::DRVSpace, nullptr, 1},
    {"Network", &BootOptions::Network, nullptr, 0},
    {"DoubleBuffer", &BootOptions::DoubleBuffer, nullptr, 0},
}};

// Writing order, as indices into ReadingOrder.
inline constexpr std::array<int, 15> WritingOrder{0, 1, 2, 3, 4, 7, 6, 5, 8, 9, 10, 12, 11, 13, 14};

// The option behind each check box Check(1..12); index 0 is unused.
inline constexpr std::array<bool BootOptions::*, 13> CheckOption{
    nullptr,
    &BootOptions::BootMenu,
    &BootOptions::BootMulti,
    &BootOptions::BootKeys,
    &BootOptions::LoadTop,
    &BootOptions::BootWin,
    &BootOptions::BootWarn,
    &BootOptions::Logo,
    &BootOptions::BootGUI,
    &BootOptions::DRVSpace,
    &BootOptions::DBLSpace,
    &BootOptions::Network,
    &BootOptions::DoubleBuffer,
};

// The numeric rows Text(i)/Spin(i)/SSPanel6(i), i = 0..2.
struct NumericRow {
    int16_t BootOptions::*number;
    int16_t lowest;
    int16_t highest;
    int typedLength;
    int repeatDelayMs;
    const char* caption;
};

inline constexpr std::array<NumericRow, 3> NumericRows{{
    {&BootOptions::BootDelay, 0, 99, 2, 100, "Boot Delay (0-99)"},
    {&BootOptions::BootMenuDelay, 1, 30, 2, 125, "Boot Menu Delay (1-30)"},
    {&BootOptions::BootMenuDefault, 1, 9, 1, 175, "Boot Menu Item (1-9)"},
}};

// Order in which ShowOptions fills the fields.
inline constexpr std::array<int, 3> TextShowingOrder{1, 2, 0};

// The text stored in the file for a value: "1"/"0", or the absolute value in decimal.
std::string ValueText(bool on);
std::string ValueText(int16_t number);
