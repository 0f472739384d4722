#include "standinservice.h"
#include "testhome.h"
#include "veltroprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSettings>
#include <QTest>

namespace {

const QString Base = QStringLiteral(VELTRO_SERVICE_URL);
constexpr int StartMs = 60000;

QJsonObject messageRoute(const QString &id, const QString &jmpUrl)
{
    return StandInService::messageRoute(QStringLiteral("1"), id,
                                        {{QStringLiteral("title"), QStringLiteral("Title")},
                                         {QStringLiteral("brief"), QStringLiteral("Brief")},
                                         {QStringLiteral("jmpUrl"), jmpUrl}});
}

QByteArray noise(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

} // namespace

// The program under stress from outside: many copies, a kill, a broken store, hostile links.
class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void manyCopiesAtOnce();
    void killedWhileShowing();
    void brokenStore_data();
    void brokenStore();
    void hostileLink_data();
    void hostileLink();

private:
    QRect showAndWait(VeltroProcess &veltro);

    std::unique_ptr<TestHome> home;
    std::unique_ptr<StandInService> service;
};

void TestFaults::initTestCase()
{
    if (!StandInService::canPlayTheService())
        QSKIP("the program was built for a service that is not on this machine");
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X server (run under xvfb-run)");
}

void TestFaults::init()
{
    home = std::make_unique<TestHome>();
    QVERIFY(home->isValid());
    service = std::make_unique<StandInService>(home->path());
    QVERIFY(service->start());
}

void TestFaults::cleanup()
{
    service.reset();
    home.reset();
}

QRect TestFaults::showAndWait(VeltroProcess &veltro)
{
    veltro.start();
    const QRect popup = veltro.waitForPopup(StartMs);
    if (popup.isEmpty())
        qWarning().noquote() << veltro.diagnostics();
    return popup;
}

void TestFaults::manyCopiesAtOnce()
{
    // The one copy that passes the guard stays in its request, so none can pass after it.
    service->setRoutes(
        {{QStringLiteral("/message/getMessage"), QJsonObject{{QStringLiteral("silent"), true}}}});
    std::vector<std::unique_ptr<VeltroProcess>> copies;
    for (int i = 0; i < 8; ++i)
        copies.push_back(std::make_unique<VeltroProcess>(*home));
    for (auto &copy : copies)
        copy->start();

    int ended = 0;
    for (auto &copy : copies) {
        if (copy->waitForExit(8000)) {
            QCOMPARE(copy->exitCode(), 0);
            ++ended;
        }
    }
    QCOMPARE(ended, 7);
    QTRY_COMPARE_WITH_TIMEOUT(service->requests().size(), 1, StartMs);
    copies.clear(); // kills the holder while it waits

    const QSettings store(home->storeFile(), QSettings::IniFormat);
    QCOMPARE(store.status(), QSettings::NoError);
    QCOMPARE(store.value(QStringLiteral("VeltroPara/AvaTimes")).toString(), QStringLiteral("2"));
    QCOMPARE(store.value(QStringLiteral("VeltroPara/LastId")).toString(),
             QStringLiteral("4294967295"));
}

void TestFaults::killedWhileShowing()
{
    service->setRoutes({{QStringLiteral("/message/getMessage"),
                         messageRoute(QStringLiteral("17"), Base + QStringLiteral("/news"))}});
    {
        VeltroProcess veltro(*home);
        QVERIFY(!showAndWait(veltro).isEmpty());
        veltro.kill();
    }
    const QSettings store(home->storeFile(), QSettings::IniFormat);
    QCOMPARE(store.value(QStringLiteral("VeltroPara/AvaTimes")).toString(), QStringLiteral("1"));
    QCOMPARE(store.value(QStringLiteral("VeltroPara/LastId")).toString(), QStringLiteral("17"));

    service->setRoutes({{QStringLiteral("/message/getMessage"),
                         messageRoute(QStringLiteral("18"), Base + QStringLiteral("/news"))}});
    VeltroProcess next(*home);
    QVERIFY(!showAndWait(next).isEmpty());
    next.kill();
    QCOMPARE(QSettings(home->storeFile(), QSettings::IniFormat)
                 .value(QStringLiteral("VeltroPara/AvaTimes"))
                 .toString(),
             QStringLiteral("0"));
}

void TestFaults::brokenStore_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("budgetKept");

    QTest::newRow("random bytes") << "noise" << true;
    QTest::newRow("unreadable") << "directory" << false;
    QTest::newRow("nothing can be written") << "no folder" << false;
}

void TestFaults::brokenStore()
{
    QFETCH(QString, damage);
    QFETCH(bool, budgetKept);

    const QString store = home->storeFile();
    QDir().mkpath(QFileInfo(store).path());
    if (damage == QLatin1String("noise")) {
        QFile file(store);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(noise(16 * 1024, 11));
    } else if (damage == QLatin1String("directory")) {
        // Root reads any file, so a folder in its place is what stays unreadable.
        QVERIFY(QDir().mkpath(store));
    } else {
        QVERIFY(QDir(QFileInfo(store).path()).removeRecursively());
        QFile blocker(QFileInfo(store).path());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    service->setRoutes({{QStringLiteral("/message/getMessage"),
                         messageRoute(QStringLiteral("21"), Base + QStringLiteral("/news"))}});

    for (int start = 0; start < 2; ++start) {
        VeltroProcess veltro(*home);
        const QRect popup = showAndWait(veltro);
        if (start == 1 && budgetKept) {
            // The first start repaired the store: the same message is not shown again.
            QVERIFY(popup.isEmpty());
            QVERIFY(veltro.waitForExit(StartMs));
        } else {
            // Without a store the program runs on its defaults every time.
            QVERIFY(!popup.isEmpty());
            VeltroProcess::click(popup.topLeft() + QPoint(popup.width() - 15, 15));
            QVERIFY(veltro.waitForExit(StartMs));
        }
        QVERIFY(!veltro.crashed());
        QCOMPARE(veltro.exitCode(), 0);
    }
    if (budgetKept) {
        const QSettings repaired(store, QSettings::IniFormat);
        QCOMPARE(repaired.value(QStringLiteral("VeltroPara/LastId")).toString(),
                 QStringLiteral("21"));
        QCOMPARE(repaired.value(QStringLiteral("VeltroPara/AvaTimes")).toString(),
                 QStringLiteral("0"));
    }
}

void TestFaults::hostileLink_data()
{
    QTest::addColumn<QString>("jmpUrl");

    QTest::newRow("file") << "file:///etc/passwd";
    QTest::newRow("smb") << "smb://attacker.example/share/run.exe";
    QTest::newRow("javascript") << "javascript:alert(1)";
    QTest::newRow("data") << "data:text/html,<script>alert(1)</script>";
    QTest::newRow("custom scheme") << "lumaview-update://install?package=evil";
}

void TestFaults::hostileLink()
{
    QFETCH(QString, jmpUrl);

    service->setRoutes(
        {{QStringLiteral("/message/getMessage"), messageRoute(QStringLiteral("31"), jmpUrl)}});
    VeltroProcess veltro(*home);
    const QRect popup = showAndWait(veltro);
    QVERIFY(!popup.isEmpty());
    VeltroProcess::click(popup.topLeft() + QPoint(150, 95));
    QVERIFY(veltro.waitForExit(StartMs));
    QCOMPARE(veltro.exitCode(), 0);
    QCOMPARE(veltro.browserLaunches(), QStringList());
}

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
