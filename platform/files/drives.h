#pragma once

#include "platform/drive/drive.h"

#include <optional>
#include <string_view>

// The drives of this process, one for each letter, of the kind its mapping
// (DriveMapping, platform/drive/mapping.h) leads to, decided here and nowhere else: a
// regular file or a block device is an image drive, opened on first use and kept for the
// process (its partition from VARNELLO_PARTITION_X); anything else is a directory drive.
// A letter whose mapping changes gets a drive anew.

// A file of a drive: the drive of dosPath's letter and the file's name in it.
struct DriveFile {
    Drive& drive;
    std::string_view name;
};

// Resolves "X:\name" once; nullopt, with FileStep::ResolvePath and EINVAL, for anything
// else (ParseDosPath). An image that cannot be opened gives a drive on which every
// operation fails the way the opening did, the same every time.
std::optional<DriveFile> DriveFileFor(std::string_view dosPath);

// Closes every image drive opened so far, stopping their exports, so that another program
// (varnello, started in this process's place) finds the images free at once.
void CloseImageDrives();
