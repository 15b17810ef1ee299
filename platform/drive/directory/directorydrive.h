#pragma once

#include "platform/drive/directory/filetarget.h"
#include "platform/drive/drive.h"

#include <optional>
#include <string>
#include <string_view>

// A drive that is a host directory (through links, as a Wine prefix has them). Names
// match without regard to case, as on FAT: the exact spelling when it exists, otherwise
// the smallest case-insensitive match. Replacing goes through ReplaceTarget
// (atomicreplace.h), attributes through the FAT ioctl or the extended attribute
// (dosattributes.h). The directory is opened anew for every operation, so a drive always
// means what its mapping leads to now.
class DirectoryDrive : public Drive {
public:
    explicit DirectoryDrive(std::string directory) : directory_(std::move(directory)) {}

    // The host path of name (a name that matches nothing keeps its spelling); "" names
    // the directory itself. nullopt, with FileStep::ResolvePath, when the directory cannot
    // be opened: ENOTDIR when the mapping leads to something else, ENODEV otherwise.
    std::optional<std::string> hostPath(std::string_view name) const;

    // Resolves name once. A link of that name is followed only while it leads to a file
    // inside the directory; one leading elsewhere fails with FileStep::LinkOutside, a
    // dangling one with FileStep::Inspect; "" is no file (ResolvePath, EINVAL). Other
    // failures as hostPath.
    std::optional<FileTarget> target(std::string_view name) const;

    bool exists(std::string_view name) override;
    std::string whyMissing(std::string_view) override { return ""; }
    bool inUse() const override { return false; }
    std::optional<std::string> read(std::string_view name) override;
    bool replace(std::string_view name, const FileChange& change) override;
    bool checkReplaceable(std::string_view name) override;
    bool setAttributes(std::string_view name, uint32_t attributes) override;

private:
    Descriptor openDirectory() const;

    std::string directory_;
};
