#include "desktop/sessionbus.h"

#include "desktop/desktoplog.h"

#include <QFile>
#include <QtEndian>

#include <unistd.h>

namespace {

// The wire format, in the bus's own terms: message types, header fields, flags.
enum : char { MethodCall = 1, MethodReturn = 2, Error = 3 };
enum : char {
    PathField = 1,
    InterfaceField = 2,
    MemberField = 3,
    ReplySerialField = 5,
    DestinationField = 6,
    SignatureField = 8
};
constexpr char NoAutoStart = 0x2;
constexpr quint32 HelloSerial = 1;
constexpr quint32 QuestionSerial = 2;
// No header or answer the program waits for comes near this.
constexpr qsizetype MaxMessageBytes = 64 * 1024;

qsizetype aligned(qsizetype offset, int alignment)
{
    return (offset + alignment - 1) / alignment * alignment;
}

void pad(QByteArray &message, int alignment)
{
    message.append(aligned(message.size(), alignment) - message.size(), '\0');
}

void appendField(QByteArray &message, char code, char type, const QString &value)
{
    pad(message, 8);
    message.append(code).append('\1').append(type).append('\0');
    const QByteArray text = value.toUtf8();
    pad(message, 4);
    const quint32 length = qToLittleEndian(quint32(text.size()));
    message.append(reinterpret_cast<const char *>(&length), 4).append(text).append('\0');
}

QByteArray methodCall(quint32 serial, char flags, const QString &service, const QString &path,
                      const QString &interface, const QString &method)
{
    QByteArray message("l");
    message.append(MethodCall).append(flags).append('\1');
    const quint32 fixed[] = {0, qToLittleEndian(serial), 0}; // no body; fields' length below
    message.append(reinterpret_cast<const char *>(fixed), sizeof fixed);
    appendField(message, PathField, 'o', path);
    appendField(message, InterfaceField, 's', interface);
    appendField(message, MemberField, 's', method);
    appendField(message, DestinationField, 's', service);
    qToLittleEndian(quint32(message.size() - 16), message.data() + 12);
    pad(message, 8);
    return message;
}

// Reads the message at the front of the input, in the byte order it names.
class Message
{
public:
    explicit Message(const QByteArray &input) : bytes(input), little(input.startsWith('l')) { }

    // The whole message's size once its fixed header is in; 0 before, -1 when it is none.
    qsizetype size() const
    {
        if (bytes.size() < 16)
            return 0;
        if (!bytes.startsWith('l') && !bytes.startsWith('B'))
            return -1;
        const qsizetype size = bodyStart() + number(4);
        return size > MaxMessageBytes ? -1 : size;
    }

    char type() const { return byteAt(1); }

    // The boolean this message answers to serial with; nothing for any other message.
    std::optional<bool> answerTo(quint32 serial) const
    {
        quint32 replySerial = 0;
        QByteArray signature;
        const qsizetype end = 16 + number(12);
        for (qsizetype at = 16; at < end;) {
            at = aligned(at, 8);
            const char code = byteAt(at);
            const QByteArray type = bytes.mid(at + 2, byteAt(at + 1));
            at += 3 + type.size();
            if (type == "u") {
                at = aligned(at, 4);
                if (code == ReplySerialField)
                    replySerial = quint32(number(at));
                at += 4;
            } else if (type == "g") {
                if (code == SignatureField)
                    signature = bytes.mid(at + 1, byteAt(at));
                at += 2 + quint8(byteAt(at));
            } else if (type == "s" || type == "o") {
                at = aligned(at, 4);
                at += 4 + number(at) + 1;
            } else {
                return std::nullopt; // no other kind is used in a header
            }
        }
        if (replySerial != serial || type() != MethodReturn || signature != "b")
            return std::nullopt;
        return number(bodyStart()) != 0;
    }

private:
    qsizetype bodyStart() const { return aligned(16 + number(12), 8); }
    char byteAt(qsizetype offset) const { return offset < bytes.size() ? bytes.at(offset) : 0; }

    // The unsigned 32-bit number at offset, widened so that sums of lengths never wrap; 0 past
    // the end.
    qsizetype number(qsizetype offset) const
    {
        if (offset < 0 || offset + 4 > bytes.size())
            return 0;
        const char *at = bytes.constData() + offset;
        return little ? qFromLittleEndian<quint32>(at) : qFromBigEndian<quint32>(at);
    }

    const QByteArray &bytes;
    const bool little;
};

// The bus's socket, found as libdbus finds it.
QString busSocket(QLocalSocket &socket)
{
    const QByteArray addresses = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    for (const QByteArray &address : addresses.split(';')) {
        if (!address.startsWith("unix:"))
            continue;
        for (const QByteArray &pair : address.mid(5).split(',')) {
            const QByteArray key = pair.left(pair.indexOf('='));
            if (key != "path" && key != "abstract")
                continue;
            if (key == "abstract")
                socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
            return QFile::decodeName(QByteArray::fromPercentEncoding(pair.mid(key.size() + 1)));
        }
    }
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (addresses.isEmpty() && !runtime.isEmpty())
        return runtime + QStringLiteral("/bus");
    return QString();
}

} // namespace

SessionBus::SessionBus(const QDeadlineTimer &deadline) : deadline(deadline)
{
    const QString name = busSocket(socket);
    if (name.isEmpty())
        return;
    socket.connectToServer(name);
    socket.waitForConnected(int(deadline.remainingTime()));
    m_stalled = socket.state() == QLocalSocket::ConnectingState;
}

template<typename Complete> bool SessionBus::readUntil(Complete isComplete)
{
    // The deadline holds for a bus that floods as for one that is silent.
    for (;;) {
        if (deadline.hasExpired()) {
            m_stalled = true;
            return false;
        }
        if (isComplete())
            return true;
        if (input.size() > MaxMessageBytes || socket.state() != QLocalSocket::ConnectedState)
            return false;
        if (!socket.waitForReadyRead(int(deadline.remainingTime())))
            continue; // the deadline, or a closed bus
        input += socket.readAll();
    }
}

std::optional<bool> SessionBus::askBoolean(const QString &service, const QString &path,
                                           const QString &interface, const QString &method)
{
    if (socket.state() != QLocalSocket::ConnectedState)
        return std::nullopt;
    const QByteArray uid = QByteArray::number(::getuid()).toHex();
    socket.write(QByteArray(1, '\0') + "AUTH EXTERNAL " + uid + "\r\n");
    if (!readUntil([this] { return input.contains("\r\n"); }) || !input.startsWith("OK ")) {
        qCDebug(lcApp) << "the session bus did not let the program in:" << input.left(64);
        return std::nullopt;
    }
    input.clear();
    // The bus answers nothing before the greeting it requires of every client.
    const QString bus = QStringLiteral("org.freedesktop.DBus");
    socket.write("BEGIN\r\n" +
                 methodCall(HelloSerial, 0, bus, QStringLiteral("/org/freedesktop/DBus"), bus,
                            QStringLiteral("Hello")) +
                 methodCall(QuestionSerial, NoAutoStart, service, path, interface, method));
    for (;;) {
        qsizetype size = 0;
        if (!readUntil([&] {
                size = Message(input).size();
                return size < 0 || (size > 0 && input.size() >= size);
            }) ||
            size < 0) {
            qCDebug(lcApp) << "no answer from the session bus in time:" << method;
            return std::nullopt;
        }
        const Message message(input);
        if (message.type() == Error) {
            qCDebug(lcApp) << "the session bus answered with an error:" << method;
            return std::nullopt;
        }
        if (const std::optional<bool> answer = message.answerTo(QuestionSerial))
            return answer;
        input.remove(0, size);
    }
}
