#include "net/chttpreply.h"
#include "net/jsonrequest.h"
#include "scriptedhttpserver.h"

#include <json/writer.h>

#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <qpa/qwindowsysteminterface.h>

Q_DECLARE_METATYPE(ScriptedReply)

namespace {

QByteArray compact(const Json::Value &value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["commentStyle"] = "None";
    return QByteArray::fromStdString(Json::writeString(builder, value));
}

ScriptedReply withStatus(int status, const QByteArray &body = QByteArray())
{
    ScriptedReply reply = ScriptedReply::json(body, status);
    return reply;
}

// A port on which nothing listens.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// Counts presses, and those that arrive while a request is waiting.
class PressCounter : public QWidget
{
public:
    bool waiting = false;
    int presses = 0;
    int pressesWhileWaiting = 0;

protected:
    void mousePressEvent(QMouseEvent *) override
    {
        ++presses;
        pressesWhileWaiting += waiting ? 1 : 0;
    }
};

} // namespace

class TestJsonRequest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void get_data();
    void get();
    void silenceEndsWithTimeout();
    void refusedConnection();
    void redirectLoopStops();
    void oversizedAnswer();
    void userInputWaitsUntilTheAnswer();

private:
    std::unique_ptr<ScriptedHttpServer> server;
};

void TestJsonRequest::init()
{
    server = std::make_unique<ScriptedHttpServer>();
    QVERIFY(server->listen());
    server->setReply(QStringLiteral("/second"), ScriptedReply::json(R"({"b":2})"));
    server->setReply(QStringLiteral("/gone"), withStatus(404));
}

void TestJsonRequest::get_data()
{
    QTest::addColumn<ScriptedReply>("reply");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("secondRequests");

    QTest::newRow("object") << ScriptedReply::json(R"({"a":1})") << int(ReplyOk)
                            << QByteArray(R"({"a":1})") << 0;
    QTest::newRow("empty 200") << withStatus(200) << int(ReplyOk) << QByteArray("null") << 0;
    QTest::newRow("not JSON") << withStatus(200, "<html>") << int(ReplyOk) << QByteArray("null")
                              << 0;
    QTest::newRow("404") << withStatus(404, R"({"a":1})") << int(ReplyNotFound)
                         << QByteArray("null") << 0;
    QTest::newRow("500") << withStatus(500, R"({"a":1})") << int(ReplyError) << QByteArray("null")
                         << 0;
    QTest::newRow("302 to a path")
        << ScriptedReply::redirect(302, "/second") << int(ReplyOk) << QByteArray(R"({"b":2})") << 1;
    QTest::newRow("301 to a path")
        << ScriptedReply::redirect(301, "/second") << int(ReplyOk) << QByteArray(R"({"b":2})") << 1;
    QTest::newRow("302 to the same host and port")
        << ScriptedReply::redirect(302, "http://127.0.0.1:PORT/second") << int(ReplyOk)
        << QByteArray(R"({"b":2})") << 1;
    QTest::newRow("302 to another host name")
        << ScriptedReply::redirect(302, "http://localhost:PORT/second") << int(ReplyError)
        << QByteArray("null") << 0;
    QTest::newRow("301 to a file") << ScriptedReply::redirect(301, "file:///etc/hostname")
                                   << int(ReplyError) << QByteArray("null") << 0;
    QTest::newRow("302 to a missing page")
        << ScriptedReply::redirect(302, "/gone") << int(ReplyNotFound) << QByteArray("null") << 0;
    ScriptedReply seeOther = ScriptedReply::redirect(303, "/second");
    seeOther.body = R"({"c":3})";
    QTest::newRow("303 is not followed")
        << seeOther << int(ReplyOk) << QByteArray(R"({"c":3})") << 0;
    ScriptedReply temporary = ScriptedReply::redirect(307, "/second");
    QTest::newRow("307 is not followed") << temporary << int(ReplyOk) << QByteArray("null") << 0;
    QTest::newRow("301 without Location")
        << withStatus(301) << int(ReplyError) << QByteArray("null") << 0;
    QTest::newRow("zero byte after the object")
        << withStatus(200, QByteArray("{\"a\":1}") + QByteArray(1, '\0') + "\x01\x02 tail")
        << int(ReplyOk) << QByteArray(R"({"a":1})") << 0;
    QTest::newRow("comments") << withStatus(200, "/* c */ {\"a\": 1 // d\n}") << int(ReplyOk)
                              << QByteArray(R"({"a":1})") << 0;
    QTest::newRow("bare number") << withStatus(200, "42") << int(ReplyOk) << QByteArray("42") << 0;
    QTest::newRow("bare string") << withStatus(200, "\"s\"") << int(ReplyOk) << QByteArray("\"s\"")
                                 << 0;
    ScriptedReply drip = ScriptedReply::json(R"({"drip":"one byte at a time, for over 5 s"})");
    drip.pieceSize = 1;
    drip.pieceIntervalMs = 150;
    QTest::newRow("drip ends with the whole request's time")
        << drip << int(ReplyError) << QByteArray("null") << 0;
    ScriptedReply slow = ScriptedReply::json(R"({"slow":"answer in many small pieces"})");
    slow.pieceSize = 4;
    slow.pieceIntervalMs = 150;
    QTest::newRow("slow body keeps the wait alive")
        << slow << int(ReplyOk) << QByteArray(R"({"slow":"answer in many small pieces"})") << 0;
}

void TestJsonRequest::get()
{
    QFETCH(ScriptedReply, reply);
    QFETCH(int, status);
    QFETCH(QByteArray, value);
    QFETCH(int, secondRequests);

    for (auto &[name, headerValue] : reply.headers)
        headerValue.replace("PORT", QByteArray::number(server->port()));
    server->setReply(QStringLiteral("/first"), reply);
    int result = -1;
    // The slow row takes well over the silence limit in total, with every gap shorter than it.
    const Json::Value answer =
        JsonRequest(server->baseUrl() + QStringLiteral("/first")).get(&result, 1000, 4000);
    QCOMPARE(result, status);
    QCOMPARE(compact(answer), value);
    QCOMPARE(server->requestsTo(QStringLiteral("/second")).size(), secondRequests);
}

void TestJsonRequest::silenceEndsWithTimeout()
{
    ScriptedReply silent;
    silent.silent = true;
    server->setReply(QStringLiteral("/silent"), silent);
    QElapsedTimer clock;
    clock.start();
    int status = -1;
    const Json::Value answer =
        JsonRequest(server->baseUrl() + QStringLiteral("/silent")).get(&status, 500, 15000);
    QCOMPARE(status, int(ReplyTimeout));
    QVERIFY(answer.isNull());
    QVERIFY(clock.elapsed() >= 450);
}

void TestJsonRequest::refusedConnection()
{
    int status = -1;
    const Json::Value answer =
        JsonRequest(QStringLiteral("http://127.0.0.1:%1/x").arg(closedPort()))
            .get(&status, 4000, 15000);
    QCOMPARE(status, int(ReplyError));
    QVERIFY(answer.isNull());
}

void TestJsonRequest::redirectLoopStops()
{
    server->setReply(QStringLiteral("/loop"), ScriptedReply::redirect(302, "/loop"));
    int status = -1;
    const Json::Value answer =
        JsonRequest(server->baseUrl() + QStringLiteral("/loop")).get(&status, 4000, 15000);
    QCOMPARE(status, int(ReplyError));
    QVERIFY(answer.isNull());
    QCOMPARE(server->requestsTo(QStringLiteral("/loop")).size(), JsonRequest::MaxRedirects + 1);
}

void TestJsonRequest::oversizedAnswer()
{
    server->setReply(QStringLiteral("/big"),
                     ScriptedReply::json("[\"" + QByteArray(5 * 1024 * 1024, 'x') + "\"]"));
    int status = -1;
    const Json::Value answer =
        JsonRequest(server->baseUrl() + QStringLiteral("/big")).get(&status, 4000, 15000);
    QCOMPARE(status, int(ReplyError));
    QVERIFY(answer.isNull());
}

void TestJsonRequest::userInputWaitsUntilTheAnswer()
{
    PressCounter window;
    window.resize(100, 100);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    ScriptedReply late = ScriptedReply::json(R"({"a":1})");
    late.delayMs = 600;
    server->setReply(QStringLiteral("/late"), late);
    // Arrives from the window system while the request waits, as a real click would.
    QTimer::singleShot(100, &window, [&window] {
        QWindow *handle = window.windowHandle();
        const QPointF local(10, 10);
        QWindowSystemInterface::handleMouseEvent(handle, local, handle->mapToGlobal(local),
                                                 Qt::LeftButton, Qt::LeftButton,
                                                 QEvent::MouseButtonPress);
        QWindowSystemInterface::handleMouseEvent(handle, local, handle->mapToGlobal(local),
                                                 Qt::NoButton, Qt::LeftButton,
                                                 QEvent::MouseButtonRelease);
    });
    window.waiting = true;
    int status = -1;
    JsonRequest(server->baseUrl() + QStringLiteral("/late")).get(&status, 4000, 15000);
    window.waiting = false;

    QCOMPARE(status, int(ReplyOk));
    QTRY_COMPARE(window.presses, 1);
    QCOMPARE(window.pressesWhileWaiting, 0);
}

QTEST_MAIN(TestJsonRequest)
#include "tst_jsonrequest.moc"
