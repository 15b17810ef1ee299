#include "cli/settings.h"

#include <charconv>

#include "platform/sys/asciicase.h"

namespace {

// The values a key takes, as the messages name them.
std::string AllowedValues(const OptionKey& option)
{
    if (option.flag)
        return "0 (off) or 1 (on)";
    return "a whole number from " + std::to_string(option.lowest) + " to " + std::to_string(option.highest);
}

// The value's number when it is plain decimal digits within the key's range.
std::optional<int> ValueInRange(const OptionKey& option, std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || text.front() == '-')
        return std::nullopt;
    if (option.flag)
        return value == 0 || value == 1 ? std::optional<int>(value) : std::nullopt;
    return value >= option.lowest && value <= option.highest ? std::optional<int>(value) : std::nullopt;
}

}  // namespace

std::variant<OptionArgument, std::string> ParseOptionArgument(std::string_view text)
{
    const size_t equals = text.find('=');
    const std::string_view name = text.substr(0, equals);
    for (int index = 0; index < int(ReadingOrder.size()); ++index) {
        const OptionKey& option = ReadingOrder[size_t(index)];
        if (!EqualIgnoringAsciiCase(name, option.key))
            continue;
        if (equals == std::string_view::npos)
            return OptionArgument{index, std::nullopt};
        if (const std::optional<int> value = ValueInRange(option, text.substr(equals + 1)))
            return OptionArgument{index, value};
        return std::string(text) + " is refused: " + option.key + " takes " + AllowedValues(option) + ".";
    }
    std::string keys;
    for (const OptionKey& option : ReadingOrder)
        keys += std::string(keys.empty() ? "" : ", ") + option.key;
    return "'" + std::string(name) + "' is not a key of the section [Options]; the keys are " + keys + ".";
}

void StoreValue(BootOptions& options, const OptionKey& option, int value)
{
    if (option.flag)
        options.*option.flag = value != 0;
    else
        options.*option.number = int16_t(value);
}

size_t KeyIndex(bool BootOptions::*flag)
{
    size_t index = 0;
    while (index + 1 < ReadingOrder.size() && ReadingOrder[index].flag != flag)
        ++index;
    return index;
}
