#include "platform/drive/image/mtoolsformat.h"

#include "platform/drive/drive.h"
#include "platform/sys/asciicase.h"

#include <algorithm>
#include <cstdlib>
#include <tuple>

namespace {

constexpr struct {
    uint32_t bit;
    char letter;  // as mattrib shows and takes it
} attributeLetters[] = {{FILE_ATTRIBUTE_READONLY, 'r'},
                        {FILE_ATTRIBUTE_HIDDEN, 'h'},
                        {FILE_ATTRIBUTE_SYSTEM, 's'},
                        {FILE_ATTRIBUTE_ARCHIVE, 'a'}};

// The number after label at the start of a line of text ("sector size: 512 bytes").
uint64_t NumberAfter(std::string_view text, std::string_view label)
{
    for (size_t at = text.find(label); at != std::string_view::npos; at = text.find(label, at + 1)) {
        if (at == 0 || text[at - 1] == '\n')
            return std::strtoull(std::string(text.substr(at + label.size(), 24)).c_str(), nullptr, 10);
    }
    return 0;
}

// The byte offset of the first byte of character number count (from 0) of UTF-8 text,
// or npos when text is shorter.
size_t CharacterOffset(std::string_view text, size_t count)
{
    for (size_t at = 0; at < text.size(); ++at) {
        if ((uint8_t(text[at]) & 0xC0) != 0x80 && count-- == 0)
            return at;
    }
    return std::string_view::npos;
}

std::string_view TrimmedEnd(std::string_view text)
{
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

struct Run {
    uint64_t first;
    uint64_t last;
    size_t owner;
};

// The cluster runs mshowfat prints after a name: "<2-4> <9>".
void AddRuns(std::string_view chain, size_t owner, std::vector<Run>& runs)
{
    for (size_t open = chain.find('<'); open != std::string_view::npos; open = chain.find('<', open + 1)) {
        char* end = nullptr;
        std::string run(chain.substr(open + 1, chain.find('>', open) - open - 1));
        uint64_t first = std::strtoull(run.c_str(), &end, 10);
        uint64_t last = *end == '-' ? std::strtoull(end + 1, nullptr, 10) : first;
        runs.push_back({first, std::max(first, last), owner});
    }
}

// The runs of every chain mshowfat shows, each owned by the entry it names (entries.size()
// for the root directory's own), marking each entry named as sound.
std::vector<Run> OwnedRuns(std::string_view mshowfat, std::vector<RootEntry>& entries)
{
    constexpr std::string_view noClusters = " Root directory or empty file";
    std::vector<Run> runs;
    for (std::string_view line : Lines(mshowfat)) {
        size_t chain = line.find(" <");  // '<' cannot be part of a FAT name
        if (chain == std::string_view::npos && line.ends_with(noClusters))
            chain = line.size() - noClusters.size();
        std::string_view name = line.substr(0, chain);
        if (!name.starts_with("::/") || chain == std::string_view::npos)
            continue;
        name.remove_prefix(3);
        size_t owner = entries.size();
        for (size_t i = 0; i < entries.size(); ++i) {
            // mshowfat names an entry as mdir -b does: by its long name, if any.
            if ((entries[i].longName.empty() ? entries[i].shortName : entries[i].longName) == name) {
                owner = i;
                entries[i].sound = true;
            }
        }
        AddRuns(line.substr(chain), owner, runs);
    }
    return runs;
}

}  // namespace

std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

std::optional<RootEntry> ParseListing(std::string_view line)
{
    const size_t nameEnd = CharacterOffset(line, 12);
    if (nameEnd == std::string_view::npos)
        return std::nullopt;
    const size_t extension = CharacterOffset(line, 9);
    RootEntry entry;
    entry.shortName = TrimmedEnd(line.substr(0, CharacterOffset(line, 8)));
    if (std::string_view ext = TrimmedEnd(line.substr(extension, nameEnd - extension)); !ext.empty())
        entry.shortName += "." + std::string(ext);
    std::string_view rest = line.substr(nameEnd);
    std::string_view fields[3];  // size, date, time
    for (std::string_view& field : fields) {
        rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(' ')));
        field = rest.substr(0, rest.find(' '));
        rest.remove_prefix(field.size());
    }
    entry.directory = fields[0] == "<DIR>";
    const bool digits = !fields[0].empty() && fields[0].find_first_not_of("0123456789") == std::string_view::npos;
    if (entry.shortName.empty() || !(digits || entry.directory) || fields[1].size() != 10
        || fields[2].find(':') == std::string_view::npos)
        return std::nullopt;
    entry.size = digits ? std::strtoull(std::string(fields[0]).c_str(), nullptr, 10) : 0;
    if (rest.starts_with("  "))
        entry.longName = rest.substr(2);
    return entry;
}

void CheckChains(std::string_view mshowfat, uint64_t clusterBytes, std::vector<RootEntry>& entries)
{
    std::vector<Run> runs = OwnedRuns(mshowfat, entries);
    std::sort(runs.begin(), runs.end(),
              [](const Run& a, const Run& b) { return std::tie(a.first, a.last) < std::tie(b.first, b.last); });
    for (size_t i = 1; i < runs.size(); ++i) {
        for (const Run* run : {&runs[i - 1], &runs[i]}) {
            if (runs[i].first <= runs[i - 1].last && run->owner < entries.size())
                entries[run->owner].sound = false;
        }
    }
    std::vector<uint64_t> clusters(entries.size() + 1);  // the last: the root directory's
    for (const Run& run : runs)
        clusters[run.owner] += run.last - run.first + 1;
    for (size_t i = 0; i < entries.size(); ++i) {
        const uint64_t needed = clusterBytes ? (entries[i].size + clusterBytes - 1) / clusterBytes : 0;
        entries[i].sizeFitsChain = entries[i].directory || clusters[i] == needed;
    }
}

std::optional<uint32_t> ParseAttributes(std::string_view mattrib)
{
    const size_t name = mattrib.find("::/");
    if (name == std::string_view::npos)
        return std::nullopt;
    uint32_t attributes = 0;
    for (auto [bit, letter] : attributeLetters) {
        if (mattrib.substr(0, name).find(AsciiUpper(letter)) != std::string_view::npos)
            attributes |= bit;
    }
    return attributes;
}

std::vector<std::string> AttributeArguments(uint32_t attributes)
{
    std::vector<std::string> arguments;
    for (auto [bit, letter] : attributeLetters)
        arguments.push_back(std::string(attributes & bit ? "+" : "-") + letter);
    return arguments;
}

FileSystemSize ParseMinfo(std::string_view minfo)
{
    auto number = [&](std::string_view label) { return NumberAfter(minfo, label); };
    const uint64_t sector = number("sector size: ");
    const uint64_t sectors = number("small size: ") ? number("small size: ") : number("big size: ");
    const uint64_t fatSectors = number("sectors per fat: ") ? number("sectors per fat: ") : number("Big fatlen=");
    return {sector * sectors,
            (number("reserved (boot) sectors: ") + number("fats: ") * fatSectors) * sector
                + number("max available root directory slots: ") * 32,
            number("cluster size: ") * sector};
}
