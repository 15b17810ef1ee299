#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The INI rules behind the profile functions, on bytes in memory, so that tests and
// fuzzers can use them without files.
//
// A line ends at CR LF, LF or a lone CR; a UTF-8 byte-order mark at the very start is
// not part of the first line. Blanks are spaces and tabs. A section header is a line
// "[name]" (blanks allowed around it and around the name; text after the first "]" is
// ignored); "[name" without "]" is no header. A key line is any other line that does not
// start with ";" (a comment) and is not blank: its key is the text before the first "=",
// its value the text after it, both without blanks around them. A line without "=" is
// a key with an empty value, unless it starts with "[". A value in double quotes stands
// for the text between them. Names match without regard to ASCII letter case; the first
// matching section and the first matching key in it win.

// The value of key in section (without its quotes), or nullopt when the section or the
// key is missing.
std::optional<std::string_view> FindProfileValue(std::string_view bytes,
                                                 std::string_view section,
                                                 std::string_view key);

// bytes with key of section set to value. An existing key has only its value replaced,
// quotes included (a key without "=" gains one; every other byte stays); a missing key
// goes after the section's last key line (or right after its header); a missing section
// is added at the end, with a line ending added first to an unterminated last line. New
// lines end like the file's first line (CR LF when it has none), except that a lone CR
// right before an LF would join it, so such a line ends in CR LF.
// Expects IsWritableProfileEntry(section, key, value).
std::string WithProfileValue(std::string_view bytes, std::string_view section,
                             std::string_view key, std::string_view value);

// True when the entry can be written without changing the file's structure: section and
// key not empty, no line breaks or NUL anywhere, no "]" in the section, no "=" in the
// key and no ";" or "[" at its start.
bool IsWritableProfileEntry(std::string_view section, std::string_view key,
                            std::string_view value);

// The integer a value text stands for, as the profile integer reader sees it: leading
// blanks, an optional sign, then decimal digits or "0x" and hex digits, up to the first
// other character. No digits give 0. Values beyond the 32-bit signed range saturate to
// INT32_MIN or INT32_MAX (hex too: "0xFFFFFFFF" gives INT32_MAX, not -1).
int32_t ProfileInt(std::string_view text);
