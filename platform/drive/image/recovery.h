#pragma once

#include "platform/drive/image/rootdirectory.h"

#include <string>
#include <string_view>

// How an image drive replaces a file so that a crash never loses it. FAT has no atomic
// rename, so the replace writes a complete copy under a temporary name (TemporaryNameFor),
// reads it back, flushes the image, then removes the original and renames the copy. A
// process killed between those two steps leaves only the complete copy; the next lookup of
// that name renames it into place (Repair). A copy beside an existing original (a write
// killed earlier) is removed. The mtools runs themselves outlive us and finish; the lock
// they inherit makes the next lookup wait for them. Everything here runs under the write
// lock whose descriptor is lockFd.

// VRNLxxxx.TMP with xxxx taken from the name, so that a copy left behind by a killed
// write can be told apart and matched to the file it replaces.
std::string TemporaryNameFor(std::string_view name);

// True when a killed write left a copy for name.
bool HasLeftover(const RootDirectory& root, std::string_view name);

// Finishes what a killed write of name left: a copy under the temporary name is removed
// when the original is there, and renamed into its place when it is not (it was complete
// and flushed before the original was removed).
bool Repair(RootDirectory& root, const MtoolsImage& tools, std::string_view name, int lockFd);

// Replaces the contents of entry (reached as name) with bytes, keeping its attributes and
// its 8.3 name (and a long name that only spells it in other letter cases). The image is
// flushed before it reports success.
bool ReplaceThroughCopy(RootDirectory& root, const MtoolsImage& tools, const RootEntry& entry, std::string_view name,
                        std::string bytes, int lockFd);
