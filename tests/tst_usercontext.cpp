#include "app/usercontext.h"
#include "browserrecorder.h"
#include "net/chttpreply.h"
#include "scriptedhttpserver.h"
#include "testhome.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTest>
#include <QUrlQuery>

Q_DECLARE_METATYPE(ScriptedReply)

namespace {

const QString SessionPath = QStringLiteral("/user/getTempSession");

} // namespace

class TestUserContext : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void loadSession_data();
    void loadSession();
    void brokenSessionFile_data();
    void brokenSessionFile();
    void openSignedIn_data();
    void openSignedIn();
    void userNameReachesTheServiceIntact();
    void silentServiceOpensThePlainPage();
    void stoppedServiceOpensThePlainPage();

private:
    QUrl expected(const QString &relative) const { return QUrl(server->baseUrl() + relative); }

    BrowserRecorder browser;
    std::unique_ptr<TestHome> home;
    std::unique_ptr<ScriptedHttpServer> server;
};

void TestUserContext::init()
{
    home = std::make_unique<TestHome>();
    QVERIFY(home->isValid());
    home->activate();
    server = std::make_unique<ScriptedHttpServer>();
    QVERIFY(server->listen());
    browser.opened.clear();
}

void TestUserContext::cleanup()
{
    server.reset();
    home.reset();
}

void TestUserContext::loadSession_data()
{
    QTest::addColumn<QByteArray>("file"); // empty: no file at all
    QTest::addColumn<QString>("userId");
    QTest::addColumn<QString>("userName");

    QTest::newRow("no file") << QByteArray() << QString() << QString();
    QTest::newRow("signed in") << QByteArray("[usersession]\nuid=42\naccoutName=ann\n") << "42"
                               << "ann";
    QTest::newRow("id without name") << QByteArray("[usersession]\nuid=42\naccoutName=\n") << "42"
                                     << "";
    QTest::newRow("other group") << QByteArray("[general]\nuid=42\naccoutName=ann\n") << ""
                                 << "";
    QTest::newRow("chinese name") << QByteArray("[usersession]\nuid=7\naccoutName=张三\n") << "7"
                                  << "张三";
}

void TestUserContext::loadSession()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, userId);
    QFETCH(QString, userName);

    if (!file.isEmpty()) {
        home->signIn(QString(), QString());
        QFile session(home->sessionFile());
        QVERIFY(session.open(QIODevice::WriteOnly | QIODevice::Truncate));
        session.write(file);
    }
    UserContext user(Endpoints(server->baseUrl()));
    user.loadSession();
    QCOMPARE(user.userId(), userId);
    QCOMPARE(user.userName(), userName);
}

void TestUserContext::brokenSessionFile_data()
{
    QTest::addColumn<QByteArray>("file");

    QByteArray noise(64 * 1024, Qt::Uninitialized);
    QRandomGenerator generator(7);
    for (char &byte : noise)
        byte = char(generator.bounded(256));
    QTest::newRow("random bytes") << noise;
    QTest::newRow("10 MB") << QByteArray("[usersession]\nuid=") + QByteArray(10'000'000, '9');
    QTest::newRow("not UTF-8") << QByteArray("[usersession]\nuid=\xff\xfe\x80\naccoutName=\xc3(\n");
}

void TestUserContext::brokenSessionFile()
{
    QFETCH(QByteArray, file);

    home->signIn(QString(), QString());
    QFile session(home->sessionFile());
    QVERIFY(session.open(QIODevice::WriteOnly | QIODevice::Truncate));
    session.write(file);
    session.close();

    UserContext user(Endpoints(server->baseUrl()));
    user.loadSession();
    // Whatever was read, a link still opens a page of the service.
    server->setReply(SessionPath, ScriptedReply::json(R"({"code":"0","tempSession":""})"));
    user.openSignedIn(QStringLiteral("/user/index"));
    QCOMPARE(browser.opened, QList<QUrl>{expected(QStringLiteral("/user/index"))});
}

void TestUserContext::openSignedIn_data()
{
    QTest::addColumn<QString>("uid");
    QTest::addColumn<QString>("name");
    QTest::addColumn<ScriptedReply>("reply");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("opened");

    const QString index = QStringLiteral("/user/index");
    const auto answer = [](const QByteArray &body) { return ScriptedReply::json(body); };
    const ScriptedReply session = answer(R"({"code":"0","tempSession":"s-1"})");

    QTest::newRow("session") << "42"
                             << "ann" << session << index << 1
                             << "/user/skip?tempSession=s-1&skipUrl=/user/index";
    QTest::newRow("coupon page") << "42"
                                 << "ann" << session << "/mycenter/getCouponInfo" << 1
                                 << "/user/skip?tempSession=s-1&skipUrl=/mycenter/getCouponInfo";
    QTest::newRow("any code text")
        << "42"
        << "ann" << answer(R"({"code":"E17","tempSession":"s-2"})") << index << 1
        << "/user/skip?tempSession=s-2&skipUrl=/user/index";
    QTest::newRow("path with its own query") << "42"
                                             << "ann" << session << "/page?a=1&b=2" << 1
                                             << "/user/skip?tempSession=s-1&skipUrl=/page?a=1&b=2";
    QTest::newRow("session is encoded")
        << "42"
        << "ann" << answer(R"({"code":"0","tempSession":"a&b=c"})") << index << 1
        << "/user/skip?tempSession=a%26b%3Dc&skipUrl=/user/index";
    QTest::newRow("signed out") << ""
                                << "" << session << index << 0 << index;
    QTest::newRow("no user name") << "42"
                                  << "" << session << index << 0 << index;
    QTest::newRow("code as number")
        << "42"
        << "ann" << answer(R"({"code":0,"tempSession":"s-1"})") << index << 1 << index;
    QTest::newRow("empty session")
        << "42"
        << "ann" << answer(R"({"code":"0","tempSession":""})") << index << 1 << index;
    QTest::newRow("no session key") << "42"
                                    << "ann" << answer(R"({"code":"0"})") << index << 1 << index;
    QTest::newRow("session as number")
        << "42"
        << "ann" << answer(R"({"code":"0","tempSession":5})") << index << 1 << index;
    QTest::newRow("top level array") << "42"
                                     << "ann" << answer(R"(["s-1"])") << index << 1 << index;
    QTest::newRow("top level null") << "42"
                                    << "ann" << answer("null") << index << 1 << index;
    QTest::newRow("not found") << "42"
                               << "ann" << ScriptedReply::json(R"({"code":"0"})", 404) << index << 1
                               << index;
    QTest::newRow("redirected to a session")
        << "42"
        << "ann" << ScriptedReply::redirect(302, "/session/real") << index << 1
        << "/user/skip?tempSession=r-1&skipUrl=/user/index";
}

void TestUserContext::openSignedIn()
{
    QFETCH(QString, uid);
    QFETCH(QString, name);
    QFETCH(ScriptedReply, reply);
    QFETCH(QString, path);
    QFETCH(int, requests);
    QFETCH(QString, opened);

    home->signIn(uid, name);
    server->setReply(SessionPath, reply);
    server->setReply(QStringLiteral("/session/real"),
                     ScriptedReply::json(R"({"code":"0","tempSession":"r-1"})"));
    UserContext user(Endpoints(server->baseUrl()));
    user.loadSession();
    user.openSignedIn(path);

    QCOMPARE(server->requestsTo(SessionPath).size(), requests);
    QCOMPARE(browser.opened, QList<QUrl>{expected(opened)});
}

void TestUserContext::userNameReachesTheServiceIntact()
{
    const QString name = QStringLiteral("a&b#c d+e=张三");
    home->signIn(QStringLiteral("id 1&2"), name);
    server->setReply(SessionPath, ScriptedReply::json(R"({"code":"0","tempSession":"s"})"));
    UserContext user(Endpoints(server->baseUrl()));
    user.loadSession();
    int status = -1;
    QCOMPARE(user.requestTempSession(&status), QStringLiteral("s"));
    QCOMPARE(status, int(ReplyOk));

    const QList<RecordedRequest> requests = server->requestsTo(SessionPath);
    QCOMPARE(requests.size(), 1);
    const QUrlQuery query(requests.first().query);
    QCOMPARE(
        query.queryItems(QUrl::FullyDecoded),
        (QList<QPair<QString, QString>>{{QStringLiteral("userName"), name},
                                        {QStringLiteral("userId"), QStringLiteral("id 1&2")}}));
}

void TestUserContext::silentServiceOpensThePlainPage()
{
    home->signIn(QStringLiteral("42"), QStringLiteral("ann"));
    ScriptedReply silent;
    silent.silent = true;
    server->setReply(SessionPath, silent);
    UserContext user(Endpoints(server->baseUrl()));
    user.loadSession();

    QElapsedTimer clock;
    clock.start();
    user.openSignedIn(QStringLiteral("/user/index"));
    QVERIFY(clock.elapsed() >= 3900);
    QCOMPARE(browser.opened, QList<QUrl>{expected(QStringLiteral("/user/index"))});
}

void TestUserContext::stoppedServiceOpensThePlainPage()
{
    home->signIn(QStringLiteral("42"), QStringLiteral("ann"));
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
    probe.close();
    UserContext user{Endpoints(base)};
    user.loadSession();
    user.openSignedIn(QStringLiteral("/user/index"));
    QCOMPARE(browser.opened, QList<QUrl>{QUrl(base + QStringLiteral("/user/index"))});
}

QTEST_MAIN(TestUserContext)
#include "tst_usercontext.moc"
