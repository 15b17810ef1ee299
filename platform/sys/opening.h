#pragma once

#include <fcntl.h>
#include <functional>

#include "platform/sys/descriptor.h"

// What OpenWithoutBlocking opens: a regular file, never through a link; or a disk image,
// a regular file or a block device, through links (the user named it).
enum class Openable { RegularFile, DiskImage };

// Opens name (relative to the directory open at directory, or AT_FDCWD) without ever
// blocking: it is looked at first, so that nothing but what kinds allows (no FIFO, no
// terminal) is opened at all, and again once open. access is O_RDONLY or O_RDWR, with
// O_EXCL to open a block device exclusively (EBUSY while it is mounted); O_EXCL means
// nothing for a regular file. An invalid descriptor with errno set otherwise (ENOENT,
// EISDIR for a directory, ELOOP for a link where none is followed, EINVAL for anything else).
Descriptor OpenWithoutBlocking(int directory, const char* name, Openable kinds = Openable::RegularFile,
                               int access = O_RDONLY);

// Calls visit with the name of each entry of the directory open at directory, until it
// returns false. Lists nothing when the directory cannot be read.
void ForEachEntry(int directory, const std::function<bool(const char* name)>& visit);
