#pragma once

#include <optional>
#include <string>

#include "platform/sys/descriptor.h"

// Locks on a disk image that QEMU understands. QEMU holds open-file-description locks on
// single bytes of each image it has open: byte 100 + n while it uses permission n, byte
// 200 + n while it forbids others permission n (n: 0 read, 1 write, 2 write-unchanged,
// 3 resize). A running emulator holds 101 (it writes) and 201 (nobody else may).
// Varnello processes also agree among themselves through one byte of their own: shared
// while reading, exclusive while writing, so they take turns instead of failing.

class ImageLock {
public:
    enum class Mode { Read, Write };

    // Locks the image at path, waiting up to a few seconds for other Varnello processes.
    // Write also claims write permission the way QEMU does, and refuses an image that
    // another program writes or forbids writing; a block device must not be mounted.
    // nullopt on failure, with LastFileError() set (ImageInUse, OpenImage).
    static std::optional<ImageLock> Take(const std::string& path, Mode mode);

    // The locked descriptor (for flushing too). The locks last while any process holds it,
    // so tools given it keep the image locked until they end, even if we are killed.
    int fd() const { return fd_.get(); }

private:
    explicit ImageLock(Descriptor fd) : fd_(std::move(fd)) {}
    Descriptor fd_;
};

// True when another process holds QEMU's locks on the image at path in a way that rules
// out our writing (or, for a block device, has it mounted).
bool HeldByAnotherProgram(const std::string& path);
