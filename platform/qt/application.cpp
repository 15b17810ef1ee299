#include "platform/qt/application.h"

#include "platform/qt/controls.h"

#include <QApplication>
#include <QStyleFactory>
#include <QWidget>
#include <cerrno>
#include <cstdio>
#include <unistd.h>
#include <utility>

namespace {

[[noreturn]] void NoDisplay(const QString& why)
{
    fprintf(stderr, "%s: %s\n", program_invocation_short_name, qPrintable(why));
    _exit(1);
}

// Qt's messages while it connects to the display: held back, since a failure to connect
// is told in one line of our own instead of Qt's abort.
QStringList heldMessages;

void HoldMessageOrFail(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtFatalMsg) {
        heldMessages.append(qFormatLogMessage(type, context, message));
        return;
    }
    QStringList tried;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
        if (!qEnvironmentVariableIsEmpty(name))
            tried.append(QStringLiteral("%1=%2").arg(QLatin1String(name), qEnvironmentVariable(name)));
    tried.append(QStringLiteral("Qt platform \"%1\"").arg(qEnvironmentVariable("QT_QPA_PLATFORM")));
    const bool noWaylandPlatform = heldMessages.join(QLatin1Char('\n')).contains(
        QLatin1String("Could not find the Qt platform plugin \"wayland\""));
    NoDisplay(QStringLiteral("cannot open the graphical display (%1)").arg(tried.join(QStringLiteral(", ")))
              + (noWaylandPlatform ? QStringLiteral("; Qt's Wayland platform is in the package qt6-wayland")
                                   : QString()));
}

// Takes back the window states it is given as soon as a window enters one of them: a
// modal window minimised would leave the program unreachable, and Qt's own title bar on
// Wayland offers to maximise a window of fixed size. Undone after the event, since Qt is
// still taking the change in while it runs.
class StateUndoer : public QObject {
public:
    StateUndoer(QObject* parent, Qt::WindowStates unwanted, bool fixedSizeOnly)
        : QObject(parent), unwanted_(unwanted), fixedSizeOnly_(fixedSizeOnly)
    {
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        auto* window = qobject_cast<QWidget*>(object);
        if (event->type() != QEvent::WindowStateChange || !window || !window->isWindow()
            || !(window->windowState() & unwanted_))
            return false;
        if (fixedSizeOnly_ && window->minimumSize() != window->maximumSize())
            return false;
        QMetaObject::invokeMethod(
            window, [window, unwanted = unwanted_] { window->setWindowState(window->windowState() & ~unwanted); },
            Qt::QueuedConnection);
        return false;
    }

private:
    Qt::WindowStates unwanted_;
    bool fixedSizeOnly_;
};

}  // namespace

std::unique_ptr<QApplication> OpenApplication(int& argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
        const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
        if (!x11 && !wayland)
            NoDisplay(QStringLiteral("no graphical display (neither DISPLAY nor WAYLAND_DISPLAY is set)"));
        // X11 first, through XWayland in a Wayland session: Wayland lets no window centre
        // itself or stay above the others. Wayland natively when it is all there is.
        qputenv("QT_QPA_PLATFORM", x11 && wayland ? "xcb;wayland" : x11 ? "xcb" : "wayland");
    }
    const QtMessageHandler previous = qInstallMessageHandler(HoldMessageOrFail);
    auto application = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    for (const QString& message : std::exchange(heldMessages, {}))
        fprintf(stderr, "%s\n", qPrintable(message));
    QApplication::setApplicationName(QStringLiteral("Varnello"));
    SetUpApplication();
    return application;
}

void RestoreWhenMinimised(QWidget* dialog)
{
    dialog->installEventFilter(new StateUndoer(dialog, Qt::WindowMinimized, false));
}

void SetUpApplication()
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
    // Message boxes in the family of the window beside them, not the desktop's.
    QApplication::setFont(DesignFont("MS Sans Serif", 8.25));
    InstallControlAccessibility();
    qApp->installEventFilter(new StateUndoer(qApp, Qt::WindowMaximized | Qt::WindowFullScreen, true));
}
