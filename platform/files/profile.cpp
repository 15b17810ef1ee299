#include "platform/files/profile.h"

#include "platform/files/drives.h"
#include "platform/files/files.h"
#include "platform/ini/inifile.h"
#include "platform/sys/fileerror.h"
#include "platform/sys/io.h"

#include <cerrno>

namespace {

// Reads the whole file; false when it is missing (LastFileError() clear) or cannot be
// read (LastFileError() says why).
bool ReadProfileFile(const char* fileName, std::string& bytes)
{
    const std::optional<DriveFile> file = DriveFileFor(fileName);
    std::optional<std::string> read = file ? file->drive.read(file->name) : std::nullopt;
    if (read) {
        bytes = std::move(*read);
        return true;
    }
    const FileError error = LastFileError();
    if (error.step == FileStep::ResolvePath || error.code == ENOENT)
        ClearLastFileError();
    return false;
}

}  // namespace

uint32_t GetPrivateProfileIntA(const char* section, const char* key, int32_t defaultValue,
                               const char* fileName)
{
    ClearLastFileError();
    std::string bytes;
    if (!section || !key || !fileName || !ReadProfileFile(fileName, bytes))
        return uint32_t(defaultValue);
    std::optional<std::string_view> value = FindProfileValue(bytes, section, key);
    if (!value || value->empty())
        return uint32_t(defaultValue);
    return uint32_t(ProfileInt(*value));
}

int WriteExistingProfileString(const char* section, const char* key, const char* value,
                               const char* fileName, bool* changed)
{
    if (!value) {
        RecordFailure(FileStep::None, EINVAL);
        return 0;
    }
    const ProfileEntry entry{key, value};
    return WriteExistingProfileStrings(section, {&entry, 1}, fileName, changed);
}

int WriteExistingProfileStrings(const char* section, std::span<const ProfileEntry> entries, const char* fileName,
                                bool* changed)
{
    for (const ProfileEntry& entry : entries) {
        if (!section || !entry.key || !fileName || !IsWritableProfileEntry(section, entry.key, entry.value)) {
            RecordFailure(FileStep::None, EINVAL);
            return 0;
        }
    }
    return RewriteFile(fileName, [&](std::string_view current, std::string& updated) {
        updated = current;
        for (const ProfileEntry& entry : entries)
            updated = WithProfileValue(updated, section, entry.key, entry.value);
        if (changed)  // the last call decides: the file may be read again
            *changed = updated != current;
        // A file the reader would refuse is not written either.
        return updated.size() <= MaxFileSize || RecordFailure(FileStep::WriteTemporary, EFBIG);
    });
}
