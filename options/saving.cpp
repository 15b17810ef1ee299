#include "options/saving.h"

#include <cerrno>

#include "app/startup.h"
#include "editor/vrnl.h"
#include "platform/file/atomicfile.h"
#include "platform/file/files.h"
#include "platform/file/profile.h"
#include "platform/qt/ui.h"

std::optional<BootWriteFailure> WriteBootOptions(const BootOptions& options, const std::string& fileName)
{
    using Stage = BootWriteFailure::Stage;
    if (!FileExists(fileName.c_str()))
        return BootWriteFailure{Stage::FileMissing, FileError{FileStep::Inspect, ENOENT}};
    if (!CheckReplaceable(fileName))
        return BootWriteFailure{Stage::Refused, LastFileError()};
    if (!SetFileAttributesA(fileName.c_str(), 0))
        return BootWriteFailure{Stage::ClearAttributes, LastFileError()};
    int written = 0;
    for (int index : WritingOrder) {
        const OptionKey& option = ReadingOrder[index];
        const std::string value = option.flag ? ValueText(options.*option.flag) : ValueText(options.*option.number);
        if (!WriteExistingProfileString(OptionsSection, option.key, value.c_str(), fileName.c_str()))
            return BootWriteFailure{Stage::WriteKey, LastFileError(), option.key, written};
        ++written;
    }
    return std::nullopt;
}

namespace {

void Warn(const QString& text)
{
    MsgBox(text, MsgButtons::Ok, MsgIcon::Exclamation, MsgAnswer::Ok, QStringLiteral("Varnello"));
}

QString Reason(const FileError& error)
{
    return QString::fromStdString(Describe(error));
}

// What the user reads when Yes did not write the configuration.
QString NotWrittenText(const BootWriteFailure& failure, const QString& file)
{
    using Stage = BootWriteFailure::Stage;
    switch (failure.stage) {
    case Stage::FileMissing:
        return QStringLiteral("%1 is no longer there.\r\nThe configuration was not written, and no new file was "
                              "created.")
            .arg(file);
    case Stage::Refused:
        return QStringLiteral("The configuration was not written to %1, and nothing was changed.\r\n%2")
            .arg(file, Reason(failure.error));
    case Stage::ClearAttributes:
        return QStringLiteral("The configuration was not written to %1: its attributes could not be cleared.\r\n%2")
            .arg(file, Reason(failure.error));
    case Stage::WriteKey:
        if (failure.keysWritten == 0)
            return QStringLiteral("The configuration was not written to %1.\r\n%2").arg(file, Reason(failure.error));
        return QStringLiteral("The configuration was not written to %1: writing the key %2 failed after %3 of the "
                              "%4 keys.\r\n%5")
            .arg(file, QString::fromLatin1(failure.key))
            .arg(failure.keysWritten)
            .arg(int(WritingOrder.size()))
            .arg(Reason(failure.error));
    }
    return {};
}

}  // namespace

bool VRNL::SaveOnClose(bool endingSession)
{
    const MsgAnswer answer =
        endingSession ? MsgBox(QStringLiteral("Write configuration on disk?"), MsgButtons::YesNo, MsgIcon::Question,
                               MsgAnswer::No, QStringLiteral("Varnello"))
                      : MsgBox(QStringLiteral("Write configuration on disk?"), MsgButtons::YesNoCancel,
                               MsgIcon::Question, MsgAnswer::Cancel, QStringLiteral("Varnello"));
    if (answer == MsgAnswer::Cancel)
        return true;

    const QString file = BootPath + QStringLiteral("msdos.sys");
    const std::string fileName = file.toStdString();
    if (answer == MsgAnswer::Yes) {
        if (const auto failure = WriteBootOptions(Options, fileName)) {
            QString text = NotWrittenText(*failure, file);
            // Never create the file just to give it attributes, nor touch one that was refused.
            if (failure->stage != BootWriteFailure::Stage::Refused && FileExists(fileName.c_str())
                && !SetFileAttributesA(fileName.c_str(), BootFileAttributes))
                text += QStringLiteral("\r\n%1 could not be made read-only, hidden and system again.").arg(file);
            // The values stay in the window for another try, unless the session is ending.
            if (!endingSession)
                text += QStringLiteral("\r\nPress Exit to try again, or answer No to leave without writing.");
            Warn(text);
            return !endingSession;
        }
        MsgBox(QStringLiteral("Reboot and check your changes"), MsgButtons::Ok, MsgIcon::Information, MsgAnswer::Ok,
               QStringLiteral("Varnello"));
    }
    if (FileExists(fileName.c_str()) && !SetFileAttributesA(fileName.c_str(), BootFileAttributes))
        Warn(QStringLiteral("%1 could not be made read-only, hidden and system again.\r\n%2")
                 .arg(file, Reason(LastFileError())));
    return false;
}
