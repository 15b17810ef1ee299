#include "options/saving.h"

#include <cerrno>
#include <vector>

#include "platform/files/files.h"
#include "platform/files/profile.h"
#include "platform/sys/fileerror.h"

namespace {

// Where writing the fifteen keys stopped, and why.
struct WriteFailure {
    enum class Stage {
        FileMissing,      // msdos.sys is gone; nothing was touched
        Refused,          // msdos.sys may not be replaced (CheckReplaceable); nothing was touched
        ClearAttributes,  // its attributes could not be cleared; nothing was written
        WriteKey,         // the write of key failed; the keys before it hold their new values
    };
    Stage stage;
    FileError error;
    const char* key = nullptr;  // WriteKey only
    int keysWritten = 0;        // keys whose new value was written before the failure
};

// What comes before any write: the file must be there and replaceable, and writable
// (its attributes cleared).
std::optional<WriteFailure> PrepareToWrite(const std::string& fileName)
{
    using Stage = WriteFailure::Stage;
    if (!FileExists(fileName.c_str()))
        return WriteFailure{Stage::FileMissing, FileError{FileStep::Inspect, ENOENT}};
    if (!CheckReplaceable(fileName))
        return WriteFailure{Stage::Refused, LastFileError()};
    if (!SetFileAttributesA(fileName.c_str(), 0))
        return WriteFailure{Stage::ClearAttributes, LastFileError()};
    return std::nullopt;
}

std::optional<WriteFailure> WriteKeys(const BootOptions& options, const std::string& fileName)
{
    using Stage = WriteFailure::Stage;
    if (auto failure = PrepareToWrite(fileName))
        return failure;
    int written = 0;
    for (int index : WritingOrder) {
        const OptionKey& option = ReadingOrder[index];
        const std::string value = OptionValueText(options, option);
        bool changed = false;
        if (!WriteExistingProfileString(OptionsSection, option.key, value.c_str(), fileName.c_str(), &changed))
            return WriteFailure{Stage::WriteKey, LastFileError(), option.key, written};
        written += changed;
    }
    return std::nullopt;
}

// The chosen keys in one replace of the file: all of them reach it, or none.
std::optional<WriteFailure> WriteKeysAtOnce(const BootOptions& options, ChosenKeys keys, const std::string& fileName)
{
    if (auto failure = PrepareToWrite(fileName))
        return failure;
    std::vector<ProfileEntry> entries;
    for (int index : WritingOrder) {
        if (keys[size_t(index)])
            entries.push_back({ReadingOrder[index].key, OptionValueText(options, ReadingOrder[index])});
    }
    if (WriteExistingProfileStrings(OptionsSection, entries, fileName.c_str()))
        return std::nullopt;
    return WriteFailure{WriteFailure::Stage::WriteKey, LastFileError()};
}

// What the user reads when the configuration was not written.
std::string NotWrittenText(const WriteFailure& failure, const std::string& file)
{
    using Stage = WriteFailure::Stage;
    const std::string reason = Describe(failure.error);
    switch (failure.stage) {
    case Stage::FileMissing:
        return file + " is no longer there.\r\nThe configuration was not written, and no new file was created.";
    case Stage::Refused:
        return "The configuration was not written to " + file + ", and nothing was changed.\r\n" + reason;
    case Stage::ClearAttributes:
        return "The configuration was not written to " + file + ": its attributes could not be cleared.\r\n" + reason;
    case Stage::WriteKey:
        if (failure.keysWritten == 0)
            return "The configuration was not written to " + file + ".\r\n" + reason;
        return "The configuration was only partly written to " + file + ": writing the key " + failure.key
               + " failed when " + std::to_string(failure.keysWritten) + " of the "
               + std::to_string(WritingOrder.size()) + " keys had been written.\r\n" + reason;
    }
    return {};
}

// What the user reads after a failed write, the file made read-only, hidden and system
// again where it was touched.
std::string FailureText(const WriteFailure& failure, const std::string& bootPath)
{
    const std::string file = bootPath + "msdos.sys";
    std::string text = NotWrittenText(failure, file);
    // A file that was refused was not touched.
    if (failure.stage != WriteFailure::Stage::Refused) {
        if (const auto unprotected = ProtectBootFile(bootPath))
            text += "\r\n" + *unprotected;
    }
    return text;
}

}  // namespace

std::optional<std::string> WriteBootOptions(const BootOptions& options, const std::string& bootPath)
{
    const auto failure = WriteKeys(options, bootPath + "msdos.sys");
    if (!failure)
        return std::nullopt;
    return FailureText(*failure, bootPath);
}

std::optional<std::string> WriteChosenBootOptions(const BootOptions& options, ChosenKeys keys,
                                                  const std::string& bootPath)
{
    const std::string file = bootPath + "msdos.sys";
    const auto failure = WriteKeysAtOnce(options, keys, file);
    if (!failure)
        return ProtectBootFile(bootPath);
    return FailureText(*failure, bootPath);
}

std::string OptionValueText(const BootOptions& options, const OptionKey& option)
{
    return option.flag ? ValueText(options.*option.flag) : ValueText(options.*option.number);
}

std::optional<std::string> ProtectBootFile(const std::string& bootPath)
{
    const std::string file = bootPath + "msdos.sys";
    if (!FileExists(file.c_str()) || SetFileAttributesA(file.c_str(), BootFileAttributes))
        return std::nullopt;
    return file + " could not be made read-only, hidden and system again.\r\n" + Describe(LastFileError());
}
