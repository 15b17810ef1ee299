#include <QCoreApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QThread>
#include <QToolButton>
#include <gtest/gtest.h>
#include <map>
#include <vector>

#include "app/startup.h"
#include "editor/vrnl.h"
#include "messageboxes.h"
#include "platform/qt/controls.h"
#include "tempdrive.h"

// Holding an arrow must repeat at its row's delay in a real X server, where timers and
// input run as they do for the user. The test runs its own Xvfb and a child copy of this
// binary on it; the child holds the arrows and reports what it saw.

namespace {

const char* const ReportVariable = "VARNELLO_SPIN_REPEAT_REPORT";
const char* const TestName = "SpinRepeatUnderX.HoldingAnArrowRepeatsAtTheRowsDelay";

struct Held {
    int steps = 0;
    double meanIntervalMs = 0;
    int value = 0;
};

// In the child: hold the up arrows of rows 0 and 2 for a second each.
void HoldArrows(const QString& reportPath)
{
    TempDrive drive;
    drive.write("msdos.sys", "[Options]\r\nBootDelay=0\r\nBootMenuDefault=1\r\n");
    for (const char* name : {"io.dos", "msdos.dos", "command.dos"})
        drive.write(name, "");
    BootPath = QString::fromStdString(drive.dosPath());
    MessageBoxes boxes;

    QCursor::setPos(0, 0);  // keep the real pointer off the window
    VRNL* window = new VRNL;
    window->Load();
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QTest::qWait(200);

    QFile report(reportPath);
    ASSERT_TRUE(report.open(QIODevice::WriteOnly | QIODevice::Text));
    QTextStream out(&report);
    for (int row : {0, 2}) {
        std::vector<qint64> times;
        QElapsedTimer clock;
        clock.start();
        const auto connection = QObject::connect(window->Spin[row], &SpinButton::spinUp,
                                                 [&] { times.push_back(clock.elapsed()); });
        QToolButton* up = window->Spin[row]->upArrow();
        QTest::mousePress(up, Qt::LeftButton);
        QTest::qWait(1000);
        QTest::mouseRelease(up, Qt::LeftButton);
        QObject::disconnect(connection);
        ASSERT_GE(times.size(), 2u) << "row " << row;
        const double mean = double(times.back() - times.front()) / double(times.size() - 1);
        out << row << ' ' << times.size() << ' ' << mean << ' ' << window->Options.*NumericRows[row].number << '\n';
    }
    delete window;
}

// An Xvfb of our own on the first display number nobody holds.
class XServer {
public:
    ~XServer()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    bool start(const QString& program)
    {
        // Each process starts its search elsewhere, so that parallel tests rarely race.
        const int first = int(QCoreApplication::applicationPid() % 51);
        for (int tried = 0; tried < 51; ++tried) {
            const int number = 90 + (first + tried) % 51;
            if (QFile::exists(lockPath(number)) || QFile::exists(socketPath(number)))
                continue;
            if (startOn(program, number)) {
                display_ = number;
                return true;
            }
        }
        return false;
    }

    QString display() const { return QStringLiteral(":%1").arg(display_); }

private:
    static QString lockPath(int number) { return QStringLiteral("/tmp/.X%1-lock").arg(number); }
    static QString socketPath(int number) { return QStringLiteral("/tmp/.X11-unix/X%1").arg(number); }

    // True once the display's socket is up and its lock names our process: another test
    // racing for the same number makes one of the two servers give up.
    bool startOn(const QString& program, int number)
    {
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start(program, {QStringLiteral(":%1").arg(number), QStringLiteral("-screen"), QStringLiteral("0"),
                                 QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!process_.waitForStarted(5000))
            return false;
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 10000) {
            if (process_.state() == QProcess::NotRunning)
                return false;
            if (QFile::exists(socketPath(number)) && lockOwner(number) == process_.processId())
                return true;
            QThread::msleep(50);
        }
        process_.kill();
        process_.waitForFinished(5000);
        return false;
    }

    static qint64 lockOwner(int number)
    {
        QFile lock(lockPath(number));
        if (!lock.open(QIODevice::ReadOnly))
            return -1;
        bool ok = false;
        const qint64 pid = lock.readAll().trimmed().toLongLong(&ok);
        return ok ? pid : -1;
    }

    QProcess process_;
    int display_ = -1;
};

TEST(SpinRepeatUnderX, HoldingAnArrowRepeatsAtTheRowsDelay)
{
    if (qEnvironmentVariableIsSet(ReportVariable)) {
        HoldArrows(qEnvironmentVariable(ReportVariable));
        return;
    }

    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        GTEST_SKIP() << "Xvfb is not installed";
    XServer server;
    ASSERT_TRUE(server.start(xvfb)) << "no display number in :90..:140 could be started";

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString reportPath = dir.filePath(QStringLiteral("held.txt"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DISPLAY"), server.display());
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QString::fromLatin1(ReportVariable), reportPath);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=") + QString::fromLatin1(TestName)});
    ASSERT_TRUE(child.waitForStarted(10000));
    const bool finished = child.waitForFinished(60000);
    if (!finished)
        child.kill();
    const QString output = QString::fromLocal8Bit(child.readAll());
    ASSERT_TRUE(finished) << output.toStdString();
    ASSERT_EQ(child.exitStatus(), QProcess::NormalExit) << output.toStdString();
    ASSERT_EQ(child.exitCode(), 0) << output.toStdString();

    QFile report(reportPath);
    ASSERT_TRUE(report.open(QIODevice::ReadOnly | QIODevice::Text)) << output.toStdString();
    const QString reported = QString::fromLatin1(report.readAll());
    std::map<int, Held> held;
    for (const QString& line : reported.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(QLatin1Char(' '));
        if (fields.size() == 4)
            held[fields[0].toInt()] = {fields[1].toInt(), fields[2].toDouble(), fields[3].toInt()};
    }
    ASSERT_EQ(held.size(), 2u) << reported.toStdString() << output.toStdString();
    const Held& fast = held[0];
    const Held& slow = held[2];
    SCOPED_TRACE(testing::Message() << "row 0: " << fast.steps << " steps, " << fast.meanIntervalMs
                                    << " ms apart; row 2: " << slow.steps << " steps, " << slow.meanIntervalMs
                                    << " ms apart");

    // A second's hold: about 10 steps 100 ms apart, about 6 steps 175 ms apart. Timers
    // run late on a busy machine, never early.
    EXPECT_GE(fast.meanIntervalMs, 85);
    EXPECT_LE(fast.meanIntervalMs, 160);
    EXPECT_GE(slow.meanIntervalMs, 150);
    EXPECT_LE(slow.meanIntervalMs, 280);
    EXPECT_GT(slow.meanIntervalMs, fast.meanIntervalMs * 1.3);
    EXPECT_GE(fast.steps, 6);
    EXPECT_GE(slow.steps, 4);
    // Every repetition is a full step.
    EXPECT_EQ(fast.value, fast.steps);
    EXPECT_EQ(slow.value, std::min(1 + slow.steps, 9));
}

}  // namespace
