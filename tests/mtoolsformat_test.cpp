#include "platform/drive/image/mtoolsformat.h"

#include <gtest/gtest.h>

// Real mtools output, as RunTool's fixed settings make it, and what each reader takes from it.

TEST(MtoolsFormat, ListingLinesGiveTheEntriesAndNothingElse)
{
    const struct {
        std::string_view line;
        std::optional<RootEntry> entry;  // shortName, longName, size, directory
    } cases[] = {
        {"MSDOS    SYS         3 2026-12-09  15:35 ", RootEntry{"MSDOS.SYS", "", 3, false}},
        {"LONGNA~1 BIN      1500 2026-12-09  15:35  Long Name.bin", RootEntry{"LONGNA~1.BIN", "Long Name.bin", 1500, false}},
        {"SUB          <DIR>     2026-12-09  15:35 ", RootEntry{"SUB", "", 0, true}},
        {"ÄPFEL    TXT        12 2026-12-09  15:35 ", RootEntry{"ÄPFEL.TXT", "", 12, false}},  // characters, not bytes
        {" Volume in drive : has no label", std::nullopt},
        {"Directory for ::/", std::nullopt},
        {"        3 files               1 503 bytes", std::nullopt},
        {"MSDOS    SYS      big! 2026-12-09  15:35 ", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        const std::optional<RootEntry> parsed = ParseListing(c.line);
        ASSERT_EQ(parsed.has_value(), c.entry.has_value()) << c.line;
        if (!parsed)
            continue;
        EXPECT_EQ(parsed->shortName, c.entry->shortName) << c.line;
        EXPECT_EQ(parsed->longName, c.entry->longName) << c.line;
        EXPECT_EQ(parsed->size, c.entry->size) << c.line;
        EXPECT_EQ(parsed->directory, c.entry->directory) << c.line;
    }
}

TEST(MtoolsFormat, ChainsShowWhichEntriesAreSoundAndFitTheirSize)
{
    const std::string root = "::/ Root directory or empty file\n\n";
    const struct {
        const char* name;
        std::string mshowfat;
        bool sound[3];
        bool fits[3];
    } cases[] = {
        {"whole", root + "::/MSDOS.SYS <2>\n::/Long Name.bin <3-5>\n::/SUB <6>\n", {true, true, true}, {true, true, true}},
        {"shared", root + "::/MSDOS.SYS <2>\n::/Long Name.bin <2-4>\n::/SUB <6>\n", {false, false, true}, {true, true, true}},
        {"looping", root + "::/MSDOS.SYS <2> <2>\n::/Long Name.bin <3-5>\n::/SUB <6>\n", {false, true, true}, {false, true, true}},
        {"short", root + "::/MSDOS.SYS <2>\n::/Long Name.bin <3-4>\n::/SUB <6>\n", {true, true, true}, {true, false, true}},
        {"unnamed", root + "::/MSDOS.SYS <2>\n::/SUB <6>\n", {true, false, true}, {true, false, true}},
    };
    for (const auto& c : cases) {
        std::vector<RootEntry> entries = {{"MSDOS.SYS", "", 3, false}, {"LONGNA~1.BIN", "Long Name.bin", 1500, false},
                                          {"SUB", "", 0, true}};
        CheckChains(c.mshowfat, 512, entries);
        for (size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].sound, c.sound[i]) << c.name << " " << entries[i].shortName;
            EXPECT_EQ(entries[i].sizeFitsChain, c.fits[i]) << c.name << " " << entries[i].shortName;
        }
    }
}

TEST(MtoolsFormat, AttributesAreReadAndWrittenAsMattribHasThem)
{
    EXPECT_EQ(ParseAttributes("  A  SHR     ::/MSDOS.SYS\n"), 0x27u);
    EXPECT_EQ(ParseAttributes("       R     ::/MSDOS.SYS\n"), 0x01u);
    EXPECT_EQ(ParseAttributes("             ::/SHRA.TXT\n"), 0x00u);  // the name's letters are no attributes
    EXPECT_EQ(ParseAttributes(""), std::nullopt);
    EXPECT_EQ(AttributeArguments(0x06), (std::vector<std::string>{"-r", "+h", "+s", "-a"}));
}

TEST(MtoolsFormat, MinfoGivesTheFileSystemsSize)
{
    const FileSystemSize floppy = ParseMinfo("sector size: 512 bytes\ncluster size: 1 sectors\n"
                                             "reserved (boot) sectors: 1\nfats: 2\n"
                                             "max available root directory slots: 224\nsmall size: 2880 sectors\n"
                                             "sectors per fat: 9\n");
    EXPECT_EQ(floppy.total, 2880u * 512);
    EXPECT_EQ(floppy.system, (1 + 2 * 9) * 512u + 224 * 32);
    EXPECT_EQ(floppy.cluster, 512u);
    const FileSystemSize fat32 = ParseMinfo("sector size: 512 bytes\ncluster size: 8 sectors\nreserved (boot) sectors: 32\n"
                                            "fats: 2\nsmall size: 0 sectors\nbig size: 1048576 sectors\n"
                                            "sectors per fat: 0\nBig fatlen=1020\n");
    EXPECT_EQ(fat32.total, 1048576u * 512);
    EXPECT_EQ(fat32.system, (32 + 2 * 1020) * 512u);
    EXPECT_EQ(ParseMinfo("").total, 0u);
}
