#include "editor/vrnl.h"
#include "platform/qt/controls.h"

namespace {

// Check(1..12); index 0 unused.
const char* const CheckHelp[13] = {
    nullptr,
    "Enables automatic display of the Windows 95 Startup menu.",
    "Enables dual-boot capabilities. Checking this box enables the ability to start MS-DOS.",
    "Enables the startup option keys.",
    "Enables loading of COMMAND.COM or DRVSPACE.BIN at the top of 640K memory.",
    "Enables Windows 95 as the default operating system.",
    "Enables the Safe Mode startup warning.",
    "Enables display of the animated logo.",
    "Enables automatic graphical startup into Windows 95.",
    "Enables automatic loading of DRVSPACE.BIN.",
    "Enables automatic loading of DBLSPACE.BIN.",
    "Enables Safe Mode With Networking as a menu option.",
    "Enables loading of a double-buffering driver for a SCSI controller.",
};

// Text(i) and its label SSPanel6(i) explain the same option.
const char* const RowHelp[3] = {
    "Sets the initial startup delay to n seconds.",
    "Sets the number of seconds to display the Windows Startup menu.",
    "Sets the default menu item on the Windows Startup menu.",
};

}  // namespace

void VRNL::CheckMouseMove(int index)
{
    FastHelp->setSimpleText(QString::fromLatin1(CheckHelp[index]));
}

void VRNL::TextMouseMove(int index)
{
    FastHelp->setSimpleText(QString::fromLatin1(RowHelp[index]));
}

void VRNL::CommandMouseMove(const SSCommand* command)
{
    if (command == InfoAbout)
        FastHelp->setSimpleText(QStringLiteral("Display the information dialog box"));
    else if (command == DefaultSettings)
        FastHelp->setSimpleText(QStringLiteral("Restore the original Windows 95 configuration"));
    else if (command == ExitVRNL)
        FastHelp->setSimpleText(QStringLiteral("Exit 'Varnello'"));
}

void VRNL::ClearHelp()
{
    FastHelp->setSimpleText(QString());
}
