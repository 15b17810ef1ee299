#include <gtest/gtest.h>

#include "editor/fieldnumber.h"

namespace {

struct Reading {
    const char* text;
    int16_t number;
};

// Texts the user can type (two characters at most) and texts the program writes from
// file values, as the text-changed handler stores them.
const Reading Readings[] = {
    {"7x", 7},
    {"x7", 0},
    {"-5", -5},
    {".5", 0},  // 0.5: the half goes to the even neighbour
    {"1.5", 2},
    {"2.5", 2},
    {"3.5", 4},
    {"-1.5", -2},
    {"-2.5", -2},
    {"2.51", 3},
    {"1 2", 12},  // blanks are skipped wherever they stand
    {" 4 ", 4},
    {"- 5", -5},
    {"\t9", 9},
    {"1\t2", 12},
    {"1\n2", 12},
    {"1\r2", 1},  // a carriage return is not a blank
    {"", 0},
    {"-", 0},
    {".", 0},
    {"-.", 0},
    {"+", 0},
    {"+3", 3},
    {"3.", 3},
    {"+-3", 0},
    {"--5", 0},
    {"1.2.3", 1},
    {"1e3", 1},  // no exponent in a field's number
    {"0x1F", 0},
    {"05", 5},
    {"00", 0},
    {"x", 0},
    {"150", 150},
    {"12345", 12345},
    {"32767", 32767},
    {"32767.4", 32767},
    {"-32768", -32768},
    // Beyond 16 bits the number is held at the nearer end.
    {"32767.5", 32767},
    {"32768", 32767},
    {"99999", 32767},
    {"-40000", -32768},
};

TEST(FieldNumber, ReadsTheLongestLeadingNumberRoundedHalfToEven)
{
    for (const Reading& reading : Readings)
        EXPECT_EQ(FieldNumber(QString::fromLatin1(reading.text)), reading.number) << '"' << reading.text << '"';
}

TEST(FieldNumber, ADigitRunTooLongForADoubleIsHeldAtTheEnd)
{
    const QString digits = QStringLiteral("1") + QString(400, QLatin1Char('0'));
    EXPECT_EQ(FieldNumber(digits), 32767);
    EXPECT_EQ(FieldNumber(QStringLiteral("-") + digits), -32768);
    EXPECT_EQ(FieldNumber(QStringLiteral("0.") + QString(400, QLatin1Char('0')) + QStringLiteral("1")), 0);
}

TEST(FieldNumber, OnlyPlainDigitsCount)
{
    EXPECT_EQ(FieldNumber(QString::fromUtf8("\u0663")), 0);      // Arabic-Indic three
    EXPECT_EQ(FieldNumber(QString::fromUtf8("\uFF15")), 0);      // full-width five
    EXPECT_EQ(FieldNumber(QString::fromUtf8("4\u00A02")), 4);    // a no-break space ends the number
}

TEST(FieldValue, KeepsTheFractionForTheSpinStep)
{
    EXPECT_DOUBLE_EQ(FieldValue(QStringLiteral(".5")), 0.5);
    EXPECT_DOUBLE_EQ(FieldValue(QStringLiteral("1 2.5")), 12.5);
    EXPECT_DOUBLE_EQ(FieldValue(QStringLiteral("-0.25x")), -0.25);
}

TEST(FieldText, IsTheShortestDecimalForm)
{
    EXPECT_EQ(FieldText(5), QStringLiteral("5"));
    EXPECT_EQ(FieldText(0), QStringLiteral("0"));
    EXPECT_EQ(FieldText(99), QStringLiteral("99"));
    EXPECT_EQ(FieldText(-5), QStringLiteral("-5"));
    EXPECT_EQ(FieldText(32767), QStringLiteral("32767"));
}

// The options of the rows Text(0..2), with their ranges 0-99, 1-30 and 1-9.
const OptionKey* const Rows[] = {&RowOf(&BootOptions::BootDelay), &RowOf(&BootOptions::BootMenuDelay),
                                 &RowOf(&BootOptions::BootMenuDefault)};

struct Normalising {
    int row;
    const char* text;
    int16_t value;
};

TEST(NormalisedValue, ClampsIntoTheRow)
{
    const Normalising cases[] = {
        {0, "-5", 0}, {0, "05", 5}, {0, "x", 0}, {0, "", 0}, {0, "99", 99}, {0, "150", 99},
        {0, "32767", 99}, {1, "0", 1}, {1, "50", 30}, {1, "", 1}, {1, "30", 30}, {1, "1.5", 2},
        {2, "x", 1}, {2, "0", 1}, {2, "9", 9}, {2, "10", 9},
    };
    for (const Normalising& c : cases)
        EXPECT_EQ(NormalisedValue(QString::fromLatin1(c.text), *Rows[c.row]), c.value)
            << "row " << c.row << " \"" << c.text << '"';
}

struct Stepping {
    int row;
    const char* text;
    int step;
    int16_t value;
    bool beep;
};

TEST(SteppedValue, StepsFromTheTextAndBeepsOnlyPastABound)
{
    const Stepping cases[] = {
        {0, "98", +1, 99, false},  // landing on a bound is silent
        {0, "99", +1, 99, true},
        {0, "1", -1, 0, false},
        {0, "0", -1, 0, true},
        {0, "-5", +1, 0, true},  // -4 is still below
        {0, "150", -1, 99, true},
        {0, "32767", +1, 99, true},
        {0, "7x", +1, 8, false},
        {1, "", +1, 1, false},
        {1, "", -1, 1, true},
        {1, "50", -1, 30, true},
        {1, "31", -1, 30, false},
        {1, "30", +1, 30, true},
        {2, "1", -1, 1, true},
        {2, "9", +1, 9, true},
        {2, "x", +1, 1, false},
        // The step is added before rounding.
        {0, ".5", +1, 2, false},
        {0, "-0.5", +1, 0, false},
        {0, "2.5", -1, 2, false},
        {1, "0.4", +1, 1, false},
    };
    for (const Stepping& c : cases) {
        const SpinResult result = SteppedValue(QString::fromLatin1(c.text), c.step, *Rows[c.row]);
        EXPECT_EQ(result.value, c.value) << "row " << c.row << " \"" << c.text << "\" " << c.step;
        EXPECT_EQ(result.beep, c.beep) << "row " << c.row << " \"" << c.text << "\" " << c.step;
    }
}

}  // namespace
