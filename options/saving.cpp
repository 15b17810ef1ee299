#include "options/saving.h"

#include <cerrno>

#include "app/startup.h"
#include "editor/vrnl.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/ui.h"

std::optional<FileError> WriteBootOptions(const BootOptions& options, const std::string& fileName)
{
    if (!FileExists(fileName.c_str()))
        return FileError{FileStep::Inspect, ENOENT};
    if (!SetFileAttributesA(fileName.c_str(), 0))
        return LastFileError();
    for (int index : WritingOrder) {
        const OptionKey& option = ReadingOrder[index];
        const std::string value = option.flag ? ValueText(options.*option.flag) : ValueText(options.*option.number);
        if (!WritePrivateProfileStringA(OptionsSection, option.key, value.c_str(), fileName.c_str()))
            return LastFileError();
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
            if (FileExists(fileName.c_str()))
                SetFileAttributesA(fileName.c_str(), BootFileAttributes);
            Warn(QStringLiteral("The configuration was not written to '%1': %2.").arg(file, Reason(*failure))
                 + (endingSession ? QString() : QStringLiteral("\r\nYou can try again, or leave without writing.")));
            // The values stay in the window for another try, unless the session is ending.
            return !endingSession;
        }
        MsgBox(QStringLiteral("Reboot and check your changes"), MsgButtons::Ok, MsgIcon::Information, MsgAnswer::Ok,
               QStringLiteral("Varnello"));
    }
    if (FileExists(fileName.c_str()) && !SetFileAttributesA(fileName.c_str(), BootFileAttributes))
        Warn(QStringLiteral("'%1' could not be made read-only, hidden and system again: %2.")
                 .arg(file, Reason(LastFileError())));
    return false;
}
