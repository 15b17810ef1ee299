#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "options/bootoptions.h"

// What the command makes of one argument after the path: a key to print, or a key and a
// value to store (KEY=VALUE).
struct OptionArgument {
    int index;                 // of the key in ReadingOrder
    std::optional<int> value;  // in the key's range; none to print the key
};

// Reads "KEY" or "KEY=VALUE", the key in any letter case. A key that is not one of the
// fifteen, and a value that is not a whole number in the key's range, are refused with a
// message that names the key and what it takes.
std::variant<OptionArgument, std::string> ParseOptionArgument(std::string_view text);

// Stores a value that ParseOptionArgument accepted for option.
void StoreValue(BootOptions& options, const OptionKey& option, int value);

// The index in ReadingOrder of an on/off option's key.
size_t KeyIndex(bool BootOptions::*flag);
