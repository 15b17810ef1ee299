// Holding an arrow must repeat at its row's delay in a real X server, where timers and
// input run as they do for the user. CTest runs this one through scripts/xvfb.sh.

#include <QCursor>
#include <QElapsedTimer>
#include <QToolButton>
#include <vector>

#include "windowfixture.h"

namespace {

struct Held {
    size_t steps = 0;
    double meanIntervalMs = 0;
};

using SpinRepeatUnderX = WindowTest;

TEST_F(SpinRepeatUnderX, HoldingAnArrowRepeatsAtTheRowsDelay)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs a real X server: scripts/xvfb.sh runs it in one";
    QCursor::setPos(0, 0);  // keep the real pointer off the window
    ASSERT_TRUE(openOptions("BootDelay=0\r\nBootMenuDefault=1\r\n"));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QTest::qWait(200);

    // A second's hold on the up arrows of rows 0 and 2.
    Held held[3];
    for (const int row : {0, 2}) {
        std::vector<qint64> times;
        QElapsedTimer clock;
        clock.start();
        const auto connection =
            QObject::connect(spin(row), &SpinButton::spinUp, [&] { times.push_back(clock.elapsed()); });
        QToolButton* up = spin(row)->upArrow();
        QTest::mousePress(up, Qt::LeftButton);
        QTest::qWait(1000);
        QTest::mouseRelease(up, Qt::LeftButton);
        QObject::disconnect(connection);
        ASSERT_GE(times.size(), 2u) << "row " << row;
        held[row] = {times.size(), double(times.back() - times.front()) / double(times.size() - 1)};
    }
    const Held& fast = held[0];
    const Held& slow = held[2];
    SCOPED_TRACE(testing::Message() << "row 0: " << fast.steps << " steps, " << fast.meanIntervalMs
                                    << " ms apart; row 2: " << slow.steps << " steps, " << slow.meanIntervalMs
                                    << " ms apart");

    // About 10 steps 100 ms apart, about 6 steps 175 ms apart. Timers run late on a busy
    // machine, never early.
    EXPECT_GE(fast.meanIntervalMs, 85);
    EXPECT_LE(fast.meanIntervalMs, 160);
    EXPECT_GE(slow.meanIntervalMs, 150);
    EXPECT_LE(slow.meanIntervalMs, 280);
    EXPECT_GT(slow.meanIntervalMs, fast.meanIntervalMs * 1.3);
    EXPECT_GE(fast.steps, 6u);
    EXPECT_GE(slow.steps, 4u);
    // Every repetition is a full step.
    EXPECT_EQ(text(0)->text(), QString::number(fast.steps));
    EXPECT_EQ(text(2)->text(), QString::number(std::min<size_t>(1 + slow.steps, 9)));
    const BootOptions written = saved();
    EXPECT_EQ(size_t(written.BootDelay), fast.steps);
    EXPECT_EQ(size_t(written.BootMenuDefault), std::min<size_t>(1 + slow.steps, 9));
}

}  // namespace
