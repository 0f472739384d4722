#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>

#include <functional>

class QTcpServer;
class QTcpSocket;

// How the server answers one request.
struct ScriptedReply
{
    int status = 200;
    // Sent as given; Content-Length is added, or chunked encoding for an endless body.
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // Wait before anything is sent.
    int delayMs = 0;
    // Accept the request and never answer (the connection stays open).
    bool silent = false;
    // Above 0: the body goes out in pieces of this many bytes, pieceIntervalMs apart; the head
    // and the first piece go out at once.
    int pieceSize = 0;
    int pieceIntervalMs = 0;
    // A chunked body that never ends: a chunk of pieceSize bytes ('x') every pieceIntervalMs.
    bool endless = false;
    // Not empty: these bytes are sent instead of an HTTP answer, then the connection closes.
    QByteArray raw;
    // Above 0, for a proxy's CONNECT: the connection becomes a tunnel to this port on 127.0.0.1.
    quint16 tunnelPort = 0;

    // The body with "Content-Type: application/json".
    static ScriptedReply json(const QByteArray &body, int status = 200);
    // An empty body with a Location header.
    static ScriptedReply redirect(int status, const QByteArray &location);
};

// What the server saw of one request.
struct RecordedRequest
{
    QByteArray method;
    QString path; // decoded path, without the query; host:port for a CONNECT
    QString query; // the query as sent, percent-encoding kept, without "?"
    QList<QPair<QByteArray, QByteArray>> headers; // as sent

    // The value of the first header of that name, whatever its case; null when there is none.
    QByteArray header(const QByteArray &name) const;
};

// A loopback HTTP/1.1 server for tests and the stand-in service. Each request is answered by
// the reply set for its path, by the handler when one is set, or with 404. Connections are kept
// alive unless the client asks otherwise.
class ScriptedHttpServer : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<ScriptedReply(const RecordedRequest &)>;

    explicit ScriptedHttpServer(QObject *parent = nullptr);

    // Listens on 127.0.0.1; port 0 picks a free one.
    bool listen(quint16 port = 0);
    // The same over TLS, with a certificate and its key from PEM files.
    bool listenTls(const QString &certificateFile, const QString &keyFile, quint16 port = 0);
    quint16 port() const;
    // "http://127.0.0.1:<port>", or https when over TLS.
    QString baseUrl() const;

    void setReply(const QString &path, const ScriptedReply &reply);
    void setHandler(Handler handler);

    QList<RecordedRequest> requests() const { return m_requests; }
    // The requests made to one path, in order.
    QList<RecordedRequest> requestsTo(const QString &path) const;

signals:
    void requestReceived(const RecordedRequest &request);

private:
    bool listenOn(QTcpServer *server, quint16 port);
    void serveInput(QTcpSocket *socket);
    void send(QTcpSocket *socket, const ScriptedReply &reply, bool keepAlive);
    void sendPieces(QTcpSocket *socket, const QByteArray &body, int pieceSize, int intervalMs,
                    bool keepAlive);
    void sendEndless(QTcpSocket *socket, int pieceSize, int intervalMs);
    static void finishAnswer(QTcpSocket *socket, bool keepAlive);
    void openTunnel(QTcpSocket *socket, quint16 port);
    ScriptedReply replyFor(const RecordedRequest &request) const;

    QTcpServer *m_server = nullptr;
    QMap<QString, ScriptedReply> m_replies;
    Handler m_handler;
    QList<RecordedRequest> m_requests;
};
