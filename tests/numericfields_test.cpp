// The numeric fields and their spin buttons: typed text stands as typed until the field
// is left, spin arrows step from the text and beep only past a bound.

#include <QDialog>
#include <QSignalSpy>
#include <QToolButton>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "editor/fieldnumber.h"
#include "windowfixture.h"

namespace {

// The main window shown and active, so that focus moves as it does for the user.
class NumericFields : public WindowTest {
protected:
    void start(const std::string& optionLines = "")
    {
        ASSERT_TRUE(openOptions(optionLines));
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    }

    // Where the user presses an arrow, in the window. Pressed there through the window, as
    // the window system delivers it, Qt knows the button is down.
    QPoint arrow(int row, int step) const
    {
        return CentreIn(window, step > 0 ? spin(row)->upArrow() : spin(row)->downArrow());
    }
    // One click on an arrow, or Up or Down in the field; returns the beeps it made.
    int press(int row, int step, bool byKey) const
    {
        const int before = BeepCount();
        if (byKey)
            QTest::keyClick(text(row), step > 0 ? Qt::Key_Up : Qt::Key_Down);
        else
            QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, arrow(row, step));
        return BeepCount() - before;
    }
    QString shown(int row) const { return text(row)->text(); }
    int16_t savedNumber(int row) { return saved().*FieldPlaces[row].number; }
};

struct Typing {
    int row;
    const char* keys;
    const char* textAfterLeaving;
};

// Leaving the field brings what was typed into range silently, in its shortest form,
// and that is what is written.
TEST_F(NumericFields, TypedTextIsNormalisedOnLeavingAndWritten)
{
    const Typing cases[] = {
        {0, "-5", "0"}, {1, "0", "1"},  {2, "x", "1"},    {0, "05", "5"},  {1, "50", "30"},
        {0, " 7", "7"}, {0, "7x", "7"}, {0, "123", "12"},  // the third key is refused by the field
        {2, "12", "1"}, {1, "7", "7"},
    };
    for (const Typing& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << c.row << " typing \"" << c.keys << '"');
        ASSERT_NO_FATAL_FAILURE(start());
        const int beeps = BeepCount();
        type(c.row, QString::fromLatin1(c.keys));
        EXPECT_FALSE(text(c.row)->hasFocus());
        EXPECT_EQ(shown(c.row), QString::fromLatin1(c.textAfterLeaving));
        EXPECT_EQ(BeepCount(), beeps);
        EXPECT_EQ(savedNumber(c.row), FieldNumber(QString::fromLatin1(c.textAfterLeaving)));
    }
}

struct Step {
    int step;
    const char* text;
    int beeps;
};

struct Spinning {
    int row;
    const char* start;  // typed, or read from the file as BootDelay when longer than a field takes
    std::vector<Step> steps;
};

// The focus stays in the field while its arrows are clicked, so each step starts from
// the text as it stands, not from a normalised one; the last step's number is written.
// Up and Down in the field step exactly as the arrows do.
TEST_F(NumericFields, ArrowsAndArrowKeysStepFromTheTextAndBeepOnlyPastABound)
{
    const Spinning cases[] = {
        {0, "98", {{+1, "99", 0}, {+1, "99", 1}}},
        {0, "1", {{-1, "0", 0}, {-1, "0", 1}}},
        {0, "-5", {{+1, "0", 1}}},
        {0, "7x", {{+1, "8", 0}}},
        {0, ".5", {{+1, "2", 0}}},
        {0, "32767", {{+1, "99", 1}}},
        {0, "150", {{-1, "99", 1}}},
        {1, "", {{+1, "1", 0}}},
        {1, "", {{-1, "1", 1}}},
        {1, "50", {{-1, "30", 1}, {-1, "29", 0}}},
        {1, "29", {{+1, "30", 0}, {+1, "30", 1}}},
        {2, "1", {{-1, "1", 1}, {+1, "2", 0}}},
        {2, "x", {{+1, "1", 0}}},
        {2, "9", {{+1, "9", 1}}},
    };
    for (const bool byKey : {false, true}) {
        for (const Spinning& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << (byKey ? "keys" : "arrows") << ", row " << c.row << " from \"" << c.start << '"');
            const std::string start = c.start;
            if (start.size() > 2) {
                ASSERT_NO_FATAL_FAILURE(this->start("BootDelay=" + start + "\r\n"));
                ASSERT_EQ(shown(c.row), QString::fromLatin1(c.start));
                enter(c.row);
            } else {
                ASSERT_NO_FATAL_FAILURE(this->start());
                enter(c.row);
                QTest::keyClick(text(c.row), Qt::Key_Backspace);
                QTest::keyClicks(text(c.row), QString::fromLatin1(c.start));
            }
            for (const Step& step : c.steps) {
                EXPECT_EQ(press(c.row, step.step, byKey), step.beeps) << "step " << step.step;
                EXPECT_EQ(shown(c.row), QString::fromLatin1(step.text));
                EXPECT_TRUE(text(c.row)->hasFocus());
            }
            EXPECT_EQ(savedNumber(c.row), FieldNumber(QString::fromLatin1(c.steps.back().text)));
        }
    }
}

// A file value outside its row shows whole until the user visits the field: entering and
// leaving brings it in silently. A field never visited is written back as read.
TEST_F(NumericFields, AFileValueBeyondTheRowStandsUntilTheFieldIsVisited)
{
    ASSERT_NO_FATAL_FAILURE(start("BootDelay=150\r\nBootMenuDelay=0\r\nBootMenuDefault=12\r\n"));
    const int beeps = BeepCount();
    command("ExitVRNL")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(command("ExitVRNL"), Qt::Key_Tab);
    ASSERT_TRUE(text(0)->hasFocus());
    EXPECT_EQ(shown(0), QStringLiteral("150"));  // entering changes nothing
    QTest::keyClick(text(0), Qt::Key_Tab);
    EXPECT_EQ(shown(0), QStringLiteral("99"));
    QTest::keyClick(text(1), Qt::Key_Backtab);  // back, so that Text(2) is never visited
    EXPECT_EQ(shown(1), QStringLiteral("1"));
    EXPECT_EQ(shown(2), QStringLiteral("12"));
    EXPECT_EQ(BeepCount(), beeps);
    const BootOptions written = saved();
    EXPECT_EQ(written.BootDelay, 99);
    EXPECT_EQ(written.BootMenuDelay, 1);
    EXPECT_EQ(written.BootMenuDefault, 12);
}

TEST_F(NumericFields, HoldingAnArrowAtTheBoundBeepsAtEveryRepetition)
{
    ASSERT_NO_FATAL_FAILURE(start("BootDelay=99\r\n"));
    QSignalSpy steps(spin(0), &SpinButton::spinUp);
    const int beeps = BeepCount();
    QTest::mousePress(window->windowHandle(), Qt::LeftButton, {}, arrow(0, +1));
    EXPECT_TRUE(QTest::qWaitFor([&] { return steps.count() >= 3; }, 30000));
    QTest::mouseRelease(window->windowHandle(), Qt::LeftButton, {}, arrow(0, +1));
    EXPECT_EQ(BeepCount() - beeps, steps.count());
    EXPECT_EQ(shown(0), QStringLiteral("99"));
}

// A held arrow stops for good when the user is taken elsewhere: nothing steps behind a
// modal window, behind another window or in a hidden one, and the arrow comes up.
TEST_F(NumericFields, AHeldArrowStopsWhenTheWindowIsLeft)
{
    QWidget other;
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"a modal window opens",
         [this] {
             auto* dialog = new QDialog(window);
             dialog->setModal(true);
             dialog->show();
         }},
        {"another window takes the activation",
         [&other] {
             other.show();
             other.activateWindow();
             EXPECT_TRUE(QTest::qWaitForWindowActive(&other));
         }},
        {"the window is hidden", [this] { window->hide(); }},
    };
    for (const auto& [way, leave] : ways) {
        SCOPED_TRACE(way);
        ASSERT_NO_FATAL_FAILURE(start("BootDelay=0\r\n"));
        QTest::mousePress(window->windowHandle(), Qt::LeftButton, {}, arrow(0, +1));
        ASSERT_TRUE(QTest::qWaitFor([&] { return shown(0) == QStringLiteral("2"); }, 30000));
        leave();
        const QString left = shown(0);
        QTest::qWait(2 * SpinButton::RepeatStartMs);
        EXPECT_EQ(shown(0), left);
        EXPECT_FALSE(spin(0)->upArrow()->isDown());
        QTest::mouseRelease(window->windowHandle(), Qt::LeftButton, {}, arrow(0, +1));
        other.hide();
    }
}

// Switching to another window is not leaving the field: the text stays as typed until
// the user moves on inside the window.
TEST_F(NumericFields, AnotherWindowTakingTheActivationDoesNotNormalise)
{
    ASSERT_NO_FATAL_FAILURE(start());
    enter(0);
    QTest::keyClicks(text(0), QStringLiteral("-5"));

    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_EQ(shown(0), QStringLiteral("-5"));

    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    ASSERT_TRUE(text(0)->hasFocus());
    QTest::keyClick(text(0), Qt::Key_Tab);
    EXPECT_EQ(shown(0), QStringLiteral("0"));
    EXPECT_EQ(savedNumber(0), 0);
}

// Events let through during a step may rewrite the field (a change or another step queued
// before it); the option then follows that newer text, not the step's own.
TEST_F(NumericFields, AFieldRewrittenWhileAStepLetsEventsRunKeepsItsOptionInStep)
{
    ASSERT_NO_FATAL_FAILURE(start("BootDelay=10\r\n"));
    TextField* field = text(0);
    QMetaObject::invokeMethod(field, [field] { field->setText(QStringLiteral("42")); }, Qt::QueuedConnection);
    emit spin(0)->spinUp();
    EXPECT_EQ(shown(0), QStringLiteral("42"));

    SpinButton* arrows = spin(0);
    QMetaObject::invokeMethod(arrows, [arrows] { emit arrows->spinUp(); }, Qt::QueuedConnection);
    emit arrows->spinUp();
    EXPECT_EQ(shown(0), QStringLiteral("44"));
    EXPECT_EQ(savedNumber(0), 44);
}

}  // namespace
