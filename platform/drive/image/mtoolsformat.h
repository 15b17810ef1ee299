#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What mtools prints and takes, as pure functions over text, so that each format is read
// in one place and tested with tables of real output. The settings RunTool
// (platform/process/toolrun.h) fixes make these formats the same whatever the user's
// mtools configuration says.

// text split at its line feeds; no empty last line for a final line feed.
std::vector<std::string_view> Lines(std::string_view text);

// An entry of the FAT root directory.
struct RootEntry {
    std::string shortName;  // the 8.3 name as mdir shows it: what every tool run names
    std::string longName;   // "" when it has none
    uint64_t size = 0;      // as its directory entry says
    bool directory = false;
    bool sound = false;          // its cluster chain neither loops nor is shared
    bool sizeFitsChain = false;  // its chain has just the clusters its size needs
};

// One entry of "mdir -a -f" ("NAME     EXT       size yyyy-mm-dd  hh:mm  long name"): the
// 8.3 name in the first twelve characters (not bytes), "<DIR>" as a directory's size.
// nullopt for the lines around the entries. Neither sound nor sizeFitsChain is known yet.
std::optional<RootEntry> ParseListing(std::string_view line);

// Marks each of entries (all of mdir's) sound and sizeFitsChain from "mshowfat ::/ ::/*":
// an entry mshowfat names (by its long name, if any) with a cluster that no other chain
// holds is sound; one whose chain has just the clusters of clusterBytes its size needs
// (a directory always) fits. A cluster that shows up twice (a loop, or two chains sharing
// it) makes every entry holding it unsound.
void CheckChains(std::string_view mshowfat, uint64_t clusterBytes, std::vector<RootEntry>& entries);

// The attribute set mattrib lists in front of "::/" (Win32 bits: read-only 0x01, hidden
// 0x02, system 0x04, archive 0x20); nullopt when it lists no file.
std::optional<uint32_t> ParseAttributes(std::string_view mattrib);

// mattrib's arguments that set exactly attributes of those four ("+r", "-h", ...).
std::vector<std::string> AttributeArguments(uint32_t attributes);

// What minfo tells of a FAT file system's size, in bytes; 0 where it says nothing.
struct FileSystemSize {
    uint64_t total = 0;        // sector size times the number of sectors
    uint64_t system = 0;       // reserved sectors, FATs and (but on FAT32) the root directory
    uint64_t cluster = 0;
};
FileSystemSize ParseMinfo(std::string_view minfo);
