#include "editor/vrnl.h"
#include "platform/qt/controls.h"
#include "platform/qt/ui.h"

void VRNL::CheckClick(int index)
{
    const bool on = Check[index]->checkState() != Qt::Unchecked;
    Options.*CheckOption[index] = on;

    if (index == 2) {
        if (!Options.BootMulti) {
            // Without dual boot Windows 95 is the only system to start: force it, quietly.
            const bool wasUserEditing = UserEditing;
            UserEditing = false;
            Check[5]->setChecked(true);
            Check[5]->setEnabled(false);
            UserEditing = wasUserEditing;
        } else {
            Check[5]->setEnabled(true);
        }
    } else if ((index == 9 || index == 10) && !on && UserEditing) {
        const MsgAnswer answer = MsgBox(
            QStringLiteral("If you deselect this option, you must manually install compressed drives.\r\n"
                           "\r\n"
                           "Do you want to continue?"),
            MsgButtons::YesNo, MsgIcon::Exclamation, MsgAnswer::No, QStringLiteral("Varnello"));
        if (answer != MsgAnswer::Yes) {
            Options.*CheckOption[index] = true;
            Check[index]->setChecked(true);
        }
    }
}
