#pragma once

#include <cerrno>
#include <string>
#include <utility>

// What the last failed file operation of this thread was doing and why it failed.
// Every operation that can fail returns a plain result and leaves the details here,
// the way Win32 leaves them for GetLastError().
enum class FileStep {
    None,
    ResolvePath,      // the drive is not mapped, or the name is not a plain file name
    Inspect,          // stat of the target (missing, not a regular file, ...)
    Read,             // reading the current contents
    CreateTemporary,  // creating the temporary file next to the target
    WriteTemporary,
    FlushTemporary,
    Rename,           // renaming the temporary file over the target
    Attributes,       // reading or changing the attribute set
    FatAttributesNeedPrivilege,  // a FAT mount lets only a privileged process change them
    LinkOutside,      // the name is a link that leads out of the drive's directory
    HardLinked,       // the file has other hard links, which a replace would cut off
    Owner,            // a replacement could not be given the file's owner and group
    Locked,           // another program kept the file locked
    Changed,          // another program changed or replaced the file during the write
    OpenImage,        // opening the disk image (or device) an image drive lives in
    ImageNotUnderstood,  // no usable FAT file system where the image should hold one
    ImageInUse,       // another program (an emulator) holds the image
    ImageTool,        // a program needed for disk images is missing or failed
    ImageReplaced,    // since the drive was opened, its image's name leads to another file, or its size changed
    ImageRefused,     // a disk image whose writes could reach other files
};

struct FileError {
    FileError(FileStep step = FileStep::None, int code = 0, std::string detail = {})
        : step(step), code(code), detail(std::move(detail)) {}

    FileStep step;
    int code;            // errno value
    std::string detail;  // what an external tool said, read instead of the errno text
};

FileError LastFileError();
void SetLastFileError(FileStep step, int code, std::string detail = {});
void ClearLastFileError();

// How every operation of the file layer fails: records that step failed with code (errno
// unless given; detail, an external tool's words) and returns false.
bool RecordFailure(FileStep step, int code = errno, std::string detail = {});

// One readable sentence for a message box, without a final full stop: what failed and
// why, e.g. "The temporary file could not be written: No space left on device"; an
// external tool's own words, when there are some, stand in for the errno text.
std::string Describe(const FileError& error);
