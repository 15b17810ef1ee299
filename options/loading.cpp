#include "app/startup.h"
#include "editor/vrnl.h"
#include "platform/qt/controls.h"
#include "platform/file/files.h"
#include "platform/qt/ui.h"

namespace {

bool BootFileExists(const char* name)
{
    return FileExists((BootPath + QString::fromLatin1(name)).toStdString().c_str());
}

}  // namespace

void VRNL::Load()
{
    UserEditing = true;
    CenterWindow(this);
    const QString file = BootPath + QStringLiteral("msdos.sys");
    FileError unreadable;
    Options = ReadBootOptions(file.toStdString(), &unreadable);
    if (unreadable.step != FileStep::None)
        MsgBox(QStringLiteral("%1 could not be read.\r\n%2.\r\nThe values shown are the Windows 95 defaults, not "
                              "those of the file.")
                   .arg(file, QString::fromStdString(Describe(unreadable))),
               MsgButtons::Ok, MsgIcon::Exclamation, MsgAnswer::Ok, QStringLiteral("Varnello"));
    else if (DriveInUseByAnotherProgram(file.toStdString().c_str()))
        MsgBox(QStringLiteral("%1 is in use: another program, such as a running emulator, has its disk image "
                              "open.\r\nThe configuration cannot be written until that program has closed it.")
                   .arg(file),
               MsgButtons::Ok, MsgIcon::Exclamation, MsgAnswer::Ok, QStringLiteral("Varnello"));

    // Dual boot needs all three files that an earlier MS-DOS leaves in the root.
    const bool io = BootFileExists("io.dos");
    const bool msdos = BootFileExists("msdos.dos");
    const bool command = BootFileExists("command.dos");
    if (!(io && msdos && command)) {
        MsgBox(QStringLiteral("MS-DOS Version 5 or 6.x is not found.\r\nSome options are disabled and setted by default"),
               MsgButtons::Ok, MsgIcon::Exclamation, MsgAnswer::Ok, QStringLiteral("Varnello"));
        Options.BootMulti = false;
        Options.BootWin = true;
        Check[2]->setEnabled(false);
        Check[5]->setEnabled(false);
    }
    ShowOptions();
}
