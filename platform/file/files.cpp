#include "platform/file/files.h"

#include "platform/file/descriptor.h"
#include "platform/file/dosattributes.h"
#include "platform/file/drives.h"
#include "platform/file/fileerror.h"
#include "platform/file/imagedrive.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t knownAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN
                                     | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
// What the permission bits cannot hold and the extended attribute must.
constexpr uint32_t xattrAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM
                                     | FILE_ATTRIBUTE_ARCHIVE;

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

// Opens the file path names to read or change its attributes; invalid, with
// LastFileError() set, unless it is a regular file reached inside its drive.
Descriptor OpenForAttributes(const char* path)
{
    const std::optional<FileTarget> target = ResolveFileTarget(path ? path : "");
    if (!target)
        return Descriptor();
    Descriptor fd = OpenRegularFile(*target);
    if (!fd)
        RecordFailure(FileStep::Attributes);
    return fd;
}

// The set stored in the extended attribute ("0x7" style text); 0 when there is none.
// Values in any other format (another program's) carry no attributes for us.
bool ReadDosAttribute(int fd, uint32_t& attributes)
{
    attributes = 0;
    const std::optional<std::string> text = StoredDosAttribute(fd);
    if (!text)
        return errno == ENODATA || errno == ENOTSUP;
    if (text->size() < 3 || (*text)[0] != '0' || ((*text)[1] != 'x' && (*text)[1] != 'X'))
        return true;
    attributes = uint32_t(std::strtoul(text->c_str() + 2, nullptr, 16)) & xattrAttributes;
    return true;
}

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

}  // namespace

bool FileExists(const char* path)
{
    if (!path)
        return false;
    if (const std::optional<ImageFile> image = ImageFileFor(path))
        return image->drive && image->drive->exists(image->name);
    std::optional<std::string> host = HostPath(path);
    struct stat status {};
    return host && stat(host->c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::string WhyFileNotFound(const char* path)
{
    const std::optional<ImageFile> image = ImageFileFor(path ? path : "");
    if (!image || (image->drive && image->drive->exists(image->name)))
        return "";
    const FileError error = LastFileError();
    return error.step == FileStep::Inspect && error.code == ENOENT ? "" : Describe(error);
}

bool DriveInUseByAnotherProgram(const char* path)
{
    const std::optional<ImageFile> image = ImageFileFor(path ? path : "");
    return image && image->drive && image->drive->inUse();
}

bool SetFileAttributesA(const char* path, uint32_t attributes)
{
    attributes &= knownAttributes;
    if (InjectedFailure())
        return RecordFailure(FileStep::Attributes);
    if (const std::optional<ImageFile> image = ImageFileFor(path ? path : ""))
        return image->drive && image->drive->setAttributes(image->name, attributes);
    const Descriptor fd = OpenForAttributes(path);
    struct stat status {};
    if (!fd)
        return false;
    const std::optional<bool> onFat = OnFatMount(fd.get());
    if (fstat(fd.get(), &status) != 0 || !onFat)
        return RecordFailure(FileStep::Attributes);

    if (*onFat) {
        uint32_t stored = 0;
        if (!ReadFatAttributes(fd.get(), stored))
            return RecordFailure(FileStep::Attributes);
        if (!WriteFatAttributes(fd.get(), (stored & ~knownAttributes) | attributes))
            return errno == EPERM ? RecordFailure(FileStep::FatAttributesNeedPrivilege, 0)
                                  : RecordFailure(FileStep::Attributes);
        return true;
    }

    // An unprivileged owner may change the extended attribute only while the file is
    // writable, so a read-only file is writable for that moment and the bits come last.
    mode_t original = status.st_mode & 07777;
    mode_t writable = ModeWithReadOnly(original, false);
    mode_t wanted = ModeWithReadOnly(original, attributes & FILE_ATTRIBUTE_READONLY);
    // A failure leaves the set as it was: each step done is undone, so what is there
    // must be known before anything changes.
    const std::optional<std::string> stored = StoredDosAttribute(fd.get());
    if (!stored && errno != ENODATA && errno != ENOTSUP)
        return RecordFailure(FileStep::Attributes);
    if (!ChangeMode(fd.get(), original, writable))
        return RecordFailure(FileStep::Attributes);
    const bool written = WriteDosAttribute(fd.get(), attributes);
    if (!written || !ChangeMode(fd.get(), writable, wanted)) {
        RecordFailure(FileStep::Attributes);
        if (written)
            StoreDosAttribute(fd.get(), stored);
        ChangeMode(fd.get(), writable, original);
        return false;
    }
    return true;
}

void FailAttributeChangeForTesting(int nthCall, int code)
{
    injectedCode.store(code);
    callsBeforeInjectedFailure.store(nthCall > 0 ? nthCall : 0);
}

uint32_t GetFileAttributesA(const char* path)
{
    if (const std::optional<ImageFile> image = ImageFileFor(path ? path : ""))
        return image->drive ? image->drive->attributes(image->name) : INVALID_FILE_ATTRIBUTES;
    const Descriptor fd = OpenForAttributes(path);
    struct stat status {};
    if (!fd)
        return INVALID_FILE_ATTRIBUTES;
    const std::optional<bool> onFat = OnFatMount(fd.get());
    uint32_t attributes = 0;
    if (fstat(fd.get(), &status) != 0 || !onFat
        || !(*onFat ? ReadFatAttributes(fd.get(), attributes) : ReadDosAttribute(fd.get(), attributes))) {
        RecordFailure(FileStep::Attributes);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (*onFat)
        return attributes & knownAttributes;
    if ((status.st_mode & 0222) == 0)
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes;
}
