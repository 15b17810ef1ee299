#include "platform/file/imagelock.h"

#include "platform/file/fileerror.h"

#include <cerrno>
#include <cstring>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

bool IsBlockDevice(const std::string& path)
{
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISBLK(status.st_mode);
}

// Opens the image; exclusively, for a block device, fails while it is mounted.
int OpenImage(const std::string& path, bool forWriting, bool exclusive)
{
    int flags = O_CLOEXEC | O_NOCTTY | (forWriting ? O_RDWR : O_RDONLY);
    if (exclusive && IsBlockDevice(path))
        flags |= O_EXCL;
    return open(path.c_str(), flags);
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
    int fd = OpenImage(path, forWriting, forWriting);
    if (fd < 0) {
        if (errno == EBUSY)
            return InUse("the device is mounted or used by another program");
        const int code = errno;
        RecordFailure(FileStep::OpenImage, code,
                      forWriting ? std::string("it may not be written (") + std::strerror(code) + ")" : std::string());
        return std::nullopt;
    }
    ImageLock lock(fd);
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

ImageLock::ImageLock(ImageLock&& other) noexcept : fd_(other.fd_)
{
    other.fd_ = -1;
}

ImageLock::~ImageLock()
{
    if (fd_ >= 0)
        close(fd_);
}

bool HeldByAnotherProgram(const std::string& path)
{
    int fd = OpenImage(path, false, true);
    if (fd < 0)
        return errno == EBUSY;
    bool held = OthersWriteOrForbidWriting(fd);
    close(fd);
    return held;
}
