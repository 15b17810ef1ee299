#include "platform/ui.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QMessageBox>
#include <QScreen>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QWidget>
#include <QWindow>
#include <memory>

namespace {

MessageBoxHandler& messageBoxHandler()
{
    static MessageBoxHandler handler;
    return handler;
}

int beeps = 0;

QMessageBox::StandardButton StandardButton(MsgAnswer answer)
{
    switch (answer) {
    case MsgAnswer::Ok: return QMessageBox::Ok;
    case MsgAnswer::Yes: return QMessageBox::Yes;
    case MsgAnswer::No: return QMessageBox::No;
    case MsgAnswer::Cancel: return QMessageBox::Cancel;
    }
    return QMessageBox::NoButton;
}

QMessageBox::StandardButtons StandardButtons(MsgButtons buttons)
{
    switch (buttons) {
    case MsgButtons::Ok: return QMessageBox::Ok;
    case MsgButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case MsgButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon StandardIcon(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Exclamation: return QMessageBox::Warning;
    case MsgIcon::Question: return QMessageBox::Question;
    case MsgIcon::Information: return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

// Closing the box by its title bar counts as the escape button: Cancel where there
// is one, otherwise No, otherwise OK.
MsgAnswer Answer(int button, MsgButtons buttons)
{
    switch (button) {
    case QMessageBox::Ok: return MsgAnswer::Ok;
    case QMessageBox::Yes: return MsgAnswer::Yes;
    case QMessageBox::No: return MsgAnswer::No;
    case QMessageBox::Cancel: return MsgAnswer::Cancel;
    }
    switch (buttons) {
    case MsgButtons::Ok: return MsgAnswer::Ok;
    case MsgButtons::YesNo: return MsgAnswer::No;
    case MsgButtons::YesNoCancel: return MsgAnswer::Cancel;
    }
    return MsgAnswer::Cancel;
}

}  // namespace

MsgAnswer MsgBox(const QString& text, MsgButtons buttons, MsgIcon icon, MsgAnswer defaultButton,
                 const QString& title)
{
    if (messageBoxHandler())
        return messageBoxHandler()(MessageBoxRequest{text, title, buttons, icon, defaultButton});

    QMessageBox box(StandardIcon(icon), title, text, StandardButtons(buttons), QApplication::activeWindow());
    box.setDefaultButton(StandardButton(defaultButton));
    return Answer(box.exec(), buttons);
}

void SetMessageBoxHandler(MessageBoxHandler handler)
{
    messageBoxHandler() = std::move(handler);
}

void Beep()
{
    ++beeps;
    QApplication::beep();
}

int BeepCount()
{
    return beeps;
}

void DoEvents()
{
    QCoreApplication::processEvents();
}

bool SetWindowPos(QWidget* window, int insertAfter, int x, int y, int, int, unsigned flags)
{
    if (!window)
        return false;
    if (insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST)
        window->setWindowFlag(Qt::WindowStaysOnTopHint, insertAfter == HWND_TOPMOST);
    window->setAttribute(Qt::WA_ShowWithoutActivating, flags & SWP_NOACTIVATE);
    // The window keeps the size it was built with; x and y place its outer frame.
    window->move(x, y);
    if (flags & SWP_SHOWWINDOW)
        window->show();
    return true;
}

bool AnotherInstanceRunning()
{
    static std::unique_ptr<QLockFile> lock;
    if (lock)
        return false;
    QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (directory.isEmpty())
        directory = QDir::tempPath();
    auto candidate = std::make_unique<QLockFile>(directory + "/varnello.lock");
    candidate->setStaleLockTime(0);  // a lock left by a crashed copy is taken over
    if (candidate->tryLock(0)) {
        lock = std::move(candidate);
        return false;
    }
    // Only a lock held by a living copy stops us; an unusable runtime directory does not.
    return candidate->error() == QLockFile::LockFailedError;
}

void CenterWindow(QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    QSize outer = window->frameGeometry().size();
    // Before the first show Qt does not count the frame; ask the platform window for it,
    // or the frame would push the window off centre by half its width and height.
    if (!window->isVisible()) {
        window->winId();  // creates the platform window, which knows its frame
        if (const QWindow* handle = window->windowHandle()) {
            const QMargins frame = handle->frameMargins();
            outer = window->size().grownBy(frame);
        }
    }
    window->move(area.x() + (area.width() - outer.width()) / 2,
                 area.y() + (area.height() - outer.height()) / 2);
}

void UseClassicLook()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Windows")));
    // Windows 95's button face, the colour its windows and dialogs are drawn in.
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, QColor(192, 192, 192));
    palette.setColor(QPalette::Button, QColor(192, 192, 192));
    // Disabled controls as Windows 95 draws them: the same 3-D frame, tick and caption dark
    // grey, the caption with a white etched shadow, on the grey face.
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, QColor(128, 128, 128));
    for (QPalette::ColorRole role : {QPalette::Dark, QPalette::Shadow})
        palette.setColor(QPalette::Disabled, role, palette.color(QPalette::Active, role));
    palette.setColor(QPalette::Disabled, QPalette::Light, Qt::white);
    QApplication::setPalette(palette);
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans")});
}
