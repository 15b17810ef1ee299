#include "editor/fieldnumber.h"
#include "editor/vrnl.h"
#include "platform/qt/controls.h"
#include "platform/qt/ui.h"

// The field is the source: its option follows every change of its text, unchecked;
// the bounds are applied when the user leaves the field or steps it.
void VRNL::TextChange(int index)
{
    Options.*NumericRows[index].number = FieldNumber(Text[index]->text());
}

void VRNL::TextLostFocus(int index)
{
    Text[index]->setText(FieldText(NormalisedValue(Text[index]->text(), NumericRows[index])));
    DoEvents();
}

void VRNL::SpinStep(int index, int step)
{
    const SpinResult result = SteppedValue(Text[index]->text(), step, NumericRows[index]);
    if (result.beep)
        Beep();
    const QString written = FieldText(result.value);
    Text[index]->setText(written);
    DoEvents();
    // The events just run may have rewritten the field (a repetition of this arrow, the
    // default settings); its change handler stored that newer number, which must stand.
    if (Text[index]->text() == written)
        Options.*NumericRows[index].number = result.value;
}
