#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <array>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

#include "app/startup.h"
#include "editor/vrnl.h"
#include "messageboxes.h"
#include "options/bootoptions.h"
#include "platform/qt/controls.h"
#include "tempdrive.h"

// Failures show QStrings as text.
static void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

// The files a kept earlier MS-DOS leaves in the root of the boot drive.
inline constexpr std::array<const char*, 3> EarlierDosFiles{"io.dos", "msdos.dos", "command.dos"};

// The check boxes as designed, written out here on their own so that a slip in the
// program's tables shows up.
struct BoxDesign {
    int index;
    const char* caption;
    bool BootOptions::*option;
};
inline const std::array<BoxDesign, 12> BoxDesigns{{
    {1, "Show Startup Menu", &BootOptions::BootMenu},
    {2, "Enable Dual Boot", &BootOptions::BootMulti},
    {3, "Enable Startup Keys (F-Keys)", &BootOptions::BootKeys},
    {4, "Load Components at Top of 640K", &BootOptions::LoadTop},
    {5, "Boot Windows 95 as Default OS", &BootOptions::BootWin},
    {6, "Boot Safe Mode Warning", &BootOptions::BootWarn},
    {7, "Load Startup Logo", &BootOptions::Logo},
    {8, "Load the Windows GUI as Default", &BootOptions::BootGUI},
    {9, "Autoload DriveSpace Driver", &BootOptions::DRVSpace},
    {10, "Autoload DoubleSpace Driver", &BootOptions::DBLSpace},
    {11, "Enable Network Support", &BootOptions::Network},
    {12, "Enable Double-Buffering", &BootOptions::DoubleBuffer},
}};

inline const QString CompressedDriveQuestion = QStringLiteral(
    "If you deselect this option, you must manually install compressed drives.\r\n\r\nDo you want to continue?");
inline const QString NoEarlierDosMessage =
    QStringLiteral("MS-DOS Version 5 or 6.x is not found.\r\nSome options are disabled and setted by default");

// A boot drive C in a temporary directory, a stand-in user at the message boxes, and
// the main window once opened (deleted at the end without the save question).
class WindowTest : public testing::Test {
protected:
    ~WindowTest() override { delete window; }

    // msdos.sys with these lines in its section "Options" (CR LF each), and the earlier
    // MS-DOS files unless told otherwise.
    void writeBootDrive(const std::string& optionLines, bool earlierDos = true)
    {
        drive.write("msdos.sys", "[Paths]\r\nWinDir=C:\\WINDOWS\r\n\r\n[Options]\r\n" + optionLines);
        if (earlierDos)
            for (const char* name : EarlierDosFiles)
                drive.write(name, "");
    }

    // Loads the main window as start-up does, without showing it.
    VRNL* open()
    {
        BootPath = QString::fromStdString(drive.dosPath());
        window = new VRNL;
        window->Load();
        return window;
    }

    // The whole start-up sequence on drive C, with an instance lock of this test's own
    // so that other copies of the program elsewhere on the machine do not interfere.
    VRNL* startUp()
    {
        setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
        window = Startup(QString());
        return window;
    }

    TempDrive drive;
    MessageBoxes boxes;
    QPointer<VRNL> window;
    QTemporaryDir runtime;
};

// Moves the pointer, no button held, to pos in the window's client coordinates, the way
// the window system delivers it: to the topmost widget there, passed on to its parents
// until one takes it.
inline void MovePointer(QWidget* window, QPoint pos)
{
    QWidget* target = window->childAt(pos);
    if (!target)
        target = window;
    const QPointF local = target->mapFrom(window, pos);
    QMouseEvent move(QEvent::MouseMove, local, target->mapToGlobal(local), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(target, &move);
}

inline QPoint CentreIn(QWidget* window, const QWidget* control)
{
    return control->mapTo(window, control->rect().center());
}

// Runs action on the modal window as soon as its event loop runs. A watchdog closes a
// modal window that the action left open, so a failing test ends instead of hanging.
inline void WhenModal(std::function<void(QWidget*)> action)
{
    QTimer::singleShot(0, qApp, [action] {
        QWidget* modal = QApplication::activeModalWidget();
        action(modal);
        if (modal)
            QTimer::singleShot(5000, modal, [modal] {
                ADD_FAILURE() << "modal window left open";
                modal->close();
            });
    });
}

// The top-left corner that centres a window of this outer size on the primary screen.
inline QPoint CentredCorner(QSize outer)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    return {screen.x() + (screen.width() - outer.width()) / 2, screen.y() + (screen.height() - outer.height()) / 2};
}
