#include "app/instanceguard.h"
#include "app/usercontext.h"
#include "browserrecorder.h"
#include "net/chttpreply.h"
#include "scriptedhttpserver.h"
#include "testhome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTest>
#include <QUrlQuery>

Q_DECLARE_METATYPE(ScriptedReply)

namespace {

const QString SessionPath = QStringLiteral("/user/getTempSession");

int foreignMessages = 0;

// Counts what Qt would print by default: everything but the program's own diagnostics.
void countForeignMessages(QtMsgType, const QMessageLogContext &context, const QString &)
{
    if (!QByteArray(context.category).startsWith("veltro."))
        ++foreignMessages;
}

} // namespace

class TestUserContext : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void openSignedIn_data();
    void openSignedIn();
    void userNameReachesTheServiceIntact();
    void slowServiceOpensThePlainPage_data();
    void slowServiceOpensThePlainPage();
    void stoppedServiceOpensThePlainPage();
    void guard_data();
    void guard();

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

void TestUserContext::slowServiceOpensThePlainPage_data()
{
    QTest::addColumn<ScriptedReply>("reply");
    QTest::addColumn<int>("waitMs");

    ScriptedReply silent;
    silent.silent = true;
    QTest::newRow("4 s of silence") << silent << 4000;
    // Never silent for 4 s: only the bound on the whole request ends it.
    ScriptedReply drip;
    drip.endless = true;
    drip.pieceSize = 1;
    drip.pieceIntervalMs = 3000;
    QTest::newRow("15 s in all") << drip << 15000;
}

void TestUserContext::slowServiceOpensThePlainPage()
{
    QFETCH(ScriptedReply, reply);
    QFETCH(int, waitMs);

    home->signIn(QStringLiteral("42"), QStringLiteral("ann"));
    server->setReply(SessionPath, reply);
    UserContext user(Endpoints(server->baseUrl()));
    user.loadSession();

    QElapsedTimer clock;
    clock.start();
    user.openSignedIn(QStringLiteral("/user/index"));
    // The user waits this long with input held back; generous above for a loaded machine.
    QVERIFY2(clock.elapsed() >= waitMs - 100 && clock.elapsed() < waitMs + 3000,
             qPrintable(QString::number(clock.elapsed())));
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

void TestUserContext::guard_data()
{
    QTest::addColumn<QString>("runtimeFolder"); // empty: XDG_RUNTIME_DIR unset
    QTest::addColumn<bool>("ownFolderOpen"); // the program's cache folder, made open to others
    QTest::addColumn<bool>("linkPlanted"); // at the guard file's name in the runtime folder
    QTest::addColumn<QString>("guardFolder"); // empty: no guard at all

    const QString cache = QStringLiteral("xdg_cache_home/veltro");
    QTest::newRow("runtime folder") << "private" << false << false << "xdg_runtime_dir";
    QTest::newRow("no runtime folder") << "" << false << false << cache;
    QTest::newRow("runtime folder open to others") << "open" << false << false << cache;
    QTest::newRow("own folder open to others") << "" << true << false << "";
    QTest::newRow("link at the guard's name") << "private" << false << true << "";
}

void TestUserContext::guard()
{
    QFETCH(QString, runtimeFolder);
    QFETCH(bool, ownFolderOpen);
    QFETCH(bool, linkPlanted);
    QFETCH(QString, guardFolder);

    const QFile::Permissions open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
        QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    const QString runtime = home->path() + QStringLiteral("/xdg_runtime_dir");
    if (runtimeFolder.isEmpty())
        qunsetenv("XDG_RUNTIME_DIR");
    else if (runtimeFolder == QLatin1String("open"))
        QVERIFY(QFile::setPermissions(runtime, open));
    const QString own = home->path() + QStringLiteral("/xdg_cache_home/veltro");
    if (ownFolderOpen)
        QVERIFY(QDir().mkpath(own) && QFile::setPermissions(own, open));
    const QString target = home->path() + QStringLiteral("/target");
    if (linkPlanted)
        QVERIFY(QFile::link(target, runtime + QStringLiteral("/veltro.lock")));

    foreignMessages = 0;
    const QtMessageHandler testHandler = qInstallMessageHandler(countForeignMessages);
    auto restore = qScopeGuard([testHandler] { qInstallMessageHandler(testHandler); });
    InstanceGuard first(QStringLiteral("veltro"));
    InstanceGuard second(QStringLiteral("veltro"));
    QCOMPARE(first.tryAcquire(), !guardFolder.isEmpty());
    QVERIFY(!second.tryAcquire());
    QCOMPARE(foreignMessages, 0);
    const QString guardFile = home->path() + QLatin1Char('/') + guardFolder + "/veltro.lock";
    QCOMPARE(QFileInfo(guardFile).isFile(), !guardFolder.isEmpty());
    QVERIFY(!QFileInfo::exists(target));
}

QTEST_MAIN(TestUserContext)
#include "tst_usercontext.moc"
