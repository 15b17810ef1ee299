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
    FileError(FileStep step = FileStep::None, int code = 0, std::string detail = {}, std::string said = {})
        : step(step), code(code), detail(std::move(detail)), said(std::move(said)) {}

    FileStep step;
    int code;            // errno value
    std::string detail;  // why, in the user's words, read instead of the errno text
    std::string said;    // an external tool's own words, as ToolSaid (platform/process/toolrun.h) gives them
};

FileError LastFileError();
void SetLastFileError(FileStep step, int code, std::string detail = {}, std::string said = {});
void ClearLastFileError();

// How every file and drive operation fails: records that step failed with code (errno
// unless given), detail and said as in FileError, and returns false.
bool RecordFailure(FileStep step, int code = errno, std::string detail = {}, std::string said = {});

// The text for a message box: what failed and why as one sentence with its full stop
// ("The temporary file could not be written: No space left on device."), the detail
// standing in for the errno text; then an external tool's own words, when there are
// some, on a line of their own.
std::string Describe(const FileError& error);
