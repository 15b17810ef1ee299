#include "platform/drive/image/imagedrive.h"

#include "platform/drive/image/imagelayout.h"
#include "platform/drive/image/recovery.h"
#include "platform/sys/io.h"
#include "platform/sys/opening.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A name in the root directory that mtools takes literally: no path, no wildcard.
bool IsPlainName(std::string_view name)
{
    constexpr std::string_view forbidden = "/\\*?[]:\"<>|";
    if (name.empty() || name.size() > 255 || name == "." || name == "..")
        return false;
    return std::none_of(name.begin(), name.end(), [&](char c) {
        return uint8_t(c) < 0x20 || forbidden.find(c) != std::string_view::npos;
    });
}

std::string ReadSector(int fd, uint64_t offset)
{
    std::string sector;
    if (!ReadAt(fd, offset, SectorSize, sector))
        sector.clear();
    return sector;
}

// The size of the regular file or block device open at fd, whose status is given.
uint64_t DiskSize(int fd, const struct stat& status)
{
    uint64_t size = uint64_t(status.st_size);
    if (S_ISBLK(status.st_mode) && ioctl(fd, BLKGETSIZE64, &size) != 0)
        size = 0;
    return size;
}

struct DiskEnds {
    dev_t device = 0;
    ino_t inode = 0;
    uint64_t size = 0;
    std::string head;  // first sector
    std::string tail;  // last sector
};

// The identity, the size and the first and last sectors of the regular file or block
// device at path.
std::optional<DiskEnds> ReadEnds(const std::string& path)
{
    const Descriptor fd = OpenWithoutBlocking(AT_FDCWD, path.c_str(), Openable::DiskImage);
    struct stat status {};
    if (!fd || fstat(fd.get(), &status) != 0) {
        RecordFailure(FileStep::OpenImage);
        return std::nullopt;
    }
    DiskEnds ends;
    ends.device = status.st_dev;
    ends.inode = status.st_ino;
    ends.size = DiskSize(fd.get(), status);
    ends.head = ReadSector(fd.get(), 0);
    ends.tail = ReadSector(fd.get(), ends.size > SectorSize ? ends.size - SectorSize : 0);
    return ends;
}

// Shows an image in another of QEMU's formats as a raw disk (exported), and reads that
// disk's ends instead; a raw image stays as it is. False, with the failure recorded, for
// an image whose writes could reach other files, or one that cannot be exported.
bool ExportUnlessRaw(const std::string& path, DiskEnds& ends, std::unique_ptr<QemuExport>& exported)
{
    if (KeepsDataInOtherFiles(ends.head))
        return RecordFailure(FileStep::ImageRefused, EINVAL,
                             "it keeps its data in other files (a qcow2 external data file, or the extents a VMDK "
                             "descriptor names), and a change would be written into them; qemu-img convert -O qcow2 "
                             "makes a copy that holds all of its data");
    const std::string_view driver = QemuDriverFor(ends.head);
    if (driver.empty())
        return true;
    // Backing files stay read-only: QEMU opens them so, and only the image is written.
    exported = QemuExport::Start(path, driver, access(path.c_str(), W_OK) == 0);
    std::optional<DiskEnds> raw = exported ? ReadEnds(exported->rawPath()) : std::nullopt;
    if (!raw)
        return false;
    ends = std::move(*raw);
    return true;
}

}  // namespace

ImageDrive::ImageDrive(std::string path, std::unique_ptr<QemuExport> qemuExport, std::string toolPath, uint64_t offset,
                       Origin origin)
    : path_(std::move(path)), export_(std::move(qemuExport)), toolPath_(std::move(toolPath)), origin_(origin),
      tools_(toolPath_, offset, export_ ? export_->keepAliveFd() : -1), root_(tools_, export_ ? path_ : "")
{
}

std::unique_ptr<ImageDrive> ImageDrive::Open(const std::string& path, int partition)
{
    if (path.find("@@") != std::string::npos) {
        RecordFailure(FileStep::OpenImage, EINVAL, "mtools cannot open a path that contains \"@@\"");
        return nullptr;
    }
    std::optional<DiskEnds> ends = ReadEnds(path);
    if (!ends)
        return nullptr;
    Origin origin{ends->device, ends->inode, ends->size};
    uint64_t size = RawDiskSize(ends->tail, ends->size);
    std::unique_ptr<QemuExport> exported;
    if (!ExportUnlessRaw(path, *ends, exported))
        return nullptr;
    if (exported)
        size = origin.diskSize = ends->size;
    std::string why;
    std::optional<FatArea> area = FindFatArea(ends->head, size, partition, why);
    if (!area) {
        RecordFailure(FileStep::ImageNotUnderstood, EINVAL, why);
        return nullptr;
    }
    const std::string toolPath = exported ? exported->rawPath() : path;
    std::unique_ptr<ImageDrive> drive(new ImageDrive(path, std::move(exported), toolPath, area->offset, origin));
    if (!drive->checkFileSystem(area->offset, area->size))
        return nullptr;
    return drive;
}

// minfo tells whether mtools finds a FAT in the area, and how big it says it is.
bool ImageDrive::checkFileSystem(uint64_t areaOffset, uint64_t areaSize)
{
    const ToolResult info = tools_.run("minfo", {"::"}, -1);
    const FileSystemSize size = ParseMinfo(info.output);
    root_.setClusterBytes(size.cluster);
    if (!info.ok)
        return ToolFailure(FileStep::ImageNotUnderstood, info);
    if (size.total == 0 || size.cluster == 0)
        return RecordFailure(FileStep::ImageNotUnderstood, EINVAL, "mtools did not tell the size of the file system");
    if (size.total > areaSize)
        return RecordFailure(FileStep::ImageNotUnderstood, EINVAL,
                             areaOffset == 0 ? "the file system reaches beyond the end of the image (truncated?)"
                                             : "the file system reaches beyond the end of its partition");
    if (size.system >= size.total)
        return RecordFailure(FileStep::ImageNotUnderstood, EINVAL,
                             "its FATs and root directory are larger than the file system");
    return true;
}

bool ImageDrive::inUse() const
{
    // An export's daemon got QEMU's locks, so nobody else has the image.
    return !export_ && HeldByAnotherProgram(toolPath_);
}

// Locks the image the drive was opened on, and only while it still is.
std::optional<ImageLock> ImageDrive::takeLock(ImageLock::Mode mode)
{
    std::optional<ImageLock> lock;
    if (!export_ || !export_->ended())
        lock = ImageLock::Take(toolPath_, mode);
    // A dead FUSE mount answers ENOTCONN until the watcher removes it, and then ENOENT.
    const int code = lock ? 0 : LastFileError().code;
    if (export_ && (export_->ended() || code == ENOTCONN || code == ENOENT)) {
        RecordFailure(FileStep::ImageTool, ENOTCONN,
                      "qemu-storage-daemon, which showed the disk image to Varnello, has ended; start Varnello again");
        return std::nullopt;
    }
    if (!lock)
        return std::nullopt;
    const Origin now = originNow(lock->fd());
    if (now != origin_) {
        RecordFailure(FileStep::ImageReplaced, ESTALE,
                      now.device == origin_.device && now.inode == origin_.inode
                          ? "its size changed from " + std::to_string(origin_.diskSize) + " to "
                                + std::to_string(now.diskSize) + " bytes"
                          : "its name no longer leads to the file that was opened");
        return std::nullopt;
    }
    return lock;
}

// The user's image is the locked file itself, or what an export shows.
ImageDrive::Origin ImageDrive::originNow(int lockFd) const
{
    struct stat image {};
    struct stat disk {};
    if ((export_ ? stat(path_.c_str(), &image) : fstat(lockFd, &image)) != 0 || fstat(lockFd, &disk) != 0)
        return {};
    return {image.st_dev, image.st_ino, DiskSize(lockFd, disk)};
}

// Looks name up under a read lock, which it leaves in lock. Whatever a killed write left
// is dealt with first; where that cannot be done (no write permission), an original that
// is still there is good.
const RootEntry* ImageDrive::lookUp(std::string_view name, std::optional<ImageLock>& lock)
{
    if (!IsPlainName(name)) {
        RecordFailure(FileStep::ResolvePath, EINVAL);
        return nullptr;
    }
    lock = takeLock(ImageLock::Mode::Read);
    if (!lock || !root_.refresh(lock->fd(), false))
        return nullptr;
    if (HasLeftover(root_, name)) {
        lock.reset();
        std::optional<ImageLock> writing = takeLock(ImageLock::Mode::Write);
        if (!(writing && Repair(root_, tools_, name, writing->fd())) && !root_.find(name))
            return nullptr;
        writing.reset();
        lock = takeLock(ImageLock::Mode::Read);
        if (!lock || !root_.refresh(lock->fd(), false))
            return nullptr;
    }
    return root_.usable(name, lock->fd());
}

// Takes the write lock, which it leaves in lock, finishes what a killed write of name
// left, and looks name up.
const RootEntry* ImageDrive::lookUpForWriting(std::string_view name, std::optional<ImageLock>& lock)
{
    if (!IsPlainName(name)) {
        RecordFailure(FileStep::ResolvePath, EINVAL);
        return nullptr;
    }
    lock = takeLock(ImageLock::Mode::Write);
    if (!lock || !Repair(root_, tools_, name, lock->fd()))
        return nullptr;
    return root_.usable(name, lock->fd());
}

bool ImageDrive::exists(std::string_view name)
{
    std::optional<ImageLock> lock;
    return lookUp(name, lock) != nullptr;
}

std::string ImageDrive::whyMissing(std::string_view name)
{
    if (exists(name))
        return "";
    const FileError error = LastFileError();
    return error.step == FileStep::Inspect && error.code == ENOENT ? "" : Describe(error);
}

std::optional<std::string> ImageDrive::read(std::string_view name)
{
    std::optional<ImageLock> lock;
    const RootEntry* entry = lookUp(name, lock);
    return entry ? root_.contents(*entry, lock->fd()) : std::nullopt;
}

bool ImageDrive::setAttributes(std::string_view name, uint32_t attributes)
{
    std::optional<ImageLock> lock;
    const RootEntry* entry = lookUpForWriting(name, lock);
    return entry && root_.setAttributes(entry->shortName, attributes & KnownFileAttributes, lock->fd());
}

bool ImageDrive::checkReplaceable(std::string_view name)
{
    std::optional<ImageLock> lock;
    const RootEntry* entry = lookUpForWriting(name, lock);
    return entry && root_.contents(*entry, lock->fd());
}

bool ImageDrive::replace(std::string_view name, const FileChange& change)
{
    std::optional<ImageLock> lock;
    const RootEntry* entry = lookUpForWriting(name, lock);
    if (!entry)
        return false;
    const std::optional<std::string> current = root_.contents(*entry, lock->fd());
    std::string bytes;
    if (!current || !change(*current, bytes))
        return false;
    if (bytes == *current)
        return true;
    if (bytes.size() > MaxFileSize)
        return RecordFailure(FileStep::WriteTemporary, EFBIG);
    return ReplaceThroughCopy(root_, tools_, *entry, name, std::move(bytes), lock->fd());
}
