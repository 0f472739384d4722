#include "app/instanceguard.h"
#include "app/usercontext.h"
#include "browserrecorder.h"
#include "scriptedhttpserver.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTest>

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

    void loadSession_data();
    void loadSession();
    void brokenSessionFile_data();
    void brokenSessionFile();
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
