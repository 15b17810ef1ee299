#include "editor/vrnl.h"
#include "platform/qt/ui.h"

void VRNL::DefaultSettingsClick()
{
    if (MsgBox(QStringLiteral("Do you really want to restore the default Windows 95 configuration?"),
               MsgButtons::YesNo, MsgIcon::Question, MsgAnswer::No, QStringLiteral("Varnello"))
        != MsgAnswer::Yes)
        return;
    Options = Windows95Defaults;
    ShowOptions();
}
