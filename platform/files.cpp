#include "platform/files.h"

#include "platform/drives.h"
#include "platform/fileerror.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

constexpr uint32_t knownAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN
                                     | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
// What the permission bits cannot hold and the extended attribute must.
constexpr uint32_t xattrAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM
                                     | FILE_ATTRIBUTE_ARCHIVE;
constexpr const char* dosAttributeName = "user.DOSATTRIB";

std::atomic<int> callsBeforeInjectedFailure{0};
std::atomic<int> injectedCode{EIO};

// True, with errno set, when a test asked this call of SetFileAttributesA to fail.
bool InjectedFailure()
{
    int remaining = callsBeforeInjectedFailure.load();
    while (remaining > 0 && !callsBeforeInjectedFailure.compare_exchange_weak(remaining, remaining - 1)) {
    }
    if (remaining != 1)
        return false;
    errno = injectedCode.load();
    return true;
}

// Records errno as the failure of the attribute step; returns false for the caller.
bool AttributeFailure()
{
    SetLastFileError(FileStep::Attributes, errno);
    return false;
}

// Stats path through links; false with errno set unless it is a regular file.
bool StatRegularFile(const std::string& path, struct stat& status)
{
    if (stat(path.c_str(), &status) != 0)
        return false;
    if (S_ISREG(status.st_mode))
        return true;
    errno = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    return false;
}

// True (in onFat) when path lives on a FAT mount; false with errno when statfs fails.
bool IsOnFatMount(const std::string& path, bool& onFat)
{
    struct statfs volume {};
    if (statfs(path.c_str(), &volume) != 0)
        return false;
    onFat = volume.f_type == MSDOS_SUPER_MAGIC;
    return true;
}

// Opens path for the FAT ioctls without blocking; -1 with errno unless it is a regular file.
int OpenRegularForIoctl(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat status {};
    int code = 0;
    if (fstat(fd, &status) != 0)
        code = errno;
    else if (!S_ISREG(status.st_mode))
        code = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    if (code != 0) {
        close(fd);
        errno = code;
        return -1;
    }
    return fd;
}

// Runs one FAT attribute ioctl on path; false with errno on failure.
bool FatAttributeIoctl(const std::string& path, unsigned long request, uint32_t& attributes)
{
    int fd = OpenRegularForIoctl(path);
    if (fd < 0)
        return false;
    int result = ioctl(fd, request, &attributes);
    int code = errno;
    close(fd);
    errno = code;
    return result == 0;
}

// The set stored in the extended attribute ("0x7" style text); 0 when there is none.
// Values in any other format (another program's) carry no attributes for us.
bool ReadDosAttribute(const std::string& path, uint32_t& attributes)
{
    char text[64] = {};
    ssize_t length = getxattr(path.c_str(), dosAttributeName, text, sizeof text - 1);
    attributes = 0;
    if (length < 0)
        return errno == ENODATA || errno == ENOTSUP || errno == ERANGE;
    if (length < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return true;
    attributes = uint32_t(std::strtoul(text + 2, nullptr, 16)) & xattrAttributes;
    return true;
}

// Stores the set in the extended attribute, or removes it when nothing needs keeping.
bool WriteDosAttribute(const std::string& path, uint32_t attributes)
{
    if ((attributes & xattrAttributes) == 0) {
        if (removexattr(path.c_str(), dosAttributeName) == 0)
            return true;
        return errno == ENODATA || errno == ENOTSUP;
    }
    char text[16];
    int length = std::snprintf(text, sizeof text, "0x%x", unsigned(attributes));
    return setxattr(path.c_str(), dosAttributeName, text, size_t(length), 0) == 0;
}

// The mode with read-only applied: no write bit at all, or at least the owner's.
mode_t ModeWithReadOnly(mode_t mode, bool readOnly)
{
    mode &= 07777;
    if (readOnly)
        return mode & ~mode_t(0222);
    return (mode & 0222) ? mode : (mode | S_IWUSR);
}

// Changes path's permission bits to mode unless they already are; false with errno.
bool ChangeMode(const std::string& path, mode_t from, mode_t to)
{
    return from == to || chmod(path.c_str(), to) == 0;
}

}  // namespace

bool FileExists(const char* path)
{
    if (!path)
        return false;
    std::optional<std::string> host = HostPath(path);
    struct stat status {};
    return host && stat(host->c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool SetFileAttributesA(const char* path, uint32_t attributes)
{
    attributes &= knownAttributes;
    if (InjectedFailure())
        return AttributeFailure();
    std::optional<std::string> host = HostPath(path ? path : "");
    if (!host)
        return false;
    struct stat status {};
    bool onFat = false;
    if (!StatRegularFile(*host, status) || !IsOnFatMount(*host, onFat))
        return AttributeFailure();

    if (onFat) {
        uint32_t stored = 0;
        if (!FatAttributeIoctl(*host, FAT_IOCTL_GET_ATTRIBUTES, stored))
            return AttributeFailure();
        stored = (stored & ~knownAttributes) | attributes;
        if (!FatAttributeIoctl(*host, FAT_IOCTL_SET_ATTRIBUTES, stored))
            return AttributeFailure();
        return true;
    }

    // An unprivileged owner may change the extended attribute only while the file is
    // writable, so a read-only file is writable for that moment and the bits come last.
    mode_t original = status.st_mode & 07777;
    mode_t writable = ModeWithReadOnly(original, false);
    mode_t wanted = ModeWithReadOnly(original, attributes & FILE_ATTRIBUTE_READONLY);
    if (!ChangeMode(*host, original, writable))
        return AttributeFailure();
    if (!WriteDosAttribute(*host, attributes)) {
        AttributeFailure();
        ChangeMode(*host, writable, original);
        return false;
    }
    if (!ChangeMode(*host, writable, wanted))
        return AttributeFailure();
    return true;
}

void FailAttributeChangeForTesting(int nthCall, int code)
{
    injectedCode.store(code);
    callsBeforeInjectedFailure.store(nthCall > 0 ? nthCall : 0);
}

uint32_t GetFileAttributesA(const char* path)
{
    std::optional<std::string> host = HostPath(path ? path : "");
    if (!host)
        return INVALID_FILE_ATTRIBUTES;
    struct stat status {};
    bool onFat = false;
    if (!StatRegularFile(*host, status) || !IsOnFatMount(*host, onFat)) {
        AttributeFailure();
        return INVALID_FILE_ATTRIBUTES;
    }

    uint32_t attributes = 0;
    if (onFat) {
        if (!FatAttributeIoctl(*host, FAT_IOCTL_GET_ATTRIBUTES, attributes)) {
            AttributeFailure();
            return INVALID_FILE_ATTRIBUTES;
        }
        return attributes & knownAttributes;
    }
    if (!ReadDosAttribute(*host, attributes)) {
        AttributeFailure();
        return INVALID_FILE_ATTRIBUTES;
    }
    if ((status.st_mode & 0222) == 0)
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes;
}
