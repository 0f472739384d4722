#include "scriptedhttpserver.h"

#include <QFile>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace {

// An endless body skips a chunk while this much is still unsent, so a client that stops reading
// does not make the server's memory grow without bound.
constexpr qint64 MaxEndlessBacklog = 1024 * 1024;

bool connected(const QTcpSocket *socket)
{
    return socket->state() == QAbstractSocket::ConnectedState;
}

// Takes one whole request off the front of the connection's input; false while it is still
// arriving. A request line that is no HTTP leaves the method empty.
bool takeRequest(QTcpSocket *socket, RecordedRequest *request, bool *keepAlive)
{
    const QByteArray input = socket->peek(socket->bytesAvailable());
    const qsizetype headEnd = input.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return false;
    *request = RecordedRequest();
    const QList<QByteArray> lines = input.left(headEnd).split('\n');
    qsizetype bodySize = 0;
    *keepAlive = true;
    for (const QByteArray &line : lines.mid(1)) {
        const QByteArray name = line.left(line.indexOf(':')).trimmed();
        const QByteArray value = line.mid(line.indexOf(':') + 1).trimmed();
        request->headers.append({name, value});
        if (name.compare("content-length", Qt::CaseInsensitive) == 0)
            bodySize = value.toLongLong();
        else if (name.compare("connection", Qt::CaseInsensitive) == 0)
            *keepAlive = value.toLower() != "close";
    }
    if (input.size() - headEnd - 4 < bodySize)
        return false;
    socket->skip(headEnd + 4 + bodySize);

    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    // A proxy is asked with the whole address.
    QByteArray target = requestLine.value(1);
    if (target.startsWith("http://"))
        target = QUrl::fromEncoded(target).toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority);
    // A proxy is asked for a tunnel with the host and port alone.
    const bool tunnel = requestLine.value(0) == "CONNECT";
    if (requestLine.size() != 3 || (!target.startsWith('/') && !tunnel))
        return true;
    const qsizetype queryStart = target.indexOf('?');
    request->method = requestLine[0];
    request->path = QUrl::fromPercentEncoding(queryStart < 0 ? target : target.left(queryStart));
    request->query = queryStart < 0 ? QString() : QString::fromUtf8(target.mid(queryStart + 1));
    return true;
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
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QByteArray();
}

ScriptedHttpServer::ScriptedHttpServer(QObject *parent) : QObject(parent) { }

bool ScriptedHttpServer::listen(quint16 port)
{
    return listenOn(new QTcpServer(this), port);
}

bool ScriptedHttpServer::listenTls(const QString &certificateFile, const QString &keyFile,
                                   quint16 port)
{
    QFile key(keyFile);
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(QSslCertificate::fromPath(certificateFile));
    tls.setPrivateKey(key.open(QIODevice::ReadOnly) ? QSslKey(&key, QSsl::Ec) : QSslKey());
    auto *server = new QSslServer(this);
    server->setSslConfiguration(tls);
    return !tls.privateKey().isNull() && listenOn(server, port);
}

bool ScriptedHttpServer::listenOn(QTcpServer *server, quint16 port)
{
    delete m_server;
    m_server = server;
    // A TLS connection is pending only once its handshake is done.
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            // Timers that feed a socket are its children or use it as context: they die with it.
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serveInput(socket); });
            serveInput(socket); // what came with the handshake
        }
    });
    return m_server->listen(QHostAddress::LocalHost, port);
}

quint16 ScriptedHttpServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

QString ScriptedHttpServer::baseUrl() const
{
    const bool tls = qobject_cast<const QSslServer *>(m_server);
    return QStringLiteral("%1://127.0.0.1:%2").arg(tls ? "https" : "http").arg(port());
}

void ScriptedHttpServer::setReply(const QString &path, const ScriptedReply &reply)
{
    m_replies.insert(path, reply);
}

void ScriptedHttpServer::setHandler(Handler handler)
{
    m_handler = std::move(handler);
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

// Clients of the program's kind send a request only once the one before it is answered.
void ScriptedHttpServer::serveInput(QTcpSocket *socket)
{
    RecordedRequest request;
    bool keepAlive = true;
    while (takeRequest(socket, &request, &keepAlive)) {
        if (request.method.isEmpty()) {
            ScriptedReply badRequest;
            badRequest.status = 400;
            send(socket, badRequest, false);
            return;
        }
        m_requests.append(request);
        emit requestReceived(request);
        const ScriptedReply reply = replyFor(request);
        if (reply.tunnelPort > 0) {
            openTunnel(socket, reply.tunnelPort);
            return;
        }
        if (reply.silent)
            continue;
        QTimer::singleShot(reply.delayMs, socket,
                           [this, socket, reply, keepAlive] { send(socket, reply, keepAlive); });
    }
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

void ScriptedHttpServer::send(QTcpSocket *socket, const ScriptedReply &reply, bool keepAlive)
{
    if (!connected(socket))
        return;
    if (!reply.raw.isEmpty()) {
        socket->write(reply.raw);
        socket->disconnectFromHost();
        return;
    }
    // Clients read the status code only, so one reason phrase does for all.
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + " Scripted\r\n";
    for (const auto &[name, value] : reply.headers)
        head += name + ": " + value + "\r\n";
    if (reply.endless)
        head += "Transfer-Encoding: chunked\r\n";
    else
        head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    if (!keepAlive)
        head += "Connection: close\r\n";
    socket->write(head + "\r\n");

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
    connect(timer, &QTimer::timeout, socket,
            [socket, timer, body, pieceSize, keepAlive, sent = qsizetype(pieceSize)]() mutable {
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
    const QByteArray chunk =
        QByteArray::number(pieceSize, 16) + "\r\n" + QByteArray(pieceSize, 'x') + "\r\n";
    auto *timer = new QTimer(socket);
    connect(timer, &QTimer::timeout, socket, [socket, chunk] {
        if (connected(socket) && socket->bytesToWrite() < MaxEndlessBacklog)
            socket->write(chunk);
    });
    timer->start(intervalMs);
}

void ScriptedHttpServer::finishAnswer(QTcpSocket *socket, bool keepAlive)
{
    if (!keepAlive)
        socket->disconnectFromHost();
}

void ScriptedHttpServer::openTunnel(QTcpSocket *socket, quint16 port)
{
    // From here on the connection is the client's and the far end's: it is no longer read here.
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    auto *far = new QTcpSocket(socket);
    const auto pass = [](QTcpSocket *from, QTcpSocket *to) {
        connect(from, &QTcpSocket::readyRead, to, [from, to] { to->write(from->readAll()); });
    };
    pass(socket, far);
    pass(far, socket);
    connect(far, &QTcpSocket::connected, socket,
            [socket] { socket->write("HTTP/1.1 200 Connection established\r\n\r\n"); });
    connect(far, &QTcpSocket::disconnected, socket, &QTcpSocket::disconnectFromHost);
    far->connectToHost(QHostAddress::LocalHost, port);
}
