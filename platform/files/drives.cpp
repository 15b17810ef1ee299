#include "platform/files/drives.h"

#include "platform/drive/directory/directorydrive.h"
#include "platform/drive/image/imagedrive.h"
#include "platform/drive/mapping.h"
#include "platform/sys/fileerror.h"

#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>

namespace {

// An image drive whose image could not be opened: every operation fails as the opening did.
class UnopenedDrive : public Drive {
public:
    explicit UnopenedDrive(FileError error) : error_(std::move(error)) {}

    bool exists(std::string_view) override { return fail(); }
    std::string whyMissing(std::string_view) override { return Describe(error_); }
    bool inUse() const override { return false; }
    std::optional<std::string> read(std::string_view) override
    {
        fail();
        return std::nullopt;
    }
    bool replace(std::string_view, const FileChange&) override { return fail(); }
    bool checkReplaceable(std::string_view) override { return fail(); }
    bool setAttributes(std::string_view, uint32_t) override { return fail(); }

private:
    bool fail() const { return RecordFailure(error_.step, error_.code, error_.detail, error_.said); }

    FileError error_;
};

struct Opened {
    std::string mapping;
    bool image = false;
    std::unique_ptr<Drive> drive;
};

// The drives so far, by letter; destroyed at exit, which stops any export.
std::map<char, Opened>& OpenedDrives()
{
    static std::map<char, Opened> opened;
    return opened;
}

std::mutex openedGuard;

bool IsImage(const std::string& mapping)
{
    struct stat status {};
    return !mapping.empty() && stat(mapping.c_str(), &status) == 0
           && (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode));
}

std::unique_ptr<Drive> OpenImageDrive(char letter, const std::string& mapping)
{
    const std::optional<int> partition = PartitionChoice(letter);
    std::unique_ptr<Drive> drive = partition ? ImageDrive::Open(mapping, *partition) : nullptr;
    return drive ? std::move(drive) : std::make_unique<UnopenedDrive>(LastFileError());
}

}  // namespace

std::optional<DriveFile> DriveFileFor(std::string_view dosPath)
{
    const std::optional<DosName> parsed = ParseDosPath(dosPath);
    if (!parsed)
        return std::nullopt;
    std::string mapping = DriveMapping(parsed->letter);
    const bool image = IsImage(mapping);

    std::lock_guard<std::mutex> hold(openedGuard);
    Opened& opened = OpenedDrives()[parsed->letter];
    if (!opened.drive || opened.mapping != mapping || opened.image != image) {
        opened.drive.reset();  // an image of the letter is let go before another is opened
        opened.drive = image ? OpenImageDrive(parsed->letter, mapping) : std::make_unique<DirectoryDrive>(mapping);
        opened.mapping = std::move(mapping);
        opened.image = image;
    }
    return DriveFile{*opened.drive, parsed->name};
}

void CloseImageDrives()
{
    std::lock_guard<std::mutex> hold(openedGuard);
    OpenedDrives().clear();
}
