#include "platform/file/dosattributes.h"

#include <cerrno>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
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
