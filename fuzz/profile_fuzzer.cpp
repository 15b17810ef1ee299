// Fuzzes the in-memory INI rules behind the profile functions. Besides not crashing, a
// write must change only the value it was asked to change, or add only the line (or the
// section and the line) it was asked to add, without any new line ending joining the
// bytes after it, and reading the key back must give the value written.
//
// Input: the last bytes choose the section, key and value (FuzzedDataProvider takes
// numbers from the end); the rest is the file. A real msdos.sys is thus a good seed.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ini/inifile.h"

namespace {

constexpr std::array<const char*, 8> sections{"Options", "options", " Options\t", "Paths", "", "[x", "Opt]ions", "a b"};
constexpr std::array<const char*, 10> keys{"BootGUI", "bootgui", "BootMenuDelay", " Logo ", "A", ";A", "[A",
                                           "A=B", "WinDir", ""};
constexpr std::array<const char*, 8> values{"0", "1", "150", "", " 5 ", "x=y;z", "\xE9\xC3\xA9", "1\r\n[X]"};

// Stops with the property that failed, so that a crash report names it.
#define Check(condition)                                                                   \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "profile_fuzzer.cpp:%d: %s does not hold\n", __LINE__, #condition); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (false)

// The model below is written apart from the code it checks, so that a mistake there is
// not simply repeated here.
constexpr std::string_view blanks = " \t";

std::string_view Trimmed(std::string_view text)
{
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

// The line ending new lines must use: the file's first one, CR LF when it has none.
std::string LineEndingOf(std::string_view bytes)
{
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes.substr(i, 2) == "\r\n")
            return "\r\n";
        if (IsLineEnd(bytes[i]))
            return std::string(1, bytes[i]);
    }
    return "\r\n";
}

// True when p is a place where a new line may start: after a whole line ending.
bool AtLineStart(std::string_view bytes, size_t p)
{
    if (p == 0 || !IsLineEnd(bytes[p - 1]))
        return false;
    return !(bytes[p - 1] == '\r' && p < bytes.size() && bytes[p] == '\n');
}

// The number of lines, a byte-order mark at the start not counted: line endings, plus an
// unterminated last line.
size_t LineCount(std::string_view bytes)
{
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    size_t lines = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n')))
            ++lines;
    }
    return lines + (!bytes.empty() && !IsLineEnd(bytes.back()));
}

// How many lines inserted, put at p, adds when it is one of the additions a write of key
// may make (a key line, or a section header and a key line); 0 otherwise.
size_t AllowedAddition(std::string_view before, size_t p, std::string_view inserted, std::string_view section,
                       std::string_view key, std::string_view value)
{
    const std::string ending = LineEndingOf(before);
    // A lone CR right before an LF would join it into one line ending.
    const bool wouldJoin = ending == "\r" && p < before.size() && before[p] == '\n';
    const std::string entry = std::string(Trimmed(key)) + "=" + std::string(value) + (wouldJoin ? "\r\n" : ending);
    const std::string header = "[" + std::string(Trimmed(section)) + "]" + ending;
    const bool atEnd = p == before.size();
    // Neither the entry nor the header starts with a line break, so one first can only
    // end a last line that had none.
    const bool endsLastLine = inserted.starts_with(ending);
    if (endsLastLine) {
        if (!atEnd || p == 0 || IsLineEnd(before[p - 1]) || before == "\xEF\xBB\xBF")
            return 0;
        inserted.remove_prefix(ending.size());
    }
    if (inserted == entry)
        return endsLastLine || AtLineStart(before, p) ? 1 : 0;
    // A new section goes at the very end, after a whole line or nothing.
    if (inserted == header + entry)
        return atEnd && (endsLastLine || p == 0 || before == "\xEF\xBB\xBF" || IsLineEnd(before[p - 1])) ? 2 : 0;
    return 0;
}

// The integer a value text stands for, computed another way: 128-bit, then clamped.
int32_t ReferenceInt(std::string_view text)
{
    size_t at = 0;
    while (at < text.size() && blanks.find(text[at]) != std::string_view::npos)
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    int base = 10;
    if (text.substr(at, 2) == "0x" || text.substr(at, 2) == "0X") {
        base = 16;
        at += 2;
    }
    __int128 magnitude = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : 99;
        if (digit >= base)
            break;
        if (magnitude < (__int128(1) << 40))
            magnitude = magnitude * base + digit;
    }
    __int128 signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT32_MAX)
        return INT32_MAX;
    if (signedValue < INT32_MIN)
        return INT32_MIN;
    return int32_t(signedValue);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    // Choices come from the end of the input, so the file at its start stays intact.
    auto choose = [&input](const auto& list, size_t maxLength) {
        size_t pick = input.ConsumeIntegralInRange<size_t>(0, list.size());
        if (pick < list.size())
            return std::string(list[pick]);
        size_t length = input.ConsumeIntegralInRange<size_t>(0, maxLength);
        std::string text;
        for (size_t i = 0; i < length; ++i)
            text += char(input.ConsumeIntegral<uint8_t>());
        return text;
    };
    const std::string section = choose(sections, 12);
    const std::string key = choose(keys, 12);
    const std::string value = choose(values, 12);
    const std::string bytes = input.ConsumeRemainingBytesAsString();

    const std::optional<std::string_view> found = FindProfileValue(bytes, section, key);
    // Where the value found sits in the file, its quotes included, and whether its line
    // has no "=" at all (a key alone, whose value is empty).
    size_t begin = 0;
    size_t end = 0;
    bool keyAlone = false;
    if (found) {
        Check(found->data() >= bytes.data() && found->data() + found->size() <= bytes.data() + bytes.size());
        begin = size_t(found->data() - bytes.data());
        end = begin + found->size();
        if (begin > 0 && end < bytes.size() && bytes[begin - 1] == '"' && bytes[end] == '"') {
            --begin;
            ++end;
        } else {
            Check(Trimmed(*found) == *found);
        }
        const size_t lineStart = bytes.find_last_of("\r\n", begin == 0 ? std::string::npos : begin - 1);
        keyAlone = bytes.find('=', lineStart == std::string::npos ? 0 : lineStart + 1) >= begin;
        if (keyAlone)
            Check(found->empty());
        Check(ProfileInt(*found) == ReferenceInt(*found));
    }
    Check(ProfileInt(value) == ReferenceInt(value));

    if (!IsWritableProfileEntry(section, key, value))
        return 0;
    const std::string written = WithProfileValue(bytes, section, key, value);

    if (found) {
        // Exactly the old value's bytes, quotes included, are replaced (a key alone gains "=").
        const std::string replacement = (keyAlone ? "=" : "") + value;
        Check(written == bytes.substr(0, begin) + replacement + bytes.substr(end));
        Check(LineCount(written) == LineCount(bytes));
    } else {
        // The old bytes, split once, around one added line (or a section and its line).
        Check(written.size() > bytes.size());
        const size_t added = written.size() - bytes.size();
        size_t prefix = 0;
        while (prefix < bytes.size() && written[prefix] == bytes[prefix])
            ++prefix;
        size_t suffix = 0;
        while (suffix < bytes.size() && written[written.size() - 1 - suffix] == bytes[bytes.size() - 1 - suffix])
            ++suffix;
        size_t lines = 0;
        for (size_t p = bytes.size() - std::min(suffix, bytes.size()); p <= prefix && lines == 0; ++p)
            lines = AllowedAddition(bytes, p, std::string_view(written).substr(p, added), section, key, value);
        Check(lines > 0);
        // No new line ending joins the bytes after it.
        Check(LineCount(written) == LineCount(bytes) + lines);
    }

    // Read back: the value written, without blanks at its ends, nor quotes around it.
    std::string_view expected = Trimmed(value);
    if (expected.size() >= 2 && expected.front() == '"' && expected.back() == '"')
        expected = expected.substr(1, expected.size() - 2);
    const std::optional<std::string_view> reread = FindProfileValue(written, section, key);
    Check(reread && *reread == expected);
    // Writing it again changes nothing (values with blanks at their ends gain more).
    if (Trimmed(value) == value)
        Check(WithProfileValue(written, section, key, value) == written);
    return 0;
}
