#pragma once

#include <QString>
#include <cstdint>

#include "options/bootoptions.h"

// How a numeric field's text turns into a number: blanks skipped wherever they stand,
// the longest leading decimal number (sign, digits, point, digits), anything else 0.
double FieldValue(const QString& text);

// A real number to the nearest integer, halves to the even one, held in 16 bits.
int16_t RoundToInt16(double value);

// FieldValue rounded and held: what the text-changed handler stores.
int16_t FieldNumber(const QString& text);

// The shortest decimal form a field is written back in.
QString FieldText(int16_t value);

// The value a field takes when the user leaves it: clamped into the option's range.
int16_t NormalisedValue(const QString& text, const OptionKey& row);

// One step of a spin arrow from the field's text; beep when the step passed a bound.
struct SpinResult {
    int16_t value;
    bool beep;
};
SpinResult SteppedValue(const QString& text, int step, const OptionKey& row);
