#include "desktop/instanceguard.h"
#include "desktop/watchdog.h"
#include "testhome.h"

#include <QDir>
#include <QProcess>
#include <QTest>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool setMode(const QString &folder, int mode)
{
    return QDir().mkpath(folder) && ::chmod(QFile::encodeName(folder).constData(), mode) == 0;
}

} // namespace

class TestInstanceGuard : public QObject
{
    Q_OBJECT

private slots:
    void guard_data()
    {
        QTest::addColumn<int>("runtimeMode"); // -1: XDG_RUNTIME_DIR unset
        // The cache folder "open" to others or "foreign" (another's); a "link" at the guard's name
        QTest::addColumn<QString>("planted");
        QTest::addColumn<QString>("guardFolder"); // empty: no guard at all

        const QString cache = "xdg_cache_home/veltro", none;
        QTest::newRow("runtime folder") << 0700 << none << "xdg_runtime_dir";
        QTest::newRow("no runtime folder") << -1 << none << cache;
        QTest::newRow("runtime folder open to others") << 0755 << none << cache;
        QTest::newRow("own folder open to others") << -1 << "open" << cache;
        QTest::newRow("someone else's folder") << -1 << "foreign" << none;
        QTest::newRow("link at the guard's name") << 0700 << "link" << none;
    }

    void guard()
    {
        QFETCH(int, runtimeMode);
        QFETCH(QString, planted);
        QFETCH(QString, guardFolder);

        const TestHome home;
        home.activate();
        const QString runtime = home.path() + "/xdg_runtime_dir";
        QVERIFY(runtimeMode < 0 ? qunsetenv("XDG_RUNTIME_DIR") : setMode(runtime, runtimeMode));
        const QString own = home.path() + "/xdg_cache_home/veltro";
        QVERIFY(planted.isEmpty() || planted == "link" || setMode(own, 0755));
        QVERIFY(planted != "foreign" || ::chown(QFile::encodeName(own), 65534, 65534) == 0);
        QVERIFY(planted != "link" ||
                QFile::link(home.path() + "/target", runtime + "/veltro.lock"));

        // Where the guard lies tells that Qt's runtime folder, which may be in /tmp, was not asked.
        InstanceGuard first(QStringLiteral("veltro")), second(QStringLiteral("veltro"));
        QCOMPARE(first.tryAcquire(), !guardFolder.isEmpty());
        QVERIFY(!second.tryAcquire());
        QCOMPARE(QFileInfo(home.path() + '/' + guardFolder + "/veltro.lock").isFile(),
                 !guardFolder.isEmpty());
        QVERIFY(!QFileInfo::exists(home.path() + "/target"));
    }

    void stuckStart()
    {
        const QByteArray step = "a step that never returns";
        if (qEnvironmentVariableIsSet("VELTRO_STUCK_START")) { // the child, a start stuck there
            InstanceGuard guard(QStringLiteral("veltro"));
            QVERIFY(guard.tryAcquire());
            Watchdog watchdog(500);
            watchdog.enter(step.constData());
            QThread::sleep(600);
            QFAIL("the watchdog did not end the start");
        }
        const TestHome home;
        QProcessEnvironment environment = home.environment();
        environment.insert("VELTRO_STUCK_START", "1");
        environment.insert("QT_LOGGING_RULES", "veltro.app=true");
        QProcess start;
        start.setProcessEnvironment(environment);
        start.setProcessChannelMode(QProcess::MergedChannels);
        start.start(QCoreApplication::applicationFilePath(), {"stuckStart"});
        QVERIFY(start.waitForFinished(30000));
        QCOMPARE(start.exitCode(), EXIT_FAILURE);
        QVERIFY(start.readAll().contains("stuck in " + step));
        // The next start gets the guard at once.
        home.activate();
        QVERIFY(InstanceGuard(QStringLiteral("veltro")).tryAcquire());
    }
};

QTEST_GUILESS_MAIN(TestInstanceGuard)
#include "tst_instanceguard.moc"
