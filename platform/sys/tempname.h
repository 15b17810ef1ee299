#pragma once

#include <string>
#include <string_view>

// The names of the temporary files a write makes beside the file it replaces: "VRNL",
// four upper-case hex digits, ".TMP", so that they fit 8.3 and are told from any other.

// The name for number (only its low 16 bits count).
std::string TemporaryName(unsigned number);

// True for exactly the names TemporaryName makes.
bool IsTemporaryName(std::string_view name);
