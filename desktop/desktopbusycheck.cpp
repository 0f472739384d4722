#include "desktop/desktopbusycheck.h"

#include "desktop/desktoplog.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <shellapi.h>
#else
#include "desktop/platform.h"
#include "desktop/sessionbus.h"

#include <QtGui/qtguiglobal.h>

#if QT_CONFIG(xcb)
#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <vector>
#endif
#endif

#ifdef Q_OS_WIN

bool DesktopBusyCheck::userIsBusy() const
{
    QUERY_USER_NOTIFICATION_STATE state;
    if (FAILED(SHQueryUserNotificationState(&state)))
        return false;
    if (state != QUNS_ACCEPTS_NOTIFICATIONS)
        qCDebug(lcApp) << "the shell holds notifications back:" << int(state);
    return state != QUNS_ACCEPTS_NOTIFICATIONS;
}

#else

namespace {

#if QT_CONFIG(xcb)

template<typename Reply> using XcbReply = std::unique_ptr<Reply, decltype(&std::free)>;

// The reply to a request whose cookie is given; none on an error, such as a window that is gone.
template<typename Reply, typename Cookie>
XcbReply<Reply> replyTo(xcb_connection_t *connection, Cookie cookie,
                        Reply *(*read)(xcb_connection_t *, Cookie, xcb_generic_error_t **))
{
    xcb_generic_error_t *error = nullptr;
    Reply *reply = read(connection, cookie, &error);
    std::free(error);
    return XcbReply<Reply>(reply, &std::free);
}

// The 32-bit values of a property, at most 64 of them; none when the window lacks it.
std::vector<quint32> values(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t property)
{
    const auto reply = replyTo(
        connection, xcb_get_property(connection, false, window, property, XCB_ATOM_ANY, 0, 64),
        &xcb_get_property_reply);
    if (!reply || reply->format != 32)
        return {};
    const auto *first = static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
    return std::vector<quint32>(first, first + xcb_get_property_value_length(reply.get()) / 4);
}

bool contains(const std::vector<quint32> &atoms, xcb_atom_t atom)
{
    return atom != XCB_ATOM_NONE && std::find(atoms.begin(), atoms.end(), atom) != atoms.end();
}

bool fullScreenWindowActive()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false; // not on X11
    int screenNumber = 0;
    int displayNumber = 0;
    char *host = nullptr;
    if (xcb_parse_display(nullptr, &host, &displayNumber, &screenNumber))
        std::free(host);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (; screenNumber > 0 && screens.rem; --screenNumber)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return false;
    const xcb_window_t root = screens.data->root;

    // Asked all at once; an atom that no one has made yet means no window manager uses it.
    enum { ActiveWindow, State, FullScreen, Type, Desktop };
    const char *const names[] = {"_NET_ACTIVE_WINDOW", "_NET_WM_STATE", "_NET_WM_STATE_FULLSCREEN",
                                 "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DESKTOP"};
    xcb_intern_atom_cookie_t cookies[std::size(names)];
    for (size_t i = 0; i < std::size(names); ++i)
        cookies[i] = xcb_intern_atom(connection, true, uint16_t(qstrlen(names[i])), names[i]);
    xcb_atom_t atoms[std::size(names)];
    for (size_t i = 0; i < std::size(names); ++i) {
        const auto reply = replyTo(connection, cookies[i], &xcb_intern_atom_reply);
        atoms[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    if (atoms[ActiveWindow] == XCB_ATOM_NONE)
        return false;

    const std::vector<quint32> active = values(connection, root, atoms[ActiveWindow]);
    const xcb_window_t window = active.empty() ? xcb_window_t(XCB_WINDOW_NONE) : active.front();
    if (window == XCB_WINDOW_NONE || window == root)
        return false;
    if (contains(values(connection, window, atoms[State]), atoms[FullScreen])) {
        qCDebug(lcApp) << "the active window is full screen";
        return true;
    }
    // The desktop's own window covers the screen, and having it active means being idle.
    if (contains(values(connection, window, atoms[Type]), atoms[Desktop]))
        return false;
    const auto size =
        replyTo(connection, xcb_get_geometry(connection, window), &xcb_get_geometry_reply);
    const auto origin =
        replyTo(connection, xcb_translate_coordinates(connection, window, root, 0, 0),
                &xcb_translate_coordinates_reply);
    if (!size || !origin)
        return false;
    const int border = size->border_width;
    const QRect area(origin->dst_x - border, origin->dst_y - border, size->width + 2 * border,
                     size->height + 2 * border);
    const QList<QScreen *> screensOfQt = QGuiApplication::screens();
    const bool covers = std::any_of(screensOfQt.begin(), screensOfQt.end(), [&](QScreen *screen) {
        // In device pixels, as X has it, whatever scaling Qt applies.
        const QRect geometry = screen->geometry();
        return area.contains(
            QRect(geometry.topLeft(), geometry.size() * screen->devicePixelRatio()));
    });
    if (covers)
        qCDebug(lcApp) << "the active window covers its screen";
    return covers;
}

#else

bool fullScreenWindowActive()
{
    return false;
}

#endif

bool screenSaverActive()
{
    SessionBus bus(QDeadlineTimer(200));
    const std::optional<bool> active =
        bus.askBoolean(QStringLiteral("org.freedesktop.ScreenSaver"),
                       QStringLiteral("/org/freedesktop/ScreenSaver"),
                       QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("GetActive"));
    if (active.value_or(false))
        qCDebug(lcApp) << "the screen saver or lock is on";
    if (bus.stalled()) {
        qCDebug(lcApp) << "the session bus stalls: nothing asks it for the rest of the start";
        Platform::shunSessionBus();
    }
    return active.value_or(false);
}

} // namespace

bool DesktopBusyCheck::userIsBusy() const
{
    return fullScreenWindowActive() || screenSaverActive();
}

#endif
