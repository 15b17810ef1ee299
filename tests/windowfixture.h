#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

#include "app/startup.h"
#include "editor/vrnl.h"
#include "dosattributes.h"
#include "messageboxes.h"
#include "options/loading.h"
#include "options/saving.h"
#include "platform/drive/directory/atomicreplace.h"
#include "platform/files/files.h"
#include "platform/qt/controls.h"
#include "platform/qt/instancelock.h"
#include "platform/qt/seams.h"
#include "tempdrive.h"

// Failures show QStrings as text.
static void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline const char* const MsdosSys = "C:\\msdos.sys";

inline const std::string Paths =
    "[Paths]\r\nWinDir=C:\\WINDOWS\r\nWinBootDir=C:\\WINDOWS\r\nHostWinBootDrv=C\r\n\r\n";

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

// A boot drive C with an earlier MS-DOS, a stand-in user at the message boxes, and the
// program started on it as from the command line. Tests find the controls by name, work
// them as a user does, and look at msdos.sys and the message boxes. Injected faults end
// with the test.
class WindowTest : public testing::Test {
protected:
    WindowTest()
    {
        // The instance lock of this test's own, taken now, so that later start-ups (as
        // another user too) and other copies of the program on the machine never meet.
        // Its directory outlives the lock, which goes at the process's end.
        static QTemporaryDir runtime;
        setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
        EXPECT_FALSE(AnotherInstanceRunning());
        for (const char* name : EarlierDosFiles)
            drive.write(name, "");
    }
    ~WindowTest() override
    {
        FailAtomicStepForTesting(FileStep::None);
        FailAttributeChangeForTesting(0);
        BeforeReplaceForTesting({});
        delete window.data();
    }

    // Writes msdos.sys with these bytes and attributes and starts the program with this
    // argument; the window is null when start-up refused.
    VRNL* open(const std::string& bytes, uint32_t attributes = BootFileAttributes, const QString& argument = {})
    {
        delete window.data();
        if (FileExists(MsdosSys))
            SetFileAttributesA(MsdosSys, 0);
        drive.write("msdos.sys", bytes);
        EXPECT_TRUE(SetFileAttributesA(MsdosSys, attributes));
        window = Startup(argument);
        return window;
    }
    // msdos.sys with these lines (CR LF each) in its section "Options".
    VRNL* openOptions(const std::string& optionLines) { return open(Paths + "[Options]\r\n" + optionLines); }

    template <class Control = QWidget>
    Control* find(const QString& name) const
    {
        auto* control = window ? window->findChild<Control*>(name) : nullptr;
        EXPECT_TRUE(control) << name.toStdString();
        return control;
    }
    CheckBox* check(int index) const { return find<CheckBox>(QStringLiteral("Check(%1)").arg(index)); }
    TextField* text(int index) const { return find<TextField>(QStringLiteral("Text(%1)").arg(index)); }
    SpinButton* spin(int index) const { return find<SpinButton>(QStringLiteral("Spin(%1)").arg(index)); }
    SSCommand* command(const char* name) const { return find<SSCommand>(QLatin1String(name)); }

    // A click on the box's tick, as the user toggles it.
    void toggle(int index) const
    {
        QCheckBox* box = check(index);
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    }
    void click(const char* commandName) const { QTest::mouseClick(command(commandName), Qt::LeftButton); }
    // Puts the focus in a field the way Tab does, which selects its text.
    void enter(int row) const
    {
        command("ExitVRNL")->setFocus(Qt::TabFocusReason);
        text(row)->setFocus(Qt::TabFocusReason);
        EXPECT_TRUE(text(row)->hasFocus());
    }
    // Replaces a field's text by typing, and leaves the field for the next control.
    void type(int row, const QString& keys) const
    {
        enter(row);
        QTest::keyClicks(text(row), keys);
        QTest::keyClick(text(row), Qt::Key_Tab);
    }

    // Each box shows its option of these, by design; the fields Text(0..2) these texts.
    void expectShown(const BootOptions& options, const std::array<const char*, 3>& texts) const
    {
        for (const BoxDesign& box : BoxDesigns)
            EXPECT_EQ(check(box.index)->checkState(), options.*box.option ? Qt::Checked : Qt::Unchecked)
                << "Check(" << box.index << ")";
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(text(i)->text(), texts[i]) << "Text(" << i << ")";
    }

    // True once the window has closed and is gone.
    bool closed()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return window.isNull();
    }
    // Leaves by Exit, answering Yes, and reads back what the window wrote.
    BootOptions saved()
    {
        boxes.answer(MessageAnswer::Yes);
        click("ExitVRNL");
        EXPECT_TRUE(closed());
        return ReadBootOptions(MsdosSys);
    }

    std::string file() const { return drive.read("msdos.sys"); }
    uint32_t attributes() const { return AttributesOf(MsdosSys); }

    TempDrive drive;
    MessageBoxes boxes;
    QPointer<VRNL> window;
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
