// Holding an arrow must repeat in a real X server, where timers and input run as they do
// for the user. CTest runs this one through scripts/xvfb.sh. Each row's delay is its
// arrows' own setting (mainwindow_test.cpp); how fast a busy machine runs it is no test.

#include <QCursor>
#include <QToolButton>

#include "windowfixture.h"

namespace {

using SpinRepeatUnderX = WindowTest;

TEST_F(SpinRepeatUnderX, HoldingAnArrowRepeatsInFullSteps)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs a real X server: scripts/xvfb.sh runs it in one";
    QCursor::setPos(0, 0);  // keep the real pointer off the window
    ASSERT_TRUE(openOptions("BootDelay=0\r\nBootMenuDefault=1\r\n"));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));

    // The up arrows of rows 0 and 2 held for the press and two repetitions.
    size_t steps[3] = {};
    for (const int row : {0, 2}) {
        const auto connection = QObject::connect(spin(row), &SpinButton::spinUp, [&, row] { ++steps[row]; });
        QToolButton* up = spin(row)->upArrow();
        QTest::mousePress(up, Qt::LeftButton);
        const bool repeated = QTest::qWaitFor([&] { return steps[row] >= 3; }, 30000);  // only against a hang
        QTest::mouseRelease(up, Qt::LeftButton);
        QObject::disconnect(connection);
        ASSERT_TRUE(repeated) << "row " << row << ": " << steps[row] << " steps";
    }
    // Every repetition is a full step.
    EXPECT_EQ(text(0)->text(), QString::number(steps[0]));
    EXPECT_EQ(text(2)->text(), QString::number(1 + steps[2]));
    const BootOptions written = saved();
    EXPECT_EQ(size_t(written.BootDelay), steps[0]);
    EXPECT_EQ(size_t(written.BootMenuDefault), 1 + steps[2]);
}

}  // namespace
