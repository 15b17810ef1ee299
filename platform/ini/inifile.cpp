#include "platform/ini/inifile.h"

#include "platform/sys/asciicase.h"

#include <algorithm>

namespace {

constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

// One line of the file: its text is [begin, end), the next line starts at next.
struct Line {
    size_t begin;
    size_t end;
    size_t next;
};

// Where key of section is, or where it would go.
struct KeyPlace {
    bool sectionFound = false;
    bool keyFound = false;
    bool keyHasEquals = false;  // false for a key line that is the key's name alone
    size_t valueBegin = 0;      // the value's bytes when keyFound (where it goes without "=")
    size_t valueEnd = 0;
    size_t insertAt = 0;          // after the section's last key line, or its header
    bool insertNeedsLineEnd = false;  // the line before insertAt has no line ending
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// text without blanks at either end.
std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Where the first line starts: after a UTF-8 byte-order mark, if there is one.
size_t FirstLineStart(std::string_view bytes)
{
    return bytes.starts_with(byteOrderMark) ? byteOrderMark.size() : 0;
}

// The line that starts at begin.
Line LineAt(std::string_view bytes, size_t begin)
{
    size_t end = bytes.find_first_of("\r\n", begin);
    if (end == std::string_view::npos)
        return {begin, bytes.size(), bytes.size()};
    size_t next = end + 1;
    if (bytes[end] == '\r' && next < bytes.size() && bytes[next] == '\n')
        ++next;
    return {begin, end, next};
}

// The line ending the file uses first; CR LF when it has none.
std::string_view LineEndingOf(std::string_view bytes)
{
    size_t at = bytes.find_first_of("\r\n");
    if (at == std::string_view::npos)
        return "\r\n";
    if (bytes[at] == '\n')
        return "\n";
    return (at + 1 < bytes.size() && bytes[at + 1] == '\n') ? "\r\n" : "\r";
}

// The name of a section header line, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view text)
{
    text = TrimBlanks(text);
    if (text.empty() || text.front() != '[')
        return std::nullopt;
    size_t close = text.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return TrimBlanks(text.substr(1, close - 1));
}

// Where the key of a key line ends: at its "=", or at the end of a line without one;
// npos for lines that carry no key.
size_t KeyEnd(std::string_view text)
{
    std::string_view trimmed = TrimBlanks(text);
    if (trimmed.empty() || trimmed.front() == ';')
        return std::string_view::npos;
    size_t equals = text.find('=');
    if (equals != std::string_view::npos)
        return equals;
    return trimmed.front() == '[' ? std::string_view::npos : text.size();
}

// A value in double quotes stands for the text between them.
std::string_view Unquoted(std::string_view value)
{
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.substr(1, value.size() - 2);
    return value;
}

// The line ending for a new line put in before the byte at offset next: the file's own,
// unless that is a lone CR followed by an LF, which would join it into one CR LF.
std::string_view NewLineEnding(std::string_view bytes, size_t next)
{
    std::string_view ending = LineEndingOf(bytes);
    return ending == "\r" && next < bytes.size() && bytes[next] == '\n' ? "\r\n" : ending;
}

// Finds key in the first section named section, or the place where it belongs.
KeyPlace FindKey(std::string_view bytes, std::string_view section, std::string_view key)
{
    section = TrimBlanks(section);
    key = TrimBlanks(key);
    KeyPlace place;
    for (size_t at = FirstLineStart(bytes); at < bytes.size();) {
        Line line = LineAt(bytes, at);
        at = line.next;
        std::string_view text = bytes.substr(line.begin, line.end - line.begin);
        if (std::optional<std::string_view> name = SectionName(text)) {
            if (place.sectionFound)
                break;  // only the first matching section counts
            if (EqualIgnoringAsciiCase(*name, section)) {
                place.sectionFound = true;
                place.insertAt = line.next;
                place.insertNeedsLineEnd = line.next == line.end;
            }
            continue;
        }
        size_t keyEnd = KeyEnd(text);
        if (!place.sectionFound || keyEnd == std::string_view::npos)
            continue;
        place.insertAt = line.next;
        place.insertNeedsLineEnd = line.next == line.end;
        if (EqualIgnoringAsciiCase(TrimBlanks(text.substr(0, keyEnd)), key)) {
            place.keyFound = true;
            place.keyHasEquals = keyEnd < text.size();
            // Without "=", the value goes right after the name, before any blanks.
            place.valueBegin = place.keyHasEquals ? line.begin + keyEnd + 1
                                                  : line.begin + text.find_last_not_of(" \t") + 1;
            place.valueEnd = place.keyHasEquals ? line.end : place.valueBegin;
            while (place.valueBegin < place.valueEnd && IsBlank(bytes[place.valueBegin]))
                ++place.valueBegin;
            while (place.valueEnd > place.valueBegin && IsBlank(bytes[place.valueEnd - 1]))
                --place.valueEnd;
            break;
        }
    }
    return place;
}

// True when the bytes after the byte-order mark end in the middle of a line.
bool EndsUnterminated(std::string_view bytes)
{
    return bytes.size() > FirstLineStart(bytes) && bytes.back() != '\n' && bytes.back() != '\r';
}

}  // namespace

std::optional<std::string_view> FindProfileValue(std::string_view bytes,
                                                 std::string_view section,
                                                 std::string_view key)
{
    KeyPlace place = FindKey(bytes, section, key);
    if (!place.keyFound)
        return std::nullopt;
    return Unquoted(bytes.substr(place.valueBegin, place.valueEnd - place.valueBegin));
}

std::string WithProfileValue(std::string_view bytes, std::string_view section,
                             std::string_view key, std::string_view value)
{
    KeyPlace place = FindKey(bytes, section, key);
    std::string result;
    if (place.keyFound) {
        result.append(bytes.substr(0, place.valueBegin));
        if (!place.keyHasEquals)
            result.append("=");
        result.append(value);
        result.append(bytes.substr(place.valueEnd));
        return result;
    }
    std::string_view lineEnding = LineEndingOf(bytes);
    std::string entry = std::string(TrimBlanks(key)) + "=" + std::string(value);
    if (place.sectionFound) {
        result.append(bytes.substr(0, place.insertAt));
        if (place.insertNeedsLineEnd)
            result.append(lineEnding);
        result.append(entry).append(NewLineEnding(bytes, place.insertAt));
        result.append(bytes.substr(place.insertAt));
        return result;
    }
    result.append(bytes);
    if (EndsUnterminated(bytes))
        result.append(lineEnding);
    result.append("[").append(TrimBlanks(section)).append("]").append(lineEnding);
    result.append(entry).append(lineEnding);
    return result;
}

bool IsWritableProfileEntry(std::string_view section, std::string_view key,
                            std::string_view value)
{
    constexpr std::string_view lineBreaks("\r\n\0", 3);
    section = TrimBlanks(section);
    key = TrimBlanks(key);
    if (section.empty() || key.empty())
        return false;
    if (section.find_first_of(lineBreaks) != std::string_view::npos
        || key.find_first_of(lineBreaks) != std::string_view::npos
        || value.find_first_of(lineBreaks) != std::string_view::npos)
        return false;
    return section.find(']') == std::string_view::npos
           && key.find('=') == std::string_view::npos && key.front() != ';'
           && key.front() != '[';
}

int32_t ProfileInt(std::string_view text)
{
    constexpr int64_t beyondMax = int64_t(INT32_MAX) + 1;  // |INT32_MIN|
    size_t at = 0;
    while (at < text.size() && IsBlank(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    int base = 10;
    if (at + 1 < text.size() && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X')) {
        base = 16;
        at += 2;
    }
    int64_t magnitude = 0;
    for (; at < text.size(); ++at) {
        char c = AsciiLower(text[at]);
        int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : 99;
        if (digit >= base)
            break;
        magnitude = std::min(beyondMax, magnitude * base + digit);
    }
    if (negative)
        return int32_t(-magnitude);
    return int32_t(std::min<int64_t>(magnitude, INT32_MAX));
}
