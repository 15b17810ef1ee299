#include "options/bootoptions.h"

#include <cstdlib>
#include <limits>

#include "platform/file/profile.h"

std::string ValueText(bool on)
{
    return on ? "1" : "0";
}

std::string ValueText(int16_t number)
{
    return std::to_string(std::abs(int{number}));
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
