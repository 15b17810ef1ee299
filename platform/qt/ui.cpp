#include "platform/qt/ui.h"

#include "platform/qt/controls.h"
#include "platform/qt/seams.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QMessageBox>
#include <QScreen>
#include <QStyleFactory>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>
#include <xcb/xcb.h>

namespace {

MessageBoxHandler& messageBoxHandler()
{
    static MessageBoxHandler handler;
    return handler;
}

int beeps = 0;

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

using XcbReply = std::unique_ptr<void, decltype(&free)>;

xcb_atom_t Atom(xcb_connection_t* connection, const char* name)
{
    const XcbReply reply(xcb_intern_atom_reply(connection, xcb_intern_atom(connection, false, strlen(name), name),
                                               nullptr),
                         &free);
    return reply ? static_cast<xcb_intern_atom_reply_t*>(reply.get())->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The X server's connection, or null when the program does not run on X.
xcb_connection_t* XConnection()
{
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return QGuiApplication::platformName() == QLatin1String("xcb") && x11 ? x11->connection() : nullptr;
}

// Up to 1024 values of a 32-bit property, or none when it is missing or of another type.
std::vector<uint32_t> Property(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                               xcb_atom_t type)
{
    const XcbReply reply(
        xcb_get_property_reply(connection, xcb_get_property(connection, false, window, property, type, 0, 1024),
                               nullptr),
        &free);
    const auto* value = static_cast<xcb_get_property_reply_t*>(reply.get());
    if (!value || value->type != type || value->format != 32)
        return {};
    const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(value));
    return {data, data + xcb_get_property_value_length(value) / 4};
}

// The root window of the X server's first screen.
xcb_window_t RootWindow(xcb_connection_t* connection)
{
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

// Asks the window manager for request on window, with argument as its first value, the
// way EWMH asks: a client message to the root window. False, and nothing asked, when no
// window manager offers that request.
bool AskWindowManager(xcb_connection_t* connection, xcb_window_t root, xcb_window_t window, const char* request,
                      uint32_t argument = 0)
{
    const xcb_atom_t type = Atom(connection, request);
    const std::vector<uint32_t> supported =
        Property(connection, root, Atom(connection, "_NET_SUPPORTED"), XCB_ATOM_ATOM);
    if (std::find(supported.begin(), supported.end(), type) == supported.end())
        return false;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = type;
    message.data.data32[0] = argument;
    xcb_send_event(connection, false, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
    return true;
}

// The frame that will be put round a window not shown yet, learnt from a probe of the same
// kind and size that is never shown; under X the window manager answers the probe's
// _NET_REQUEST_FRAME_EXTENTS in its _NET_FRAME_EXTENTS. The window itself must stay
// uncreated, so that Qt places its frame where it is moved. Without a window manager that
// offers the request there is no frame, and nothing waits. In the window's own (logical)
// pixels, which need not be whole when the device pixel ratio is not 1.
QMarginsF FrameBeforeShow(const QWidget* window)
{
    if (window->windowFlags() & Qt::FramelessWindowHint)
        return {};
    QWindow probe;
    probe.setFlags(window->windowFlags());
    probe.resize(window->size());
    probe.setMinimumSize(window->minimumSize());  // a fixed size has no resize handles
    probe.setMaximumSize(window->maximumSize());
    probe.create();
    xcb_connection_t* connection = XConnection();
    if (!connection)
        return probe.frameMargins().toMarginsF();  // where the platform draws the frames itself
    const auto id = xcb_window_t(probe.winId());
    const XcbReply geometry(xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), nullptr), &free);
    if (!geometry)
        return {};
    const xcb_window_t root = static_cast<xcb_get_geometry_reply_t*>(geometry.get())->root;
    if (!AskWindowManager(connection, root, id, "_NET_REQUEST_FRAME_EXTENTS"))
        return {};
    const xcb_atom_t extents = Atom(connection, "_NET_FRAME_EXTENTS");
    QElapsedTimer waited;
    waited.start();
    do {
        const std::vector<uint32_t> frame = Property(connection, id, extents, XCB_ATOM_CARDINAL);
        if (frame.size() == 4)  // left, right, top, bottom, in device pixels
            return QMarginsF(frame[0], frame[2], frame[1], frame[3]) / probe.devicePixelRatio();
        QThread::msleep(2);
    } while (waited.elapsed() < 500);
    return {};
}

// True for a directory of this user's own, not a link, that nobody else may write.
bool IsPrivateDirectory(const QByteArray& path)
{
    struct stat status {};
    return lstat(path.constData(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == geteuid()
           && (status.st_mode & 022) == 0;
}

// Where the instance lock lives: a directory that only this user can write, so that no
// other user can plant a lock (or a link or a directory in its place) that would stop
// the program. $XDG_RUNTIME_DIR when it qualifies, else varnello-UID in the temporary
// directory, made with mode 0700 if missing; empty when neither qualifies.
QString PrivateLockDirectory()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && IsPrivateDirectory(runtime))
        return QFile::decodeName(runtime);
    const QByteArray own = QFile::encodeName(QDir::tempPath()) + "/varnello-" + QByteArray::number(geteuid());
    mkdir(own.constData(), 0700);  // or it exists already: checked below either way
    return IsPrivateDirectory(own) ? QFile::decodeName(own) : QString();
}

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

// The instance lock's path, or "" where there is none to obey: no private directory, or
// something at that path that is not this user's own regular file.
QString InstanceLockPath()
{
    const QString directory = PrivateLockDirectory();
    if (directory.isEmpty())
        return {};
    const QString path = directory + QStringLiteral("/varnello.lock");
    struct stat status {};
    if (lstat(QFile::encodeName(path).constData(), &status) == 0
        && !(S_ISREG(status.st_mode) && status.st_uid == geteuid()))
        return {};
    return path;
}

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

MessageAnswer ShowMessageBox(const QString& text, MessageButtons buttons, MessageIcon icon,
                             MessageAnswer defaultButton, const QString& title)
{
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

void Beep()
{
    ++beeps;
    QApplication::beep();
}

int BeepCount()
{
    return beeps;
}

void ProcessPendingEvents()
{
    // Input stays queued: running it here could deliver a mouse release before the press
    // that is being handled, and the click would be lost.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ProcessEventsUntilPainted(QWidget* window)
{
    QElapsedTimer waited;
    waited.start();
    ProcessPendingEvents();
    // A window manager maps the window in its own time; Qt paints it once it is exposed.
    while (!window->windowHandle()->isExposed() && waited.elapsed() < 1000) {
        QThread::msleep(2);
        ProcessPendingEvents();
    }
}

bool LeftButtonHeld()
{
    if (xcb_connection_t* connection = XConnection()) {
        const XcbReply reply(
            xcb_query_pointer_reply(connection, xcb_query_pointer(connection, RootWindow(connection)), nullptr), &free);
        if (reply)
            return static_cast<xcb_query_pointer_reply_t*>(reply.get())->mask & XCB_BUTTON_MASK_1;
    }
    return QGuiApplication::mouseButtons().testFlag(Qt::LeftButton);
}

void SetStaysOnTop(QWidget* window, bool onTop)
{
    // Changed on the native window in place: QWidget::setWindowFlag would destroy a shown
    // window and map a new one.
    const Qt::WindowFlags flags = window->windowFlags().setFlag(Qt::WindowStaysOnTopHint, onTop);
    window->overrideWindowFlags(flags);
    if (QWindow* handle = window->windowHandle())
        handle->setFlags(flags);
}

void RestoreWhenMinimised(QWidget* dialog)
{
    dialog->installEventFilter(new StateUndoer(dialog, Qt::WindowMinimized, false));
}

bool AnotherInstanceRunning()
{
    static std::unique_ptr<QLockFile> lock;
    if (lock)
        return false;
    const QString path = InstanceLockPath();
    if (path.isEmpty())
        return false;
    auto candidate = std::make_unique<QLockFile>(path);
    candidate->setStaleLockTime(0);  // a lock left by a crashed copy is taken over
    if (candidate->tryLock(0)) {
        lock = std::move(candidate);
        return false;
    }
    // Only a lock held by a living copy stops us; an unusable directory does not.
    return candidate->error() == QLockFile::LockFailedError;
}

qint64 RunningInstance()
{
    const QString path = InstanceLockPath();
    if (path.isEmpty())
        return 0;
    QLockFile probe(path);
    probe.setStaleLockTime(0);
    if (probe.tryLock(0)) {
        probe.unlock();
        return 0;
    }
    qint64 pid = 0;
    return probe.error() == QLockFile::LockFailedError && probe.getLockInfo(&pid, nullptr, nullptr) ? pid : 0;
}

void BringToFront(qint64 pid)
{
    xcb_connection_t* connection = XConnection();
    if (!connection)
        return;
    const xcb_window_t root = RootWindow(connection);
    // Its topmost window: a message box or the information window over the main one.
    const std::vector<uint32_t> stacking =
        Property(connection, root, Atom(connection, "_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
    const xcb_atom_t owner = Atom(connection, "_NET_WM_PID");
    const auto topmost = std::find_if(stacking.rbegin(), stacking.rend(), [&](uint32_t window) {
        return Property(connection, window, owner, XCB_ATOM_CARDINAL) == std::vector<uint32_t>{uint32_t(pid)};
    });
    if (topmost != stacking.rend())
        AskWindowManager(connection, root, *topmost, "_NET_ACTIVE_WINDOW", 2);  // 2: for the user, as a pager asks
}

void CenterWindow(QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    // Before the first show Qt knows no frame and would centre the client area alone.
    const QSizeF outer = window->isVisible() ? QSizeF(window->frameGeometry().size())
                                             : QSizeF(window->size()).grownBy(FrameBeforeShow(window));
    window->move(area.x() + int((area.width() - outer.width()) / 2),
                 area.y() + int((area.height() - outer.height()) / 2));
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
