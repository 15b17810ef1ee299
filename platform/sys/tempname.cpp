#include "platform/sys/tempname.h"

#include <cstdio>

std::string TemporaryName(unsigned number)
{
    char name[16];
    std::snprintf(name, sizeof name, "VRNL%04X.TMP", number & 0xFFFFu);
    return name;
}

bool IsTemporaryName(std::string_view name)
{
    if (name.size() != 12 || !name.starts_with("VRNL") || !name.ends_with(".TMP"))
        return false;
    for (char c : name.substr(4, 4)) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}
