#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "app/startup.h"
#include "editor/fieldnumber.h"
#include "editor/vrnl.h"
#include "messageboxes.h"
#include "platform/qt/controls.h"
#include "platform/qt/ui.h"
#include "tempdrive.h"

namespace {

// The main window over a boot drive with an earlier MS-DOS, shown and active so that
// focus moves as it does for the user.
class NumericFields : public testing::Test {
protected:
    void open(const std::string& optionLines = "")
    {
        drive.write("msdos.sys", "[Options]\r\n" + optionLines);
        for (const char* name : {"io.dos", "msdos.dos", "command.dos"})
            drive.write(name, "");
        BootPath = QString::fromStdString(drive.dosPath());
        window = new VRNL;
        window->Load();
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    }
    void TearDown() override { delete window.data(); }

    int16_t value(int row) const { return window->Options.*NumericRows[row].number; }
    QString text(int row) const { return window->Text[row]->text(); }

    // One click on an arrow; returns the beeps it made.
    int press(int row, int step)
    {
        QToolButton* arrow = step > 0 ? window->Spin[row]->upArrow() : window->Spin[row]->downArrow();
        const int before = BeepCount();
        QTest::mousePress(arrow, Qt::LeftButton);
        QTest::mouseRelease(arrow, Qt::LeftButton);
        return BeepCount() - before;
    }

    // Puts the focus in a field the way Tab does, which selects its text.
    void enter(int row)
    {
        window->ExitVRNL->setFocus(Qt::TabFocusReason);
        window->Text[row]->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(window->Text[row]->hasFocus());
    }

    TempDrive drive;
    MessageBoxes boxes;
    QPointer<VRNL> window;
};

struct Typing {
    int row;
    const char* keys;
    std::vector<int16_t> valueAfterEachKey;
    const char* textAfterLeaving;
};

// The option follows the text at every keystroke, unchecked; leaving the field brings it
// into range silently and writes its shortest form.
TEST_F(NumericFields, TypedTextIsStoredAtOnceAndNormalisedOnLeaving)
{
    const Typing cases[] = {
        {0, "-5", {0, -5}, "0"},
        {1, "0", {0}, "1"},
        {2, "x", {0}, "1"},
        {0, "05", {0, 5}, "5"},
        {1, "50", {5, 50}, "30"},
        {0, " 7", {0, 7}, "7"},
        {0, "7x", {7, 7}, "7"},
        {0, "123", {1, 12, 12}, "12"},  // the third key is refused by the field
        {2, "12", {1, 1}, "1"},
    };
    ASSERT_NO_FATAL_FAILURE(open());
    for (const Typing& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << c.row << " typing \"" << c.keys << '"');
        ASSERT_NO_FATAL_FAILURE(enter(c.row));
        const int beeps = BeepCount();
        const std::string keys = c.keys;
        for (size_t k = 0; k < keys.size(); ++k) {
            QTest::keyClick(window->Text[c.row], keys[k]);
            EXPECT_EQ(value(c.row), c.valueAfterEachKey[k]) << "after key " << k + 1;
        }
        QTest::keyClick(window->Text[c.row], Qt::Key_Tab);
        EXPECT_FALSE(window->Text[c.row]->hasFocus());
        EXPECT_EQ(text(c.row), QString::fromLatin1(c.textAfterLeaving));
        EXPECT_EQ(value(c.row), FieldNumber(QString::fromLatin1(c.textAfterLeaving)));
        EXPECT_EQ(BeepCount(), beeps);
    }
}

TEST_F(NumericFields, TypingAllAtOnceGivesTheSameValues)
{
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_NO_FATAL_FAILURE(enter(0));
    QTest::keyClicks(window->Text[0], QStringLiteral("-5"));
    EXPECT_EQ(window->Options.BootDelay, -5);
    window->ExitVRNL->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(text(0), QStringLiteral("0"));
    EXPECT_EQ(window->Options.BootDelay, 0);
}

struct Step {
    int step;
    const char* text;
    int beeps;
};

struct Spinning {
    int row;
    const char* start;
    std::vector<Step> steps;
};

// The focus stays in the field while its arrows are clicked, so each step starts from
// the text as it stands, not from a normalised one.
TEST_F(NumericFields, ArrowsStepFromTheTextAndBeepOnlyPastABound)
{
    const Spinning cases[] = {
        {0, "98", {{+1, "99", 0}, {+1, "99", 1}}},
        {0, "1", {{-1, "0", 0}, {-1, "0", 1}}},
        {0, "-5", {{+1, "0", 1}}},
        {0, "7x", {{+1, "8", 0}}},
        {0, ".5", {{+1, "2", 0}}},
        {0, "32767", {{+1, "99", 1}}},
        {1, "", {{+1, "1", 0}}},
        {1, "", {{-1, "1", 1}}},
        {1, "50", {{-1, "30", 1}, {-1, "29", 0}}},
        {1, "29", {{+1, "30", 0}, {+1, "30", 1}}},
        {2, "1", {{-1, "1", 1}, {+1, "2", 0}}},
        {2, "x", {{+1, "1", 0}}},
        {2, "9", {{+1, "9", 1}}},
    };
    ASSERT_NO_FATAL_FAILURE(open());
    for (const Spinning& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << c.row << " from \"" << c.start << '"');
        ASSERT_NO_FATAL_FAILURE(enter(c.row));
        window->Text[c.row]->setText(QString::fromLatin1(c.start));
        for (const Step& step : c.steps) {
            EXPECT_EQ(press(c.row, step.step), step.beeps) << "step " << step.step;
            EXPECT_EQ(text(c.row), QString::fromLatin1(step.text));
            EXPECT_EQ(value(c.row), FieldNumber(QString::fromLatin1(step.text)));
            EXPECT_TRUE(window->Text[c.row]->hasFocus());
        }
    }
}

TEST_F(NumericFields, TypedFiftyStepsDownToThirty)
{
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_NO_FATAL_FAILURE(enter(1));
    QTest::keyClicks(window->Text[1], QStringLiteral("50"));
    ASSERT_EQ(window->Options.BootMenuDelay, 50);
    EXPECT_EQ(press(1, -1), 1);
    EXPECT_EQ(text(1), QStringLiteral("30"));
    EXPECT_EQ(window->Options.BootMenuDelay, 30);
}

// A file value outside the row shows whole; the arrow or a visit to the field brings it in.
TEST_F(NumericFields, AFileValueBeyondTheRowIsBroughtIn)
{
    ASSERT_NO_FATAL_FAILURE(open("BootDelay=150\r\n"));
    ASSERT_EQ(text(0), QStringLiteral("150"));
    ASSERT_EQ(window->Options.BootDelay, 150);
    EXPECT_EQ(press(0, -1), 1);
    EXPECT_EQ(text(0), QStringLiteral("99"));
    EXPECT_EQ(window->Options.BootDelay, 99);
}

TEST_F(NumericFields, EnteringAndLeavingAFieldWithAFileValueClampsSilently)
{
    ASSERT_NO_FATAL_FAILURE(open("BootDelay=150\r\nBootMenuDelay=0\r\n"));
    const int beeps = BeepCount();
    window->ExitVRNL->setFocus(Qt::TabFocusReason);
    QTest::keyClick(window->ExitVRNL, Qt::Key_Tab);
    ASSERT_TRUE(window->Text[0]->hasFocus());
    EXPECT_EQ(text(0), QStringLiteral("150"));  // entering changes nothing
    QTest::keyClick(window->Text[0], Qt::Key_Tab);
    EXPECT_EQ(text(0), QStringLiteral("99"));
    EXPECT_EQ(window->Options.BootDelay, 99);
    QTest::keyClick(window->Text[1], Qt::Key_Tab);
    EXPECT_EQ(text(1), QStringLiteral("1"));
    EXPECT_EQ(window->Options.BootMenuDelay, 1);
    EXPECT_EQ(BeepCount(), beeps);
}

TEST_F(NumericFields, HoldingAnArrowAtTheBoundBeepsAtEveryRepetition)
{
    ASSERT_NO_FATAL_FAILURE(open("BootDelay=99\r\n"));
    QSignalSpy steps(window->Spin[0], &SpinButton::spinUp);
    QToolButton* up = window->Spin[0]->upArrow();
    const int beeps = BeepCount();
    QTest::mousePress(up, Qt::LeftButton);
    QTest::qWait(450);
    QTest::mouseRelease(up, Qt::LeftButton);
    EXPECT_GE(steps.count(), 2);
    EXPECT_EQ(BeepCount() - beeps, steps.count());
    EXPECT_EQ(text(0), QStringLiteral("99"));
}

// Switching to another window is not leaving the field: the text stays as typed until
// the user moves on inside the window.
TEST_F(NumericFields, AnotherWindowTakingTheActivationDoesNotNormalise)
{
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_NO_FATAL_FAILURE(enter(0));
    QTest::keyClicks(window->Text[0], QStringLiteral("-5"));

    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_EQ(text(0), QStringLiteral("-5"));
    EXPECT_EQ(window->Options.BootDelay, -5);

    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    ASSERT_TRUE(window->Text[0]->hasFocus());
    QTest::keyClick(window->Text[0], Qt::Key_Tab);
    EXPECT_EQ(text(0), QStringLiteral("0"));
    EXPECT_EQ(window->Options.BootDelay, 0);
}

// Events let through during a step may rewrite the field; the option then follows that
// newer text, not the step's own number.
TEST_F(NumericFields, AFieldRewrittenWhileAStepLetsEventsRunKeepsItsOptionInStep)
{
    ASSERT_NO_FATAL_FAILURE(open("BootDelay=10\r\n"));
    TextField* field = window->Text[0];
    QMetaObject::invokeMethod(field, [field] { field->setText(QStringLiteral("42")); }, Qt::QueuedConnection);
    emit window->Spin[0]->spinUp();
    EXPECT_EQ(text(0), QStringLiteral("42"));
    EXPECT_EQ(window->Options.BootDelay, 42);

    // A repetition of the arrow arriving in the same way.
    SpinButton* spin = window->Spin[0];
    QMetaObject::invokeMethod(spin, [spin] { emit spin->spinUp(); }, Qt::QueuedConnection);
    emit spin->spinUp();
    EXPECT_EQ(text(0), QStringLiteral("44"));
    EXPECT_EQ(window->Options.BootDelay, 44);
}

}  // namespace
