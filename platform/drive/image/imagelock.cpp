#include "platform/drive/image/imagelock.h"

#include "platform/sys/opening.h"
#include "platform/sys/fileerror.h"

#include <cerrno>
#include <cstring>
#include <chrono>
#include <fcntl.h>
#include <thread>

namespace {

constexpr off_t varnelloByte = 0x56524E4C;  // "VRNL", far from QEMU's bytes
constexpr off_t qemuUsesRead = 100;
constexpr off_t qemuUsesWrite = 101;
constexpr off_t qemuUsesWriteUnchanged = 102;
constexpr off_t qemuForbidsWrite = 201;
constexpr auto patience = std::chrono::seconds(5);

bool LockByte(int fd, off_t byte, short type)
{
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// True when another open file description (in any process) holds a lock on byte.
bool OthersLock(int fd, off_t byte)
{
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    return fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

// QEMU counts write-unchanged as writing, for programs outside it.
bool OthersWriteOrForbidWriting(int fd)
{
    return OthersLock(fd, qemuUsesWrite) || OthersLock(fd, qemuUsesWriteUnchanged) || OthersLock(fd, qemuForbidsWrite);
}

// Opens the image without ever blocking (whoever may write its folder can trade the name
// for a FIFO); a block device exclusively when asked, which fails while it is mounted.
Descriptor OpenImage(const std::string& path, bool forWriting, bool exclusive)
{
    return OpenWithoutBlocking(AT_FDCWD, path.c_str(), Openable::DiskImage,
                               (forWriting ? O_RDWR : O_RDONLY) | (exclusive ? O_EXCL : 0));
}

std::nullopt_t InUse(const char* why)
{
    RecordFailure(FileStep::ImageInUse, EBUSY, why);
    return std::nullopt;
}

}  // namespace

std::optional<ImageLock> ImageLock::Take(const std::string& path, Mode mode)
{
    const bool forWriting = mode == Mode::Write;
    Descriptor opened = OpenImage(path, forWriting, forWriting);
    if (!opened) {
        if (errno == EBUSY)
            return InUse("the device is mounted or used by another program");
        const int code = errno;
        RecordFailure(FileStep::OpenImage, code,
                      code == EINVAL || code == EISDIR ? std::string("it is no longer a regular file or a block device")
                      : forWriting ? std::string("it may not be written (") + std::strerror(code) + ")"
                                   : std::string());
        return std::nullopt;
    }
    const int fd = opened.get();
    ImageLock lock(std::move(opened));
    // Where the file system has no byte-range locks, nobody else can take them either.
    auto deadline = std::chrono::steady_clock::now() + patience;
    while (!LockByte(fd, varnelloByte, forWriting ? F_WRLCK : F_RDLCK)) {
        if (errno != EAGAIN && errno != EACCES)
            return lock;
        if (std::chrono::steady_clock::now() > deadline)
            return InUse("another Varnello is still writing to it");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!forWriting)
        return lock;
    // Claim first, then look, as QEMU does: of two programs starting at once, neither
    // misses the other.
    for (off_t byte : {qemuUsesRead, qemuUsesWrite, qemuForbidsWrite})
        LockByte(fd, byte, F_RDLCK);
    if (OthersWriteOrForbidWriting(fd))
        return InUse("another program, such as a running emulator, has it open");
    return lock;
}

bool HeldByAnotherProgram(const std::string& path)
{
    const Descriptor fd = OpenImage(path, false, true);
    return fd ? OthersWriteOrForbidWriting(fd.get()) : errno == EBUSY;
}
