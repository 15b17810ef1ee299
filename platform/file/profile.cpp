#include "platform/file/profile.h"

#include "platform/file/atomicfile.h"
#include "platform/file/drives.h"
#include "platform/file/fileerror.h"
#include "platform/file/imagedrive.h"
#include "platform/file/inifile.h"

#include <cerrno>

namespace {

// Reads the whole file, on a directory drive or an image drive; false with LastFileError()
// set when it cannot.
bool ReadDriveFile(const char* fileName, std::string& bytes)
{
    if (const std::optional<ImageFile> image = ImageFileFor(fileName)) {
        std::optional<std::string> read = image->drive ? image->drive->read(image->name) : std::nullopt;
        if (read)
            bytes = std::move(*read);
        return read.has_value();
    }
    const std::optional<FileTarget> target = ResolveFileTarget(fileName);
    Descriptor fd = target ? OpenRegularFile(*target) : Descriptor();
    if (fd && ReadWholeFile(fd.get(), bytes))
        return true;
    if (target)
        RecordFailure(fd || errno == EACCES ? FileStep::Read : FileStep::Inspect);
    return false;
}

// Reads the whole file; false when it is missing (LastFileError() clear) or cannot be
// read (LastFileError() says why).
bool ReadProfileFile(const char* fileName, std::string& bytes)
{
    if (ReadDriveFile(fileName, bytes))
        return true;
    const FileError error = LastFileError();
    if (error.step == FileStep::ResolvePath || error.code == ENOENT)
        ClearLastFileError();
    return false;
}

int WriteProfileString(const char* section, const char* key, const char* value, const char* fileName,
                       MissingFile missing, bool* changed = nullptr)
{
    if (!section || !key || !value || !fileName || !IsWritableProfileEntry(section, key, value)) {
        RecordFailure(FileStep::None, EINVAL);
        return 0;
    }
    return RewriteFile(fileName, missing, [&](std::string_view current, std::string& updated) {
        updated = WithProfileValue(current, section, key, value);
        if (changed)  // the last call decides: the file may be read again
            *changed = updated != current;
        // A file the reader would refuse is not written either.
        return updated.size() <= MaxFileSize || RecordFailure(FileStep::WriteTemporary, EFBIG);
    });
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

int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                               const char* fileName)
{
    return WriteProfileString(section, key, value, fileName, MissingFile::Create);
}

int WriteExistingProfileString(const char* section, const char* key, const char* value,
                               const char* fileName, bool* changed)
{
    return WriteProfileString(section, key, value, fileName, MissingFile::Fail, changed);
}
