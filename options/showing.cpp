#include "editor/vrnl.h"
#include "platform/qt/controls.h"

// Setting a box or a field runs its change handler at once, nested; UserEditing false
// tells the check-box handler that these changes are not the user's.
void VRNL::ShowOptions()
{
    UserEditing = false;
    for (int i = 1; i <= 12; ++i)  // each option read as its box is set
        Check[i]->setCheckState(Options.*CheckOption[i] ? Qt::Checked : Qt::Unchecked);
    for (int i : TextShowingOrder)
        Text[i]->setText(QString::fromStdString(ValueText(Options.*NumericRows[i].number)));
    if (!Options.BootMulti)
        Check[5]->setEnabled(false);
    UserEditing = true;
}
