#include "browserrecorder.h"
#include "datatable.h"
#include "desktop/desktopbusycheck.h"
#include "desktop/platform.h"
#include "net/jsonrequest.h"
#include "net/polledget.h"
#include "net/strictjson.h"
#include "serviceanswers.h"
#include "session/usercontext.h"
#include "testhome.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSslConfiguration>
#include <QTest>
#include <QUrlQuery>

#include <future>

namespace {

constexpr int SilenceMs = 500, TotalMs = 2000; // short, for a fast table of reply shapes

// Peak resident memory of this process in KiB, since the last reset.
qint64 peakMemoryKiB(bool reset)
{
    QFile refs("/proc/self/clear_refs"), status("/proc/self/status");
    if (reset && refs.open(QIODevice::WriteOnly))
        refs.write("5");
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    return text.mid(text.indexOf("VmHWM:") + 6).trimmed().split(' ').first().toLongLong();
}

using ServiceAnswers::trickle;

} // namespace

class TestTransport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The scripted server's own certificate, for its https rows.
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        QVERIFY(tls.addCaCertificates(VELTRO_TEST_TLS "/service.crt"));
        QSslConfiguration::setDefaultConfiguration(tls);
    }

    void init()
    {
        home.activate();
        server = std::make_unique<ScriptedHttpServer>();
        QVERIFY(server->listen());
        server->setReply("/second", ScriptedReply::json(R"({"b":2})"));
        server->setReply("/loop", ScriptedReply::redirect(302, "/loop"));
        browser.opened.clear();
    }

    void replyShapes_data()
    {
        // Polled: whether the polled GET gives the body. The value: JSON, empty for null. Follows:
        // the redirects the blocking request follows.
        columns<ScriptedReply, bool, int, QByteArray, int>("reply", "polled", "status", "value",
                                                           "follows");

        const auto row = [](const char *name, const ScriptedReply &reply, bool polled, int status,
                            const QByteArray &value = "", int follows = 0) {
            QTest::newRow(name) << reply << polled << status << value << follows;
        };
        const auto json = ScriptedReply::json;
        const auto redirect = ScriptedReply::redirect;
        const QByteArray object = R"({"a":1})", second = R"({"b":2})",
                         slow = R"({"slow":"in pieces"})";
        ScriptedReply silent, cut;
        silent.silent = true;
        cut.raw = "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n{";

        row("object", json(object, 200), true, ReplyOk, object);
        row("404", json(object, 404), false, ReplyNotFound);
        row("500", json(object, 500), false, ReplyError);
        row("302 to a path", redirect(302, "/second"), true, ReplyOk, second, 1);
        row("301, same host", redirect(301, "http://127.0.0.1:PORT/second"), true, ReplyOk, second,
            1);
        row("302 to another host", redirect(302, "http://localhost:PORT/second"), true, ReplyError);
        row("302 to another port", redirect(302, "http://127.0.0.1:OTHER/second"), true,
            ReplyError);
        row("301 to https on the same host", redirect(301, "https://127.0.0.1:TLS/second"), true,
            ReplyOk, second, 1);
        row("302 to https on another host", redirect(302, "https://localhost:TLS/second"), true,
            ReplyError);
        row("301 to another scheme", redirect(301, "file:///etc/hostname"), true, ReplyError);
        row("302 to a missing page", redirect(302, "/gone"), true, ReplyNotFound, "", 1);
        row("303 is not followed", redirect(303, "/second"), true, ReplyOk);
        row("301 without Location", json("", 301), true, ReplyError);
        row("redirect loop", redirect(302, "/loop"), true, ReplyError, "",
            JsonRequest::MaxRedirects);
        row("silence", silent, false, ReplyTimeout);
        row("drip outlasts the whole request", trickle(slow, 1, 200), false, ReplyError);
        row("slow body, every gap short", trickle(slow, 4, 250), true, ReplyOk, slow);
        row("cut in the body", cut, false, ReplyError);
        row("10 MiB", json(QByteArray(10 * 1024 * 1024, ' ') + object, 200), false, ReplyError);
        row("endless", trickle("", 64 * 1024, 1), false, ReplyError);
    }

    void replyShapes()
    {
        QFETCH(ScriptedReply, reply);
        QFETCH(bool, polled);
        QFETCH(QByteArray, value);

        ScriptedHttpServer elsewhere, secure; // on this host, at other ports; secure over TLS
        QVERIFY(elsewhere.listen());
        QVERIFY(secure.listenTls(VELTRO_TEST_TLS "/service.crt", VELTRO_TEST_TLS "/service.key"));
        secure.setReply("/second", ScriptedReply::json(R"({"b":2})"));
        for (auto &[name, headerValue] : reply.headers)
            headerValue.replace("PORT", QByteArray::number(server->port()))
                .replace("OTHER", QByteArray::number(elsewhere.port()))
                .replace("TLS", QByteArray::number(secure.port()));
        server->setReply("/first", reply);
        const QString address = server->baseUrl() + "/first";
        const qint64 peakBefore = peakMemoryKiB(true);
        const QDeadlineTimer bound(4 * TotalMs);

        const std::optional<QByteArray> fetched = PolledGet::fetch(address, TotalMs);
        QCOMPARE(fetched, polled ? std::optional(reply.body) : std::nullopt);

        int result = -1;
        const Json::Value answer = JsonRequest(address).get(&result, SilenceMs, TotalMs);
        Json::Value expected;
        StrictJson::parse(value, expected);
        // Wine's Schannel does not load the scripted server's key, so its TLS server never answers.
        if (qEnvironmentVariableIsSet("WINELOADER"))
            QEXPECT_FAIL("301 to https on the same host", "no TLS server under Wine", Abort);
        QTEST(result, "status");
        QVERIFY2(answer == expected, answer.toStyledString().c_str());
        // Qt itself may ask for the first address again after a broken answer.
        const QList<RecordedRequest> requests = server->requests() + secure.requests();
        QTEST(int(requests.size() - server->requestsTo("/first").size()), "follows");
        // No cache on the way may answer in the service's place.
        for (const RecordedRequest &request : requests)
            QVERIFY(request.header("Cache-Control") == "no-cache" &&
                    request.header("Pragma") == "no-cache");

        // Both end within their bounds, and no answer makes the memory grow past a bound.
        QVERIFY(!bound.hasExpired());
        QVERIFY(peakMemoryKiB(false) - peakBefore < 32 * 1024);
    }

    void openSignedIn_data()
    {
        // The wait: the least time the user waits for the page.
        columns<ScriptedReply, QString, QString, QString, int>("reply", "opened", "uid", "name",
                                                               "waitMs");

        const QString index = "/user/index";
        const auto row = [&](const char *tag, const ScriptedReply &reply, const QString &opened,
                             const QString &uid = "42", const QString &name = "ann",
                             int waitMs = 0) {
            QTest::newRow(tag) << reply << opened << uid << name << waitMs;
        };
        const QByteArray answer = ServiceAnswers::session("s-1");
        const ScriptedReply session = ScriptedReply::json(answer);
        const QString skip = "/user/skip?tempSession=s-1&skipUrl=";

        row("session", session, skip + index);
        row("signed out", session, index, "", "");
        row("no user name", session, index, "42", "");
        row("user reaches the service intact", session, skip + index, "id 1&2", "a&b#c d+e=张三");
        row("any code", ScriptedReply::json(R"({"code":"E17","tempSession":"s-1"})"), skip + index);
        row("code as number", ScriptedReply::json(R"({"code":0,"tempSession":"s-1"})"), index);
        row("answer is an array", ScriptedReply::json(R"(["s-1"])"), index);
        row("empty session", ScriptedReply::json(ServiceAnswers::session("")), index);
        row("not found", ScriptedReply::json(answer, 404), index);
        row("redirected to a session", ScriptedReply::redirect(302, "/session"),
            "/user/skip?tempSession=r-1&skipUrl=/user/index");
        row("session is encoded", ScriptedReply::json(ServiceAnswers::session("a&b=c")),
            "/user/skip?tempSession=a%26b%3Dc&skipUrl=/user/index");
        // The request's own limits: a longer one would still get a valid session, and sign in.
        row("4 s of silence", trickle(answer, 16, 6500), index, "42", "ann", 4000);
        row("15 s in all", trickle(QByteArray(12, ' ') + answer, 4, 2000), index, "42", "ann",
            15000);
    }

    void openSignedIn()
    {
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, opened);
        QFETCH(QString, uid);
        QFETCH(QString, name);
        QFETCH(int, waitMs);

        home.signIn(uid, name);
        server->setReply("/user/getTempSession", reply);
        server->setReply("/session", ScriptedReply::json(ServiceAnswers::session("r-1")));
        UserContext user(Endpoints(server->baseUrl()));
        user.loadSession();
        const QDeadlineTimer waited(qMax(waitMs - 50, 0));
        // The page asked for is the one opened, signed in or not.
        user.openSignedIn(opened.section("skipUrl=", -1));

        QVERIFY(waited.hasExpired());
        QCOMPARE(browser.opened, QList<QUrl>{QUrl(server->baseUrl() + opened)});
        const QList<RecordedRequest> requests = server->requestsTo("/user/getTempSession");
        QCOMPARE(requests.size(), uid.isEmpty() || name.isEmpty() ? 0 : 1); // nobody, no request
        if (!requests.isEmpty())
            QCOMPARE(QUrlQuery(requests.first().query).queryItems(QUrl::FullyDecoded),
                     (QList<QPair<QString, QString>>{{"userName", name}, {"userId", uid}}));
    }

    void sessionBus_data()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows has no session bus: the shell's notification state tells who is busy");
#endif
        // The answers to the client's first line, then to the rest; "flood" is a stream of
        // signals. Shunned: for the rest of the start, until the browser starts.
        columns<QByteArrayList, bool, bool>("answers", "busy", "shunned");

        const QByteArray welcome = "OK 0123456789abcdef0123456789abcdef\r\n";
        // The return of true to the client's second message: its header, then its body.
        const QByteArray screenSaverOn = QByteArray::fromHex(
            "6c020001 04000000 07000000 0f000000 05017500 02000000 08016700 016200 00 01000000");
        // A return whose member field claims 2^32 - 5 bytes: past it, read with lengths that
        // wrap, a reply to the question with true.
        const QByteArray wraps = QByteArray::fromHex("6c020001 04000000 07000000 17000000 03017300"
                                                     "fbffffff 05017500 02000000 08016700 01620000"
                                                     "01000000");
        QTest::newRow("silent") << QByteArrayList{} << false << true;
        QTest::newRow("answers, then stalls") << QByteArrayList{welcome} << false << true;
        QTest::newRow("floods") << QByteArrayList{welcome, "flood"} << false << true;
        QTest::newRow("a length that wraps") << QByteArrayList{welcome, wraps} << false << true;
        QTest::newRow("screen saver on") << QByteArrayList{welcome, screenSaverOn} << true << false;
    }

    void sessionBus()
    {
        QFETCH(QByteArrayList, answers);

        QLocalServer bus;
        QVERIFY(bus.listen(home.path() + "/bus-socket"));
        // Signals that answer nothing, 4 MiB at once.
        const QByteArray flood =
            QByteArray::fromHex("6c040001 00000000 09000000 00000000").repeated(1 << 18);
        connect(&bus, &QLocalServer::newConnection, &bus, [&] {
            QLocalSocket *client = bus.nextPendingConnection();
            connect(client, &QLocalSocket::readyRead, client, [client, &answers, &flood] {
                client->readAll();
                const QByteArray answer = answers.isEmpty() ? QByteArray() : answers.takeFirst();
                client->write(answer == "flood" ? flood : answer);
            });
        });
        const QByteArray address = "unix:path=" + QFile::encodeName(bus.fullServerName());
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        // The check blocks its thread while this one plays the bus: it ends whatever the bus does.
        std::future<bool> busy =
            std::async(std::launch::async, [] { return DesktopBusyCheck().userIsBusy(); });
        QTRY_VERIFY_WITH_TIMEOUT(
            busy.wait_for(std::chrono::seconds(0)) == std::future_status::ready, 5000);
        QTEST(busy.get(), "busy");
        QTEST(qgetenv("DBUS_SESSION_BUS_ADDRESS") != address, "shunned");
        Platform::restoreEnvironment();
        QCOMPARE(qgetenv("DBUS_SESSION_BUS_ADDRESS"), address);
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

private:
    BrowserRecorder browser;
    TestHome home;
    std::unique_ptr<ScriptedHttpServer> server;
};

QTEST_MAIN(TestTransport)
#include "tst_transport.moc"
