#include "editor/fieldnumber.h"

#include <algorithm>
#include <cmath>
#include <limits>

double FieldValue(const QString& text)
{
    // Only space, tab and line feed are blanks; a carriage return ends the number.
    QString compact;
    for (QChar c : text)
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n'))
            compact += c;

    qsizetype end = 0;
    auto skipDigits = [&] {
        while (end < compact.size() && compact[end].isDigit() && compact[end].unicode() < 128)
            ++end;
    };
    if (end < compact.size() && (compact[end] == QLatin1Char('+') || compact[end] == QLatin1Char('-')))
        ++end;
    skipDigits();
    if (end < compact.size() && compact[end] == QLatin1Char('.')) {
        ++end;
        skipDigits();
    }
    // "", "-", "." and "-." fail and read 0; a run of digits too long for a double
    // overflows to an infinity, which the rounding holds at the 16-bit end.
    bool ok = false;
    const double value = compact.left(end).toDouble(&ok);
    return ok || std::isinf(value) ? value : 0.0;
}

int16_t RoundToInt16(double value)
{
    const double rounded = std::nearbyint(value);  // the default rounding mode sends halves to even
    return static_cast<int16_t>(std::clamp<double>(rounded, std::numeric_limits<int16_t>::min(),
                                                   std::numeric_limits<int16_t>::max()));
}

int16_t FieldNumber(const QString& text)
{
    return RoundToInt16(FieldValue(text));
}

QString FieldText(int16_t value)
{
    return QString::number(value);
}

int16_t NormalisedValue(const QString& text, const OptionKey& row)
{
    return std::clamp(FieldNumber(text), row.lowest, row.highest);
}

SpinResult SteppedValue(const QString& text, int step, const OptionKey& row)
{
    const int16_t value = RoundToInt16(FieldValue(text) + step);
    if (value < row.lowest)
        return {row.lowest, true};
    if (value > row.highest)
        return {row.highest, true};
    return {value, false};
}
