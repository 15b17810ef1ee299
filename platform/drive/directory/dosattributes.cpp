#include "platform/drive/directory/dosattributes.h"

#include "platform/drive/drive.h"
#include "platform/sys/fileerror.h"

#include <cerrno>
#include <cstdio>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>

std::optional<bool> OnFatMount(int fd)
{
    struct statfs volume {};
    if (fstatfs(fd, &volume) != 0)
        return std::nullopt;
    return volume.f_type == MSDOS_SUPER_MAGIC;
}

bool ReadFatAttributes(int fd, uint32_t& attributes)
{
    return ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &attributes) == 0;
}

bool WriteFatAttributes(int fd, uint32_t attributes)
{
    return ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &attributes) == 0;
}

std::optional<std::string> StoredDosAttribute(int fd)
{
    for (;;) {
        const ssize_t size = fgetxattr(fd, DosAttributeName, nullptr, 0);
        if (size < 0)
            return std::nullopt;
        std::string value(size_t(size), '\0');
        const ssize_t read = fgetxattr(fd, DosAttributeName, value.data(), value.size());
        if (read >= 0) {
            value.resize(size_t(read));
            return value;
        }
        if (errno != ERANGE)  // grown since the size was asked: ask again
            return std::nullopt;
    }
}

bool StoreDosAttribute(int fd, const std::optional<std::string>& bytes)
{
    if (bytes)
        return fsetxattr(fd, DosAttributeName, bytes->data(), bytes->size(), 0) == 0;
    return fremovexattr(fd, DosAttributeName) == 0;
}

namespace {

// What the permission bits cannot hold and the extended attribute must.
constexpr uint32_t xattrAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// Stores the set in the extended attribute, or removes it when nothing needs keeping.
bool WriteDosAttribute(int fd, uint32_t attributes)
{
    if ((attributes & xattrAttributes) == 0)
        return StoreDosAttribute(fd, std::nullopt) || errno == ENODATA || errno == ENOTSUP;
    char text[16];
    int length = std::snprintf(text, sizeof text, "0x%x", unsigned(attributes));
    return StoreDosAttribute(fd, std::string(text, size_t(length)));
}

// The mode with read-only applied: no write bit at all, or at least the owner's.
mode_t ModeWithReadOnly(mode_t mode, bool readOnly)
{
    mode &= 07777;
    if (readOnly)
        return mode & ~mode_t(0222);
    return (mode & 0222) ? mode : (mode | S_IWUSR);
}

// Changes the file's permission bits to mode unless they already are; false with errno.
bool ChangeMode(int fd, mode_t from, mode_t to)
{
    return from == to || fchmod(fd, to) == 0;
}

bool SetFatAttributes(int fd, uint32_t attributes)
{
    uint32_t stored = 0;
    if (!ReadFatAttributes(fd, stored))
        return RecordFailure(FileStep::Attributes);
    if (!WriteFatAttributes(fd, (stored & ~KnownFileAttributes) | attributes))
        return errno == EPERM ? RecordFailure(FileStep::FatAttributesNeedPrivilege, 0)
                              : RecordFailure(FileStep::Attributes);
    return true;
}

// An unprivileged owner may change the extended attribute only while the file is
// writable, so a read-only file is writable for that moment and the bits come last.
bool SetHostAttributes(int fd, mode_t mode, uint32_t attributes)
{
    const mode_t original = mode & 07777;
    const mode_t writable = ModeWithReadOnly(original, false);
    const mode_t wanted = ModeWithReadOnly(original, attributes & FILE_ATTRIBUTE_READONLY);
    // A failure leaves the set as it was: each step done is undone, so what is there
    // must be known before anything changes.
    const std::optional<std::string> stored = StoredDosAttribute(fd);
    if (!stored && errno != ENODATA && errno != ENOTSUP)
        return RecordFailure(FileStep::Attributes);
    if (!ChangeMode(fd, original, writable))
        return RecordFailure(FileStep::Attributes);
    const bool written = WriteDosAttribute(fd, attributes);
    if (!written || !ChangeMode(fd, writable, wanted)) {
        RecordFailure(FileStep::Attributes);
        if (written)
            StoreDosAttribute(fd, stored);
        ChangeMode(fd, writable, original);
        return false;
    }
    return true;
}

}  // namespace

bool SetTargetAttributes(const FileTarget& target, uint32_t attributes)
{
    const Descriptor fd = OpenRegularFile(target);
    if (!fd)
        return RecordFailure(FileStep::Attributes);
    struct stat status {};
    const std::optional<bool> onFat = OnFatMount(fd.get());
    if (fstat(fd.get(), &status) != 0 || !onFat)
        return RecordFailure(FileStep::Attributes);
    return *onFat ? SetFatAttributes(fd.get(), attributes) : SetHostAttributes(fd.get(), status.st_mode, attributes);
}
