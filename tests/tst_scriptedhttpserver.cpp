#include "scriptedhttpserver.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>

namespace {

// Long enough for a loaded machine to deliver anything that was going to arrive.
constexpr int AbsenceWaitMs = 500;
constexpr int SlowTimeoutMs = 30000;

ScriptedReply textReply(const QByteArray &body)
{
    ScriptedReply reply;
    reply.body = body;
    return reply;
}

QByteArray plainAnswer(const QByteArray &body, const QByteArray &extraHeaders = {})
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" +
        extraHeaders + "\r\n" + body;
}

} // namespace

class TestScriptedHttpServer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void answers_data();
    void answers();
    void piecesAreSpacedOut();
    void endlessBodyKeepsComing();
    void silentNeverAnswers();
    void rawBytesFailTheClient_data();
    void rawBytesFailTheClient();
    void recordsRequests_data();
    void recordsRequests();
    void handlerAnswersUnscriptedPaths();
    void replyMaySetWhenRequestArrives();
    void clearForgetsEverything();
    void connectionAnswersInOrder_data();
    void connectionAnswersInOrder();
    void survivesClientGoingAway_data();
    void survivesClientGoingAway();

private:
    QNetworkReply *get(const QString &pathAndQuery);

    std::unique_ptr<ScriptedHttpServer> m_server;
    std::unique_ptr<QNetworkAccessManager> m_network;
};

void TestScriptedHttpServer::init()
{
    m_server = std::make_unique<ScriptedHttpServer>();
    QVERIFY(m_server->listen());
    m_network = std::make_unique<QNetworkAccessManager>();
}

void TestScriptedHttpServer::cleanup()
{
    m_network.reset();
    m_server.reset();
}

QNetworkReply *TestScriptedHttpServer::get(const QString &pathAndQuery)
{
    QNetworkRequest request(QUrl(m_server->baseUrl() + pathAndQuery));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    return m_network->get(request);
}

void TestScriptedHttpServer::answers_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<ScriptedReply>("reply");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reason");
    QTest::addColumn<QByteArray>("headerName");
    QTest::addColumn<QByteArray>("headerValue");
    QTest::addColumn<QByteArray>("body");

    ScriptedReply page = textReply("<p>hello</p>");
    page.headers = {{"Content-Type", "text/html"}};
    QTest::newRow("headers and body")
        << "/scripted" << page << 200 << QByteArray("OK") << QByteArray("Content-Type")
        << QByteArray("text/html") << QByteArray("<p>hello</p>");

    QTest::newRow("json") << "/scripted" << ScriptedReply::json(R"({"ret":1})") << 200
                          << QByteArray("OK") << QByteArray("Content-Type")
                          << QByteArray("application/json") << QByteArray(R"({"ret":1})");

    ScriptedReply busy = textReply("busy");
    busy.status = 503;
    QTest::newRow("error status") << "/scripted" << busy << 503 << QByteArray("Service Unavailable")
                                  << QByteArray("Content-Length") << QByteArray("4")
                                  << QByteArray("busy");

    QTest::newRow("redirect") << "/scripted" << ScriptedReply::redirect(302, "/moved") << 302
                              << QByteArray("Found") << QByteArray("Location")
                              << QByteArray("/moved") << QByteArray();

    ScriptedReply late = textReply("late");
    late.delayMs = 300;
    QTest::newRow("delayed") << "/scripted" << late << 200 << QByteArray("OK")
                             << QByteArray("Content-Length") << QByteArray("4")
                             << QByteArray("late");

    QByteArray counting;
    for (int i = 0; i < 200; ++i)
        counting += QByteArray::number(i) + ' ';
    ScriptedReply pieces = textReply(counting);
    pieces.pieceSize = 64;
    pieces.pieceIntervalMs = 5;
    QTest::newRow("in pieces") << "/scripted" << pieces << 200 << QByteArray("OK")
                               << QByteArray("Content-Length")
                               << QByteArray::number(counting.size()) << counting;

    const QByteArray large(10 * 1024 * 1024, 'x');
    QTest::newRow("large") << "/scripted" << textReply(large) << 200 << QByteArray("OK")
                           << QByteArray("Content-Length") << QByteArray("10485760") << large;

    QTest::newRow("unknown path") << "/elsewhere" << textReply("not this") << 404
                                  << QByteArray("Not Found") << QByteArray("Content-Length")
                                  << QByteArray("0") << QByteArray();
}

void TestScriptedHttpServer::answers()
{
    QFETCH(QString, path);
    QFETCH(ScriptedReply, reply);
    QFETCH(int, status);
    QFETCH(QByteArray, reason);
    QFETCH(QByteArray, headerName);
    QFETCH(QByteArray, headerValue);
    QFETCH(QByteArray, body);

    m_server->setReply("/scripted", reply);
    QNetworkReply *answer = get(path);
    QTRY_VERIFY_WITH_TIMEOUT(answer->isFinished(), SlowTimeoutMs);

    QCOMPARE(answer->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
    QCOMPARE(answer->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray(), reason);
    QCOMPARE(answer->rawHeader(headerName), headerValue);
    QCOMPARE(answer->readAll(), body);
}

void TestScriptedHttpServer::piecesAreSpacedOut()
{
    ScriptedReply reply = textReply("abcdefgh");
    reply.pieceSize = 3;
    reply.pieceIntervalMs = 60000;
    m_server->setReply("/drip", reply);

    QNetworkReply *answer = get("/drip");
    QTRY_COMPARE(answer->bytesAvailable(), 3);
    QCOMPARE(answer->header(QNetworkRequest::ContentLengthHeader).toInt(), 8);
    QSignalSpy finished(answer, &QNetworkReply::finished);
    QVERIFY(!finished.wait(AbsenceWaitMs));
    QCOMPARE(answer->readAll(), QByteArray("abc"));
}

void TestScriptedHttpServer::endlessBodyKeepsComing()
{
    ScriptedReply reply;
    reply.endless = true;
    reply.pieceSize = 100;
    reply.pieceIntervalMs = 10;
    m_server->setReply("/stream", reply);

    QNetworkReply *answer = get("/stream");
    QTRY_VERIFY(answer->bytesAvailable() > 300);
    QCOMPARE(answer->rawHeader("Transfer-Encoding"), QByteArray("chunked"));
    QVERIFY(!answer->isFinished());
    QVERIFY(answer->readAll().count('x') > 300);
}

void TestScriptedHttpServer::silentNeverAnswers()
{
    ScriptedReply reply = textReply("never sent");
    reply.silent = true;
    m_server->setReply("/silent", reply);

    QNetworkReply *answer = get("/silent");
    QTRY_COMPARE(m_server->requestsTo("/silent").size(), 1);
    QSignalSpy finished(answer, &QNetworkReply::finished);
    QVERIFY(!finished.wait(AbsenceWaitMs));
    QCOMPARE(answer->bytesAvailable(), 0);
}

void TestScriptedHttpServer::rawBytesFailTheClient_data()
{
    QTest::addColumn<QByteArray>("raw");

    QTest::newRow("random bytes") << QByteArray::fromHex("8f02ff7e00d1c3a95b10e4");
    QTest::newRow("closed in the head") << QByteArray("HTTP/1.1 200 OK\r\nContent-Ty");
    QTest::newRow("closed in the body")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly ten b");
}

void TestScriptedHttpServer::rawBytesFailTheClient()
{
    QFETCH(QByteArray, raw);

    ScriptedReply reply;
    reply.raw = raw;
    m_server->setReply("/raw", reply);
    QNetworkReply *answer = get("/raw");
    QTRY_VERIFY(answer->isFinished());
    QVERIFY2(answer->error() != QNetworkReply::NoError, qPrintable(answer->errorString()));
}

void TestScriptedHttpServer::recordsRequests_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("query");

    QTest::newRow("plain query") << QByteArray("GET") << QByteArray("/message/getMessage?userId=42")
                                 << QByteArray() << "/message/getMessage"
                                 << "userId=42";
    QTest::newRow("query encoding kept")
        << QByteArray("GET") << QByteArray("/m?sign=a%2Bb%3D%3D&name=%E6%96%B0&empty=")
        << QByteArray() << "/m"
        << "sign=a%2Bb%3D%3D&name=%E6%96%B0&empty=";
    QTest::newRow("path decoded") << QByteArray("GET") << QByteArray("/news/caf%C3%A9%20au%20lait")
                                  << QByteArray() << QString::fromUtf8("/news/café au lait")
                                  << QString();
    QTest::newRow("body") << QByteArray("POST") << QByteArray("/user/getTempSession?u=1")
                          << QByteArray("token=abc") << "/user/getTempSession"
                          << "u=1";
}

void TestScriptedHttpServer::recordsRequests()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, body);
    QFETCH(QString, path);
    QFETCH(QString, query);

    QSignalSpy received(m_server.get(), &ScriptedHttpServer::requestReceived);
    QNetworkRequest request(QUrl::fromEncoded(m_server->baseUrl().toLatin1() + sent));
    request.setRawHeader("X-Probe", "present");
    request.setHeader(QNetworkRequest::ContentTypeHeader, "text/plain");
    QNetworkReply *answer = m_network->sendCustomRequest(request, method, body);
    QTRY_VERIFY(answer->isFinished());

    QCOMPARE(m_server->requests().size(), 1);
    const RecordedRequest recorded = m_server->requests().constFirst();
    QCOMPARE(recorded.method, method);
    QCOMPARE(recorded.path, path);
    QCOMPARE(recorded.query, query);
    QCOMPARE(recorded.body, body);
    QCOMPARE(recorded.header("x-probe"), QByteArray("present"));
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.constFirst().constFirst().value<RecordedRequest>().path, path);
}

void TestScriptedHttpServer::handlerAnswersUnscriptedPaths()
{
    m_server->setReply("/scripted", textReply("scripted"));
    m_server->setHandler([](const RecordedRequest &request) {
        return textReply("handled " + request.path.toUtf8());
    });

    QNetworkReply *scripted = get("/scripted");
    QTRY_VERIFY(scripted->isFinished());
    QNetworkReply *handled = get("/other");
    QTRY_VERIFY(handled->isFinished());

    QCOMPARE(scripted->readAll(), QByteArray("scripted"));
    QCOMPARE(handled->readAll(), QByteArray("handled /other"));
    QCOMPARE(m_server->requests().size(), 2);
    QCOMPARE(m_server->requests().constLast().path, QString("/other"));
    QCOMPARE(m_server->requestsTo("/scripted").size(), 1);
}

void TestScriptedHttpServer::replyMaySetWhenRequestArrives()
{
    connect(m_server.get(), &ScriptedHttpServer::requestReceived, this,
            [this](const RecordedRequest &request) {
                m_server->setReply(request.path, textReply("just in time"));
            });
    QNetworkReply *answer = get("/late");
    QTRY_VERIFY(answer->isFinished());
    QCOMPARE(answer->readAll(), QByteArray("just in time"));
}

void TestScriptedHttpServer::clearForgetsEverything()
{
    m_server->setReply("/a", textReply("a"));
    m_server->setHandler([](const RecordedRequest &) { return textReply("handled"); });
    QNetworkReply *before = get("/a");
    QTRY_VERIFY(before->isFinished());

    m_server->clear();
    QVERIFY(m_server->requests().isEmpty());
    QNetworkReply *after = get("/a");
    QTRY_VERIFY(after->isFinished());
    QCOMPARE(after->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);
    QCOMPARE(m_server->requests().size(), 1);
}

void TestScriptedHttpServer::connectionAnswersInOrder_data()
{
    QTest::addColumn<QByteArray>("sent");
    // Sent once the server has seen the first request, while its answer is held back.
    QTest::addColumn<QByteArray>("sentLater");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("keptOpen");
    QTest::addColumn<int>("recorded");

    const QByteArray first = "GET /first HTTP/1.1\r\nHost: h\r\n\r\n";
    const QByteArray second = "GET /second HTTP/1.1\r\nHost: h\r\n\r\n";
    const QByteArray both = plainAnswer("first") + plainAnswer("second");
    const QByteArray firstThenClose = plainAnswer("first", "Connection: close\r\n");

    QTest::newRow("sent ahead") << first + second << QByteArray() << both << true << 2;
    QTest::newRow("sent while waiting") << first << second << both << true << 2;
    QTest::newRow("body skipped")
        << "POST /first HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\nabc" + second
        << QByteArray() << both << true << 2;
    QTest::newRow("close asked") << "GET /first HTTP/1.1\r\nConnection: close\r\n\r\n" + second
                                 << QByteArray() << firstThenClose << false << 1;
    QTest::newRow("HTTP/1.0") << "GET /first HTTP/1.0\r\n\r\n" + second << QByteArray()
                              << firstThenClose << false << 1;
    QTest::newRow("HTTP/1.0 keep-alive")
        << "GET /first HTTP/1.0\r\nConnection: keep-alive\r\n\r\n" + second << QByteArray() << both
        << true << 2;
    QTest::newRow("malformed")
        << QByteArray("NONSENSE\r\n\r\n") + second << QByteArray()
        << QByteArray("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
        << false << 0;
}

void TestScriptedHttpServer::connectionAnswersInOrder()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, sentLater);
    QFETCH(QByteArray, expected);
    QFETCH(bool, keptOpen);
    QFETCH(int, recorded);

    // The first answer is held back, so a server answering out of turn would send "second" first.
    ScriptedReply first = textReply("first");
    first.delayMs = 400;
    m_server->setReply("/first", first);
    m_server->setReply("/second", textReply("second"));

    QTcpSocket socket;
    QByteArray received;
    connect(&socket, &QTcpSocket::readyRead, this, [&] { received += socket.readAll(); });
    socket.connectToHost(QHostAddress::LocalHost, m_server->port());
    QVERIFY(socket.waitForConnected());
    socket.write(sent);
    if (!sentLater.isEmpty()) {
        QTRY_COMPARE(m_server->requests().size(), 1);
        socket.write(sentLater);
    }

    QTRY_COMPARE(received, expected);
    if (keptOpen)
        QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    else
        QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(m_server->requests().size(), recorded);
}

void TestScriptedHttpServer::survivesClientGoingAway_data()
{
    QTest::addColumn<ScriptedReply>("reply");

    ScriptedReply delayed = textReply("late");
    delayed.delayMs = 50;
    QTest::newRow("delayed") << delayed;

    ScriptedReply pieces = textReply(QByteArray(10000, 'p'));
    pieces.pieceSize = 1;
    pieces.pieceIntervalMs = 1;
    QTest::newRow("in pieces") << pieces;

    ScriptedReply endless;
    endless.endless = true;
    endless.pieceSize = 16;
    endless.pieceIntervalMs = 1;
    QTest::newRow("endless") << endless;

    ScriptedReply silent;
    silent.silent = true;
    QTest::newRow("silent") << silent;
}

// Timers still feeding a connection the client dropped must not touch it afterwards.
void TestScriptedHttpServer::survivesClientGoingAway()
{
    QFETCH(ScriptedReply, reply);

    m_server->setReply("/going", reply);
    ScriptedReply after = textReply("still here");
    after.delayMs = 200;
    m_server->setReply("/after", after);

    QNetworkReply *going = get("/going");
    QTRY_COMPARE(m_server->requests().size(), 1);
    going->abort();
    QNetworkReply *next = get("/after");
    QTRY_VERIFY(next->isFinished());
    QCOMPARE(next->readAll(), QByteArray("still here"));
}

QTEST_GUILESS_MAIN(TestScriptedHttpServer)
#include "tst_scriptedhttpserver.moc"
