#include "options/bootoptions.h"

#include <cstdlib>

std::string ValueText(bool on)
{
    return on ? "1" : "0";
}

std::string ValueText(int16_t number)
{
    return std::to_string(std::abs(int{number}));
}
