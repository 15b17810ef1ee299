#pragma once

#include <string>

#include "platform/sys/descriptor.h"

// A file of a directory drive, reached through an open descriptor of the directory it
// lives in, so that every step of a read or a write reaches that directory whatever is
// renamed meanwhile. name is a single entry of it, no link when it was resolved (or missing).
struct FileTarget {
    Descriptor directory;
    std::string name;
};

// OpenWithoutBlocking (platform/sys/opening.h) for the regular file that target names.
Descriptor OpenRegularFile(const FileTarget& target);
