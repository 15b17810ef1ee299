#include "platform/files/files.h"

#include "platform/files/drives.h"
#include "platform/sys/fileerror.h"

#include <atomic>

namespace {

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

}  // namespace

bool FileExists(const char* path)
{
    const std::optional<DriveFile> file = path ? DriveFileFor(path) : std::nullopt;
    return file && file->drive.exists(file->name);
}

std::string WhyFileNotFound(const char* path)
{
    const std::optional<DriveFile> file = DriveFileFor(path ? path : "");
    return file ? file->drive.whyMissing(file->name) : "";
}

bool DriveInUseByAnotherProgram(const char* path)
{
    const std::optional<DriveFile> file = DriveFileFor(path ? path : "");
    return file && file->drive.inUse();
}

bool SetFileAttributesA(const char* path, uint32_t attributes)
{
    if (InjectedFailure())
        return RecordFailure(FileStep::Attributes);
    const std::optional<DriveFile> file = DriveFileFor(path ? path : "");
    return file && file->drive.setAttributes(file->name, attributes & KnownFileAttributes);
}

void FailAttributeChangeForTesting(int nthCall, int code)
{
    injectedCode.store(code);
    callsBeforeInjectedFailure.store(nthCall > 0 ? nthCall : 0);
}

bool RewriteFile(std::string_view dosPath, const FileChange& change)
{
    const std::optional<DriveFile> file = DriveFileFor(dosPath);
    return file && file->drive.replace(file->name, change);
}

bool CheckReplaceable(std::string_view dosPath)
{
    const std::optional<DriveFile> file = DriveFileFor(dosPath);
    return file && file->drive.checkReplaceable(file->name);
}
