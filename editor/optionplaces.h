#pragma once

#include <array>

#include "options/bootoptions.h"

// Where each option stands on the main window, in twips. What a control shows (caption,
// help, range) comes from the option's row in ReadingOrder.

// The check boxes Check(1..12) in index order, all at Left 240 and 255 high.
struct BoxPlace {
    bool BootOptions::*flag;
    int top;
    int width;
};
inline constexpr std::array<BoxPlace, 12> BoxPlaces{{
    {&BootOptions::BootMenu, 240, 1815},
    {&BootOptions::BootMulti, 600, 1575},
    {&BootOptions::BootKeys, 960, 2535},
    {&BootOptions::LoadTop, 1320, 2775},
    {&BootOptions::BootWin, 1680, 2655},
    {&BootOptions::BootWarn, 2040, 2175},
    {&BootOptions::Logo, 2400, 1695},
    {&BootOptions::BootGUI, 2760, 2775},
    {&BootOptions::DRVSpace, 3120, 2415},
    {&BootOptions::DBLSpace, 3480, 2535},
    {&BootOptions::Network, 3840, 2175},
    {&BootOptions::DoubleBuffer, 4200, 2175},
}};

// The numeric rows Text(i), Spin(i) and SSPanel6(i) in index order: the field, its spin
// button and its label side by side at this top.
struct FieldPlace {
    int16_t BootOptions::*number;
    int top;
    int typedLength;    // characters the user may type
    int repeatDelayMs;  // of the spin button held down
    int showingPlace;   // from 0, in the order ShowOptions fills the fields
};
inline constexpr std::array<FieldPlace, 3> FieldPlaces{{
    {&BootOptions::BootDelay, 3120, 2, 100, 2},
    {&BootOptions::BootMenuDelay, 3600, 2, 125, 0},
    {&BootOptions::BootMenuDefault, 4080, 1, 175, 1},
}};

inline constexpr std::array<int, FieldPlaces.size()> FieldShowingOrder =
    OrderOfPlaces(FieldPlaces, &FieldPlace::showingPlace);
