#include "platform/qt/messagebox.h"

#include "platform/qt/seams.h"
#include "platform/qt/application.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>
#include <algorithm>
#include <utility>

namespace {

MessageBoxHandler& messageBoxHandler()
{
    static MessageBoxHandler handler;
    return handler;
}

QMessageBox::StandardButton StandardButton(MessageAnswer answer)
{
    switch (answer) {
    case MessageAnswer::Ok: return QMessageBox::Ok;
    case MessageAnswer::Yes: return QMessageBox::Yes;
    case MessageAnswer::No: return QMessageBox::No;
    case MessageAnswer::Cancel: return QMessageBox::Cancel;
    }
    return QMessageBox::NoButton;
}

QMessageBox::StandardButtons StandardButtons(MessageButtons buttons)
{
    switch (buttons) {
    case MessageButtons::Ok: return QMessageBox::Ok;
    case MessageButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case MessageButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon StandardIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Exclamation: return QMessageBox::Warning;
    case MessageIcon::Question: return QMessageBox::Question;
    case MessageIcon::Information: return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

// Closing the box by its title bar counts as the escape button: Cancel where there
// is one, otherwise No, otherwise OK.
MessageAnswer Answer(int button, MessageButtons buttons)
{
    switch (button) {
    case QMessageBox::Ok: return MessageAnswer::Ok;
    case QMessageBox::Yes: return MessageAnswer::Yes;
    case QMessageBox::No: return MessageAnswer::No;
    case QMessageBox::Cancel: return MessageAnswer::Cancel;
    }
    switch (buttons) {
    case MessageButtons::Ok: return MessageAnswer::Ok;
    case MessageButtons::YesNo: return MessageAnswer::No;
    case MessageButtons::YesNoCancel: return MessageAnswer::Cancel;
    }
    return MessageAnswer::Cancel;
}

}  // namespace

MessageAnswer ShowMessageBox(const QString& text, MessageButtons buttons, MessageIcon icon,
                             MessageAnswer defaultButton)
{
    const QString title = QStringLiteral("Varnello");
    if (messageBoxHandler())
        return messageBoxHandler()(MessageBoxRequest{text, title, buttons, icon, defaultButton});

    QMessageBox box(StandardIcon(icon), title, text, StandardButtons(buttons), QApplication::activeWindow());
    box.setDefaultButton(StandardButton(defaultButton));
    // A window manager stacks a window kept on top (the splash while the main window
    // loads) above every other: a box shown meanwhile must join it there to be seen.
    const QWidgetList windows = QApplication::topLevelWidgets();
    box.setWindowFlag(Qt::WindowStaysOnTopHint, std::any_of(windows.begin(), windows.end(), [](const QWidget* window) {
                          return window->isVisible() && window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
                      }));
    RestoreWhenMinimised(&box);
    return Answer(box.exec(), buttons);
}

void SetMessageBoxHandler(MessageBoxHandler handler)
{
    messageBoxHandler() = std::move(handler);
}
