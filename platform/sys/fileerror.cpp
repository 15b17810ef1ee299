#include "platform/sys/fileerror.h"

#include <cstring>
#include <utility>

namespace {

thread_local FileError lastError;

// What the failed step was doing, as the start of a sentence.
const char* StepPhrase(FileStep step)
{
    switch (step) {
    case FileStep::None: return "";
    case FileStep::ResolvePath: return "The drive is not ready or the file name is not valid";
    case FileStep::Inspect: return "The file could not be examined";
    case FileStep::Read: return "The file could not be read";
    case FileStep::CreateTemporary: return "A temporary file could not be created beside the file";
    case FileStep::WriteTemporary: return "The temporary file could not be written";
    case FileStep::FlushTemporary: return "The temporary file could not be flushed to disk";
    case FileStep::Rename: return "The temporary file could not replace the file";
    case FileStep::Attributes: return "The file attributes could not be read or changed";
    case FileStep::FatAttributesNeedPrivilege:
        return "On this mounted FAT file system only a privileged process (with CAP_LINUX_IMMUTABLE) may "
               "change the file attributes: point Varnello at the device itself or at a disk image of the "
               "drive instead, which needs no mount, or run it with that capability";
    case FileStep::LinkOutside: return "The file is a link that leads out of the drive's directory";
    case FileStep::HardLinked:
        return "The file has other hard links, which would no longer share its contents after a write";
    case FileStep::Owner: return "A new copy of the file could not be given the file's owner and group";
    case FileStep::Locked: return "Another program kept the file locked";
    case FileStep::Changed: return "Another program changed or replaced the file while it was being written";
    case FileStep::OpenImage: return "The disk image could not be opened";
    case FileStep::ImageNotUnderstood: return "No usable FAT file system was found in the disk image";
    case FileStep::ImageInUse: return "The disk image is in use";
    case FileStep::ImageTool: return "The disk image could not be used";
    case FileStep::ImageReplaced: return "The disk image is no longer the one Varnello opened";
    case FileStep::ImageRefused: return "Varnello does not write into this kind of disk image";
    }
    return "The file operation failed";
}

}  // namespace

FileError LastFileError()
{
    return lastError;
}

void SetLastFileError(FileStep step, int code, std::string detail, std::string said)
{
    lastError = FileError(step, code, std::move(detail), std::move(said));
}

bool RecordFailure(FileStep step, int code, std::string detail, std::string said)
{
    SetLastFileError(step, code, std::move(detail), std::move(said));
    return false;
}

void ClearLastFileError()
{
    lastError = {};
}

std::string Describe(const FileError& error)
{
    if (error.step == FileStep::None && error.code == 0)
        return "No error.";
    std::string text = StepPhrase(error.step);
    if (error.code != 0 || !error.detail.empty()) {
        if (!text.empty())
            text += ": ";
        text += error.detail.empty() ? std::strerror(error.code) : error.detail;
    }
    text += ".";
    if (!error.said.empty())
        text += "\r\n" + error.said;
    return text;
}
