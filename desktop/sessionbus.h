#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QString>

#include <optional>

// The desktop's session bus, spoken to over its socket by the program itself, so that one
// deadline bounds every step from connecting to the answer. Qt D-Bus and libdbus wait without a
// limit for a bus that takes the connection and then stalls, and meanwhile the start holds the
// guard.
class SessionBus
{
public:
    // Connects to the bus named as libdbus finds it: a unix path or abstract name in
    // DBUS_SESSION_BUS_ADDRESS, or else $XDG_RUNTIME_DIR/bus. Never launches a bus.
    explicit SessionBus(const QDeadlineTimer &deadline);

    // Calls a method that takes nothing and answers one boolean, without starting the service.
    // Nothing when there is no bus, no such service, an error or no answer by the deadline.
    std::optional<bool> askBoolean(const QString &service, const QString &path,
                                   const QString &interface, const QString &method);

    // Whether the bus took the connection and then gave no answer by the deadline.
    bool stalled() const { return m_stalled; }

private:
    // Reads until the input holds what isComplete wants; false at the deadline or a closed bus.
    template<typename Complete> bool readUntil(Complete isComplete);

    QDeadlineTimer deadline;
    QLocalSocket socket;
    QByteArray input;
    bool m_stalled = false;
};
