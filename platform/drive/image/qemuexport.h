#pragma once

#include "platform/process/childprocess.h"
#include "platform/sys/descriptor.h"

#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>

// A disk image in a format QEMU reads (qcow2, VDI, VMDK, VHD, VHDX) shown as a raw disk
// file by qemu-storage-daemon's FUSE export, mounted on a file in a private directory
// (mode 0700) for as long as the object lives. The daemon holds QEMU's locks on the
// image meanwhile, so an emulator cannot open it, nor can we when an emulator has it.
//
// The daemon never outlives us for long: a small watcher process stops it and removes
// the directory once this process has ended (even when killed) and so has every tool
// that was given keepAliveFd(), so a tool we started always finishes on a live export.
// Should the daemon end first (killed), the watcher removes its dead mount and the
// directory at once.
class QemuExport {
public:
    // Starts the export of image through QEMU's driver (as QemuDriverFor names it).
    // nullptr on failure, with LastFileError() set: ImageTool when the daemon or FUSE is
    // missing (saying what to install), ImageInUse when another program holds the image.
    static std::unique_ptr<QemuExport> Start(const std::string& image, std::string_view driver, bool writable);
    ~QemuExport();
    QemuExport(const QemuExport&) = delete;
    QemuExport& operator=(const QemuExport&) = delete;

    const std::string& rawPath() const { return rawPath_; }
    int keepAliveFd() const { return keepAlive_.get(); }
    // True once the daemon has ended and the export is gone.
    bool ended();

private:
    QemuExport(std::string rawPath, Descriptor keepAlive, ChildProcess watcher)
        : rawPath_(std::move(rawPath)), keepAlive_(std::move(keepAlive)), watcher_(std::move(watcher)) {}

    std::string rawPath_;
    Descriptor keepAlive_;  // the write end: the watcher stops the daemon once every holder has closed it
    ChildProcess watcher_;
};
