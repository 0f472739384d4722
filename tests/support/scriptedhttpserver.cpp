#include "scriptedhttpserver.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace {

// Set on a connection while one of its requests is being answered; later requests wait.
const char BusyProperty[] = "scriptedHttpBusy";
// A request head this large without its end is garbage, not a request still arriving.
constexpr qsizetype MaxHeadSize = 64 * 1024;
// An endless body skips a chunk while this much is still unsent, so a client that stops reading
// does not make the server's memory grow without bound.
constexpr qint64 MaxEndlessBacklog = 1024 * 1024;
constexpr int DefaultEndlessPieceSize = 1024;

enum class Intake { Incomplete, Complete, Malformed };

const QByteArray *findHeader(const HttpHeaders &headers, const QByteArray &name)
{
    for (const auto &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return &header.second;
    }
    return nullptr;
}

QByteArray headerValue(const HttpHeaders &headers, const QByteArray &name)
{
    const QByteArray *value = findHeader(headers, name);
    return value ? *value : QByteArray();
}

bool hasHeader(const HttpHeaders &headers, const QByteArray &name)
{
    return findHeader(headers, name) != nullptr;
}

QByteArray reasonPhrase(int status)
{
    static const QMap<int, QByteArray> phrases = {
        {200, "OK"},
        {201, "Created"},
        {204, "No Content"},
        {301, "Moved Permanently"},
        {302, "Found"},
        {303, "See Other"},
        {304, "Not Modified"},
        {307, "Temporary Redirect"},
        {308, "Permanent Redirect"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {408, "Request Timeout"},
        {429, "Too Many Requests"},
        {500, "Internal Server Error"},
        {501, "Not Implemented"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
    };
    return phrases.value(status, "Unknown");
}

// Takes one whole request off the front of the connection's input. Request bodies must come
// with a Content-Length; a chunked one counts as malformed.
Intake takeRequest(QTcpSocket *socket, RecordedRequest *request, bool *keepAlive)
{
    const QByteArray input = socket->peek(socket->bytesAvailable());
    const qsizetype headEnd = input.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return input.size() > MaxHeadSize ? Intake::Malformed : Intake::Incomplete;

    QList<QByteArray> lines = input.left(headEnd).split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    const QList<QByteArray> requestLine = lines.takeFirst().split(' ');
    if (requestLine.size() != 3 || requestLine[0].isEmpty() || !requestLine[1].startsWith('/') ||
        !requestLine[2].startsWith("HTTP/1."))
        return Intake::Malformed;

    HttpHeaders headers;
    for (const QByteArray &line : std::as_const(lines)) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return Intake::Malformed;
        headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    if (hasHeader(headers, "Transfer-Encoding"))
        return Intake::Malformed;
    qsizetype bodySize = 0;
    if (hasHeader(headers, "Content-Length")) {
        bool valid = false;
        bodySize = headerValue(headers, "Content-Length").toLongLong(&valid);
        if (!valid || bodySize < 0)
            return Intake::Malformed;
    }
    const qsizetype headSize = headEnd + 4;
    if (input.size() - headSize < bodySize)
        return Intake::Incomplete;

    socket->skip(headSize);
    const QByteArray &target = requestLine[1];
    const qsizetype queryStart = target.indexOf('?');
    request->method = requestLine[0];
    request->path = QUrl::fromPercentEncoding(queryStart < 0 ? target : target.left(queryStart));
    request->query = queryStart < 0 ? QString() : QString::fromUtf8(target.mid(queryStart + 1));
    request->headers = headers;
    request->body = socket->read(bodySize);

    const QByteArray connection = headerValue(headers, "Connection").toLower();
    *keepAlive = requestLine[2] == "HTTP/1.0" ? connection.contains("keep-alive")
                                              : !connection.contains("close");
    return Intake::Complete;
}

bool connected(const QTcpSocket *socket)
{
    return socket->state() == QAbstractSocket::ConnectedState;
}

} // namespace

ScriptedReply ScriptedReply::json(const QByteArray &body, int status)
{
    ScriptedReply reply;
    reply.status = status;
    reply.headers = {{"Content-Type", "application/json"}};
    reply.body = body;
    return reply;
}

ScriptedReply ScriptedReply::redirect(int status, const QByteArray &location)
{
    ScriptedReply reply;
    reply.status = status;
    reply.headers = {{"Location", location}};
    return reply;
}

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    return headerValue(headers, name);
}

ScriptedHttpServer::ScriptedHttpServer(QObject *parent)
    : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &ScriptedHttpServer::onNewConnection);
}

ScriptedHttpServer::~ScriptedHttpServer() = default;

bool ScriptedHttpServer::listen(quint16 port)
{
    return m_server->listen(QHostAddress::LocalHost, port);
}

quint16 ScriptedHttpServer::port() const
{
    return m_server->serverPort();
}

QString ScriptedHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void ScriptedHttpServer::setReply(const QString &path, const ScriptedReply &reply)
{
    m_replies.insert(path, reply);
}

void ScriptedHttpServer::setHandler(Handler handler)
{
    m_handler = std::move(handler);
}

void ScriptedHttpServer::clear()
{
    m_replies.clear();
    m_handler = nullptr;
    m_requests.clear();
}

QList<RecordedRequest> ScriptedHttpServer::requests() const
{
    return m_requests;
}

QList<RecordedRequest> ScriptedHttpServer::requestsTo(const QString &path) const
{
    QList<RecordedRequest> matching;
    for (const RecordedRequest &request : m_requests) {
        if (request.path == path)
            matching.append(request);
    }
    return matching;
}

void ScriptedHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        // Timers that feed a socket are its children or use it as context, so they die with it.
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serveInput(socket); });
    }
}

void ScriptedHttpServer::serveInput(QTcpSocket *socket)
{
    if (socket->property(BusyProperty).toBool())
        return;
    RecordedRequest request;
    bool keepAlive = true;
    const Intake intake = takeRequest(socket, &request, &keepAlive);
    if (intake == Intake::Incomplete)
        return;
    socket->setProperty(BusyProperty, true);
    if (intake == Intake::Malformed) {
        ScriptedReply badRequest;
        badRequest.status = 400;
        send(socket, badRequest, false);
        return;
    }
    m_requests.append(request);
    emit requestReceived(request);
    answer(socket, replyFor(request), keepAlive);
}

ScriptedReply ScriptedHttpServer::replyFor(const RecordedRequest &request) const
{
    const auto scripted = m_replies.constFind(request.path);
    if (scripted != m_replies.constEnd())
        return *scripted;
    if (m_handler)
        return m_handler(request);
    ScriptedReply notFound;
    notFound.status = 404;
    return notFound;
}

void ScriptedHttpServer::answer(QTcpSocket *socket, const ScriptedReply &reply, bool keepAlive)
{
    if (reply.silent)
        return;
    if (reply.delayMs > 0) {
        QTimer::singleShot(reply.delayMs, socket,
                           [this, socket, reply, keepAlive] { send(socket, reply, keepAlive); });
        return;
    }
    send(socket, reply, keepAlive);
}

void ScriptedHttpServer::send(QTcpSocket *socket, const ScriptedReply &reply, bool keepAlive)
{
    if (!connected(socket))
        return;
    if (!reply.raw.isEmpty()) {
        socket->write(reply.raw);
        socket->disconnectFromHost();
        return;
    }

    const bool replyCloses =
        headerValue(reply.headers, "Connection").compare("close", Qt::CaseInsensitive) == 0;
    keepAlive = keepAlive && !replyCloses;
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    for (const auto &header : reply.headers)
        head += header.first + ": " + header.second + "\r\n";
    if (reply.endless)
        head += "Transfer-Encoding: chunked\r\n";
    else if (!hasHeader(reply.headers, "Content-Length"))
        head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    if (!keepAlive && !replyCloses)
        head += "Connection: close\r\n";
    head += "\r\n";
    socket->write(head);

    if (reply.endless) {
        sendEndless(socket, reply.pieceSize, reply.pieceIntervalMs);
    } else if (reply.pieceSize > 0 && reply.body.size() > reply.pieceSize) {
        sendPieces(socket, reply.body, reply.pieceSize, reply.pieceIntervalMs, keepAlive);
    } else {
        socket->write(reply.body);
        finishAnswer(socket, keepAlive);
    }
}

void ScriptedHttpServer::sendPieces(QTcpSocket *socket, const QByteArray &body, int pieceSize,
                                    int intervalMs, bool keepAlive)
{
    socket->write(body.left(pieceSize));
    auto *timer = new QTimer(socket);
    connect(
        timer, &QTimer::timeout, socket,
        [this, socket, timer, body, pieceSize, keepAlive, sent = qsizetype(pieceSize)]() mutable {
            if (!connected(socket))
                return;
            socket->write(body.mid(sent, pieceSize));
            sent += pieceSize;
            if (sent < body.size())
                return;
            timer->deleteLater();
            finishAnswer(socket, keepAlive);
        });
    timer->start(intervalMs);
}

void ScriptedHttpServer::sendEndless(QTcpSocket *socket, int pieceSize, int intervalMs)
{
    const int size = pieceSize > 0 ? pieceSize : DefaultEndlessPieceSize;
    const QByteArray chunk = QByteArray::number(size, 16) + "\r\n" + QByteArray(size, 'x') + "\r\n";
    auto *timer = new QTimer(socket);
    connect(timer, &QTimer::timeout, socket, [socket, chunk] {
        if (connected(socket) && socket->bytesToWrite() < MaxEndlessBacklog)
            socket->write(chunk);
    });
    timer->start(intervalMs);
}

void ScriptedHttpServer::finishAnswer(QTcpSocket *socket, bool keepAlive)
{
    if (!keepAlive) {
        socket->disconnectFromHost();
        return;
    }
    socket->setProperty(BusyProperty, false);
    serveInput(socket);
}
