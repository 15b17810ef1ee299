#include "platform/qt/ui.h"

#include "platform/qt/seams.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>
#include <xcb/xcb.h>

namespace {

int beeps = 0;

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

}  // namespace

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

PointerNow AskPointer()
{
    if (xcb_connection_t* connection = XConnection()) {
        const XcbReply reply(
            xcb_query_pointer_reply(connection, xcb_query_pointer(connection, RootWindow(connection)), nullptr), &free);
        // QCursor asks the X server too, and gives the position in the windows' own pixels.
        if (reply)
            return {bool(static_cast<xcb_query_pointer_reply_t*>(reply.get())->mask & XCB_BUTTON_MASK_1), QCursor::pos()};
    }
    return {QGuiApplication::mouseButtons().testFlag(Qt::LeftButton), std::nullopt};
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
