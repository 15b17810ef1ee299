// Held spin arrows in a real X server, pressed by real input (xdotool, through XTEST), where
// timers, queued input and the button's state run as they do for the user. CTest runs these
// through scripts/xvfb.sh.

#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QToolButton>
#include <vector>

#include "windowfixture.h"

namespace {

class SpinRepeatUnderX : public WindowTest {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs a real X server: scripts/xvfb.sh runs it in one";
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "xdotool is not installed";
    }

    void start(const std::string& optionLines)
    {
        ASSERT_TRUE(openOptions(optionLines));
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    }

    // Puts the pointer on Spin(row)'s up arrow, then presses or releases the button there.
    void button(int row, const char* action) const
    {
        const QToolButton* up = spin(row)->upArrow();
        const QPoint at = up->mapToGlobal(up->rect().center());
        EXPECT_EQ(QProcess::execute(QStringLiteral("xdotool"),
                                    {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                                     QLatin1String(action), QStringLiteral("1")}),
                  0);
    }
    int shown(int row) const { return text(row)->text().toInt(); }
};

TEST_F(SpinRepeatUnderX, HoldingAnArrowRepeatsInFullSteps)
{
    ASSERT_NO_FATAL_FAILURE(start("BootDelay=0\r\nBootMenuDefault=1\r\n"));
    for (const int row : {0, 2}) {
        SCOPED_TRACE(testing::Message() << "row " << row);
        std::vector<qint64> times;
        QElapsedTimer clock;
        clock.start();
        const auto connection =
            QObject::connect(spin(row), &SpinButton::spinUp, [&] { times.push_back(clock.elapsed()); });
        button(row, "mousedown");
        EXPECT_TRUE(QTest::qWaitFor([&] { return times.size() >= 5; }, 30000));
        button(row, "mouseup");
        QTest::qWait(2 * SpinButton::RepeatStartMs);
        QObject::disconnect(connection);
        ASSERT_GE(times.size(), 5u);
        // Timers run late on a busy machine, never early: a click is over before the first
        // repetition, and the later ones keep the row's delay.
        EXPECT_GE(times[1] - times[0], SpinButton::RepeatStartMs);
        for (size_t i = 2; i < times.size(); ++i)
            EXPECT_GE(times[i] - times[i - 1], FieldPlaces[row].repeatDelayMs) << "repetition " << i;
        // Every repetition is a full step.
        EXPECT_EQ(shown(row), std::min<int>(int(times.size()) + (row == 2 ? 1 : 0), row == 2 ? 9 : 99));
    }
    const int last = shown(0);
    EXPECT_EQ(saved().BootDelay, last);
}

// Holding an arrow and opening a modal window with the keyboard (Esc asks whether to save,
// Enter opens the information window): nothing steps behind it, the arrow comes up, and
// a Yes writes the number shown when the question appeared.
TEST_F(SpinRepeatUnderX, AHeldArrowStopsWhenAWindowOpens)
{
    SetMessageBoxHandler({});  // real boxes: the hold must see a modal window
    for (const char* key : {"Return", "Escape"}) {
        SCOPED_TRACE(key);
        ASSERT_NO_FATAL_FAILURE(start("BootDelay=0\r\n"));
        button(0, "mousedown");
        ASSERT_TRUE(QTest::qWaitFor([&] { return shown(0) >= 3; }, 30000));

        int atOpening = -1, afterAWhile = -1;
        bool arrowDown = true;
        // A window opened by real input opens inside its event handler: it is answered from
        // its own event loop.
        QPointer<QWidget> answered;
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || modal == answered)
                return;
            answered = modal;
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (box && !box->button(QMessageBox::Yes)) {
                box->defaultButton()->click();  // the reminder after the save
                return;
            }
            atOpening = shown(0);
            QTest::qWait(2 * SpinButton::RepeatStartMs);
            afterAWhile = shown(0);
            arrowDown = spin(0)->upArrow()->isDown();
            button(0, "mouseup");
            if (box)
                box->button(QMessageBox::Yes)->click();
            else
                modal->findChild<QPushButton*>(QStringLiteral("ExitInfo"))->click();
        });
        watcher.start(10);
        EXPECT_EQ(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QLatin1String(key)}), 0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return atOpening >= 0 && !QApplication::activeModalWidget(); }, 30000));

        EXPECT_GE(atOpening, 3);
        EXPECT_EQ(afterAWhile, atOpening);
        EXPECT_FALSE(arrowDown);
        if (std::string(key) == "Escape") {
            EXPECT_TRUE(QTest::qWaitFor([&] { return closed(); }, 30000));
            EXPECT_EQ(ReadBootOptions(MsdosSys).BootDelay, atOpening);
        } else {
            QTest::qWait(2 * SpinButton::RepeatStartMs);
            EXPECT_EQ(shown(0), atOpening);
            EXPECT_FALSE(spin(0)->upArrow()->isDown());
        }
    }
}

}  // namespace
