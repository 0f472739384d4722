#include "datatable.h"
#include "desktop/busycheck.h"
#include "desktop/instanceguard.h"
#include "desktop/platform.h"
#include "desktop/watchdog.h"
#include "manager/couponoffer.h"
#include "manager/messageenvelope.h"
#include "manager/msgmanager.h"
#include "popup/popupfactory.h"
#include "serviceanswers.h"
#include "session/usercontext.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QString Base = "http://service.test";
const QString MessageAddress = Base + "/message/getMessage";
const QString CouponAddress = Base + "/couponActivity/getTimingCoupon?userId=a%26b%20c";
const QByteArray NoMessage = R"({"ret":0})";
const QByteArray NoCoupon = R"({"code":"1"})";
const QByteArray &Due = ServiceAnswers::DueCoupon;

// How a popup answers: kept by the manager, shown as a window that deletes itself, or refused.
enum Popup { Kept, Window, Refused };

// Popups that answer as told and record what the manager does; and whether the user is busy.
struct FakeDesktop : PopupFactory, BusyCheck
{
    struct Fake : VeltroBase
    {
        Fake(FakeDesktop &desktop, const QString &kind) : desktop(desktop), kind(kind) { }
        ~Fake() override { ++desktop.deleted; }
        void setContent(const Json::Value &content) override
        {
            const std::string shown =
                content["title"].asString() + ' ' + content["jmpUrl"].asString();
            desktop.asked = kind + ' ' + QString::fromStdString(shown).trimmed();
        }
        bool showPopup() override
        {
            if (desktop.kind == Window)
                desktop.windows.append(this);
            return desktop.kind != Refused;
        }
        bool keepByManager() override { return desktop.kind == Kept; }

        FakeDesktop &desktop;
        const QString kind;
    };

    std::unique_ptr<VeltroBase> createPopup(uint type) override
    {
        return std::make_unique<Fake>(*this, QString::number(type));
    }
    std::unique_ptr<VeltroBase> createCouponPopup() override
    {
        return std::make_unique<Fake>(*this, "coupon");
    }

    bool userIsBusy() const override { return busy; }

    Popup kind = Kept;
    bool busy = false;
    QString asked; // the kind, title and link of the popup asked for
    int deleted = 0;
    QList<VeltroBase *> windows;
};

using ServiceAnswers::message;

QByteArray with(const QByteArray &from, const QByteArray &to)
{
    return QByteArray(Due).replace(from, to);
}

#ifndef Q_OS_WIN
bool setMode(const QString &folder, int mode)
{
    return QDir().mkpath(folder) && ::chmod(QFile::encodeName(folder).constData(), mode) == 0;
}
#endif

} // namespace

// One start without a display: its guard and watchdog, the readers of what the service and
// Lumaview hand it, and the message manager on 2026-12-06 with its store as "key=value ...".
class TestStart : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { qDeleteAll(desktop.windows); }

    void start_data()
    {
        // Asked: m for the message address, c for the coupon address. Shown: the popup asked for,
        // whether it shows or not. A null answer: the request fails. Busy: presenting, full
        // screen or locked.
        columns<QString, QString, QString, QString, QByteArray, QByteArray, int, bool, bool>(
            "before", "asked", "shown", "after", "message", "coupon", "popup", "signedIn", "busy");

        const auto row = [](const char *name, const char *before, const char *asked,
                            const QString &shown, const char *after,
                            const QByteArray &message = NoMessage,
                            const QByteArray &coupon = NoCoupon, Popup popup = Kept,
                            bool signedIn = true, bool busy = false) {
            QTest::newRow(name) << QString(before) << QString(asked) << shown << QString(after)
                                << message << coupon << int(popup) << signedIn << busy;
        };
        const QString link = " http://service.test/user/index";
        const QString got = "coupon You have got a 50 coupon!" + link;

        row("first start", "", "mc", "", "Date=2026-12-06 AvaTimes=1 LastId=4294967295 CouponId=");
        row("budget spent", "AvaTimes=0", "", "", "AvaTimes=0");
        row("unreadable date", "Date=yesterday AvaTimes=0", "", "", "Date=2026-12-06 AvaTimes=0");
        row("budget above two", "AvaTimes=7", "mc", "", "AvaTimes=1");
        row("budget is text", "AvaTimes=many", "", "", "AvaTimes=many");
        row("new day", "Date=2026-12-01 AvaTimes=0 CouponChecked=1", "mc", "",
            "Date=2026-12-06 AvaTimes=1 CouponChecked=1");
        row("clock set back", "Date=2026-12-07 AvaTimes=0", "mc", "", "Date=2026-12-06 AvaTimes=1");
        row("last unit, then the coupon", "AvaTimes=1", "mc", "", "AvaTimes=0 CouponChecked=1");
        row("failed request is free", "", "mc", "", "AvaTimes=2", QByteArray());
        row("coupon flag out of range", "CouponChecked=4294967295", "mc", "", "CouponChecked=1");

        row("message", "", "m", "1 Hi", "AvaTimes=1 LastId=17", message("1", "17"));
        row("already shown", "LastId=17", "mc", "", "AvaTimes=1 LastId=17", message("1", "17"));
        row("smaller id is new", "LastId=17", "m", "1 Hi", "LastId=16", message("1", "16"));
        row("id that means none yet", "", "mc", "", "LastId=4294967295",
            message("1", "4294967295"));
        row("update notice", "", "m", "5 Hi", "LastId=18", message("5", "18"), NoCoupon, Window);
        row("refused", "", "mc", "1 Hi", "LastId=4294967295", message("1", "17"), NoCoupon,
            Refused);
        row("unreadable envelope", "", "mc", "", "LastId=4294967295", R"({"ret":"1"})");
        row("content no JSON", "", "mc", "", "LastId=4294967295", message("1", "17", "{x"));

        row("due coupon", "", "mc", got, "CouponChecked=1 CouponId=c1", NoMessage, Due);
        row("same coupon", "CouponId=c1", "mc", "coupon You have unused coupon!" + link,
            "CouponId=c1", NoMessage, Due);
        row("coupon refused", "", "mc", got, "CouponChecked=1 CouponId=", NoMessage, Due, Refused);
        row("a message shown instead", "", "m", "1 Hi", "CouponChecked=0", message("1", "17"), Due);
        row("signed out", "", "m", "", "CouponChecked=0 CouponId=", NoMessage, Due, Kept, false);
        row("coupon checked today", "CouponChecked=1", "m", "", "CouponChecked=1", NoMessage, Due);
        row("coupon request failed", "", "mc", "", "CouponChecked=0", NoMessage, QByteArray());
        row("coupon id over 256 bytes", "", "mc", "", "CouponChecked=1 CouponId=", NoMessage,
            QByteArray(Due).replace("c1", QString(129, QChar(0xe9)).toUtf8()));

        const char *const full =
            "Date=2026-12-06 AvaTimes=1 LastId=16 CouponChecked=0 CouponId=c-1";
        row("busy: no message", full, "", "", full, message("1", "17"), Due, Kept, true, true);
        row("busy on a new day", "Date=2026-12-01 AvaTimes=0 CouponChecked=1", "", "",
            "Date=2026-12-06 AvaTimes=2 CouponChecked=0", NoMessage, Due, Kept, true, true);
    }

    void start()
    {
        QFETCH(QString, before);
        QFETCH(QString, shown);
        QFETCH(QString, after);
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, coupon);
        QFETCH(int, popup);
        QFETCH(bool, signedIn);
        QFETCH(bool, busy);

        QSettings store(storeFile(), QSettings::IniFormat);
        store.clear();
        for (const QString &pair : before.split(' ', Qt::SkipEmptyParts))
            store.setValue(pair.section('=', 0, 0), pair.section('=', 1));
        store.sync();
        desktop = FakeDesktop();
        desktop.kind = Popup(popup);
        desktop.busy = busy;
        QString requests;
        const auto fetch = [&](const QString &address) -> std::optional<QByteArray> {
            requests += address == MessageAddress ? 'm' : address == CouponAddress ? 'c' : '?';
            const QByteArray &answer = address == MessageAddress ? message : coupon;
            return answer.isNull() ? std::nullopt : std::optional(answer);
        };
        const UserContext user(Endpoints(Base), signedIn ? "a&b c" : QString(), "ann");
        auto manager = std::make_unique<MsgManager>(
            std::make_unique<QSettings>(storeFile(), QSettings::IniFormat), user, desktop, desktop,
            [] { return QDate(2026, 12, 6); }, fetch);

        QCOMPARE(manager->run(), !shown.isEmpty() && popup != Refused);
        QTEST(requests, "asked");
        QCOMPARE(desktop.asked, shown);
        // A refused popup is freed at once, a kept one with the manager; a window frees itself.
        QCOMPARE(desktop.deleted, popup == Refused ? int(!shown.isEmpty()) : 0);
        // Each write is in the file at once, while the manager still runs.
        QFile file(storeFile());
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (const QString &pair : after.split(' ', Qt::SkipEmptyParts))
            QVERIFY2(lines.contains(pair.toUtf8()), qPrintable(pair));
        manager.reset();
        QCOMPARE(desktop.deleted, popup == Window ? 0 : int(!shown.isEmpty()));
    }

    void storeIgnoresSharedValues()
    {
        // Values shared by the organisation must not spend or reset this user's budget.
#ifdef Q_OS_WIN
        QSettings shared("HKEY_CURRENT_USER\\Software\\Korvane\\OrganizationDefaults",
                         QSettings::NativeFormat);
#else
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
        QSettings shared(home.filePath("Korvane.conf"), QSettings::IniFormat);
#endif
        shared.setValue("VeltroPara/AvaTimes", 0);
        shared.sync();
        QVERIFY(!Platform::openStore()->contains("AvaTimes"));
        shared.clear();
    }

    void messageEnvelope_data()
    {
        columns<QByteArray, uint, uint>("answer", "type", "id"); // type 0: no message
        // The service's message, its bytes changed from one text to another.
        const QByteArray plain = message("1", "17");
        const auto row = [&](const char *name, const QByteArray &from, const QByteArray &to,
                             uint type, uint id) {
            QTest::newRow(name) << QByteArray(plain).replace(from, to) << type << id;
        };
        row("message", "", "", 1, 17);
        row("largest id", "\"17\"", "\"4294967295\"", 1, UINT_MAX);
        row("ret as real", "\"ret\":1", "\"ret\":1.9", 1, 17);
        row("ret above int", "\"ret\":1", "\"ret\":4294967297", 0, 0);
        row("ret as text", "\"ret\":1", "\"ret\":\"1\"", 0, 0);
        row("ret 0", "\"ret\":1", "\"ret\":0", 0, 0);
        row("type as number", "\"type\":\"1\"", "\"type\":1", 0, 0);
        row("type 0", "\"type\":\"1\"", "\"type\":\"0\"", 0, 0);
        row("type not decimal", "\"type\":\"1\"", "\"type\":\"0x1\"", 0, 0);
        row("id not a number", "\"17\"", "\"-1\"", 0, 0);
        row("msgData as object", "\"msgData\":", "\"msgData\":{},\"x\":", 0, 0);
        row("body array", "{\"type\"", "[],\"x\":{\"type\"", 0, 0);
        row("comments", "\"ret\":", "// c\n\"ret\": /* x */", 1, 17);
        row("byte-order mark", "{\"ret\"", "\xEF\xBB\xBF{\"ret\"", 1, 17);
        row("second byte-order mark", "{\"ret\"", "\xEF\xBB\xBF\xEF\xBB\xBF{\"ret\"", 0, 0);
        row("trailing comma", "}}", "},}", 0, 0);
        row("zero byte ends it", "}}", QByteArray("}}\0junk", 7), 1, 17);
        row("zero byte inside a text", "17",
            QByteArray("1\0"
                       "7",
                       3),
            0, 0);
        row("deep nesting", "\"ret\"",
            "\"x\":" + QByteArray(100000, '[') + QByteArray(100000, ']') + ",\"ret\"", 0, 0);
    }

    void messageEnvelope()
    {
        QFETCH(QByteArray, answer);
        QFETCH(uint, type);

        const std::optional<MessageEnvelope> read = MessageEnvelope::read(answer);
        QCOMPARE(read ? read->type : 0u, type);
        QTEST(read ? read->id : 0u, "id");
        QCOMPARE(read ? read->msgData : QByteArray(), QByteArray(type ? R"({"title":"Hi"})" : ""));
    }

    void couponOffer_data()
    {
        columns<QByteArray, QString, QString, QString>("answer", "storedId", "title", "brief");
        // No title: no popup due.

        const auto row = [](const char *name, const QByteArray &answer, const QString &title = {},
                            const QString &brief = {}, const char *storedId = "") {
            QTest::newRow(name) << answer << QString::fromUtf8(storedId) << title << brief;
        };
        // Times in 2017, the year left out.
        const auto vipEnds = [](const char *time) { return with("05-04 00:00:00", time); };
        // VIP ended two days before the service's time; the coupon ends at endDate.
        const auto vipEnded = [&](const char *endDate = "05-31 23:59:59") {
            return vipEnds("04-29 12:00:00").replace("05-31 23:59:59", endDate);
        };
        const QString got = "You have got a 50 coupon!", unused = "You have unused coupon!";
        const QString tail = "300502017-05-31", in3 = "after 3 days" + tail;
        const QString ago2 = "2 days before" + tail, today = "today(2017-05-01)" + tail;
        row("new coupon", Due, got, "coupon_vip_new" + in3);
        row("same coupon", Due, unused, "coupon_vip_unused" + in3, "c1");
        row("ids compare by case", Due, got, "coupon_vip_new" + in3, "C1");
        row("VIP ended", vipEnded(), got, "coupon_not_vip_new" + ago2);
        row("VIP ended, same", vipEnded(), unused, "coupon_not_vip_not_new" + ago2, "c1");
        row("VIP in 8 days", vipEnds("05-09 00:00:00"), got, "coupon_vip_newafter 8 days" + tail);
        row("VIP in 9 days", vipEnds("05-10 00:00:00"));
        row("VIP 8 days ago", vipEnds("04-23 23:59:59"), got,
            "coupon_not_vip_new8 days before" + tail);
        row("VIP 9 days ago", vipEnds("04-22 23:59:59"));
        row("VIP ended today", vipEnds("05-01 08:00:00"), got, "coupon_not_vip_new" + today);
        row("VIP ends this second", vipEnds("05-01 10:00:00"), got, "coupon_vip_new" + today);
        row("coupon's last day", vipEnded("05-01 23:00:00"), "Coupon will expire!",
            "coupon_not_vip_last2 days before50 coupon30050", "c1");
        row("coupon ends this second", vipEnded("05-01 10:00:00"));
        row("coupon ends tomorrow", vipEnded("05-02 00:00:01"), got,
            "coupon_not_vip_new2 days before300502017-05-02");
        row("VIP runs, coupon ended", with("05-31 23:59:59", "04-01 00:00:00"), got,
            "coupon_vip_newafter 3 days300502017-04-01");
        row("no id, none stored", with(R"("id":"c1",)", ""), unused, "coupon_vip_unused" + in3);
        row("values kept as text", with(R"("50")", R"("<b>%1")").replace(R"("300")", R"("&lt;%4")"),
            "You have got a &lt;b&gt;%1 coupon!",
            "coupon_vip_newafter 3 days&amp;lt;%4&lt;b&gt;%12017-05-31");
        row("id of 256 bytes", with("c1", QByteArray(256, 'x')), got, "coupon_vip_new" + in3);
        row("id over 256 bytes", with("c1", QString(129, QChar(0xe9)).toUtf8()));
        row("code as a number", with(R"("code":"0")", R"("code":0)"));
        row("code other than 0", with(R"("code":"0")", R"("code":"1")"));
        row("unreadable time", with("2017-05-01 10:00:00", "01.05.2017 10:00"));
        row("coupon is an array", with(R"("coupon":{)", R"("coupon":[],"x":{)"));
    }

    void couponOffer()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, storedId);

        const std::optional<CouponOffer> offer = CouponOffer::evaluate(answer, storedId, QString());
        QTEST(offer ? offer->title : QString(), "title");
        QTEST(offer ? offer->brief : QString(), "brief");
    }

    void sessionFile_data()
    {
        // Both empty: no session file. The file, if set, as Lumaview writes it on a Chinese
        // Windows.
        columns<QString, QString, QByteArray>("userId", "userName", "file");
        const auto row = [](const char *name, const char *id, const char *user,
                            const QByteArray &file = {}) {
            QTest::newRow(name) << QString(id) << QString(user) << file;
        };
        row("no file", "", "");
        row("signed in", "42", "张三");
        row("no uid key", "", "ann");
        row("id without name", "42", "");
        row("name in GBK", "42", "张三",
            "[a]\naccoutName=b\n[usersession]\nuid=42\naccoutName=\xd5\xc5\xc8\xfd");
        // The name's last byte is a backslash. Keys match as QSettings matches them here (by case
        // but on Windows), and the last counts.
#ifdef Q_OS_WIN
        const char *const lastId = "9";
#else
        const char *const lastId = "42";
#endif
        row("GBK name ending in 0x5C", lastId, "嘰",
            "[usersession]\nuid=7\naccoutName=\x87\x5c\nuid=42\nUID=8\n[UserSession]\nuid=9");
    }

    void sessionFile()
    {
        QFETCH(QString, userId);
        QFETCH(QString, userName);
        QFETCH(QByteArray, file);

        const TestHome home;
        home.activate();
        QFile::remove(home.sessionFile());
        if (!userId.isEmpty() || !userName.isEmpty())
            home.signIn(userId, userName);
        QFile session(home.sessionFile());
        QVERIFY(file.isEmpty() ||
                (session.open(QIODevice::WriteOnly) && session.write(file) && session.flush()));
        UserContext user{Endpoints()};
#ifdef Q_OS_WIN
        user.loadSession(); // in the system's code page: the tests run with 936
#else
        user.loadSession(QStringDecoder("GBK"));
#endif
        QCOMPARE(user.userId(), userId);
        QCOMPARE(user.userName(), userName);
    }

    void guard_data()
    {
        // A runtime mode of -1: XDG_RUNTIME_DIR unset. Planted: the cache folder "open" to others
        // or "foreign" (another's), a "link" at the guard's name, or the cache a "link on the
        // way" to a folder whose guard folder is open to others. No guard folder: no guard.
        columns<int, QString, QString>("runtimeMode", "planted", "guardFolder");

        const QString cache = "xdg_cache_home/veltro", none;
#ifdef Q_OS_WIN
        // There the guard is the session's shared memory, whatever the folders hold.
        QTest::newRow("shared memory") << -1 << none << "the session";
#else
        QTest::newRow("runtime folder") << 0700 << none << "xdg_runtime_dir";
        QTest::newRow("no runtime folder") << -1 << none << cache;
        QTest::newRow("runtime folder open to others") << 0755 << none << cache;
        QTest::newRow("own folder open to others") << -1 << "open" << cache;
        QTest::newRow("someone else's folder") << -1 << "foreign" << none;
        QTest::newRow("link at the guard's name") << 0700 << "link" << none;
        QTest::newRow("link on the way to the cache") << -1 << "link on the way" << none;
#endif
    }

    void guard()
    {
        QFETCH(QString, guardFolder);

        const TestHome home;
        home.activate();
#ifndef Q_OS_WIN
        QFETCH(int, runtimeMode);
        QFETCH(QString, planted);
        const QString runtime = home.path() + "/xdg_runtime_dir";
        QVERIFY(runtimeMode < 0 ? qunsetenv("XDG_RUNTIME_DIR") : setMode(runtime, runtimeMode));
        const QString own = home.path() + "/xdg_cache_home/veltro";
        QVERIFY(planted.isEmpty() || planted == "link" || setMode(own, 0755));
        QVERIFY(planted != "foreign" || ::chown(QFile::encodeName(own), 65534, 65534) == 0);
        QVERIFY(planted != "link" ||
                QFile::link(home.path() + "/target", runtime + "/veltro.lock"));
        const QString elsewhere = home.path() + "/elsewhere";
        QVERIFY(planted != "link on the way" ||
                (setMode(elsewhere + "/veltro", 0755) &&
                 QDir(home.path() + "/xdg_cache_home").removeRecursively() &&
                 QFile::link(elsewhere, home.path() + "/xdg_cache_home")));
#endif

        // Where the guard lies tells that Qt's runtime folder, which may be in /tmp, was not asked.
        InstanceGuard first("veltro"), second("veltro");
        QCOMPARE(first.tryAcquire(), !guardFolder.isEmpty());
        QVERIFY(!second.tryAcquire());
#ifndef Q_OS_WIN
        QCOMPARE(QFileInfo(home.path() + '/' + guardFolder + "/veltro.lock").isFile(),
                 !guardFolder.isEmpty());
        QVERIFY(!QFileInfo::exists(home.path() + "/target"));
        // No repair reaches a folder through a link.
        QVERIFY(planted != "link on the way" ||
                QFileInfo(elsewhere + "/veltro").permissions().testFlag(QFile::ExeOther));
#endif
    }

    void stuckStart()
    {
        const QByteArray step = "a step that never returns";
        if (qEnvironmentVariableIsSet("VELTRO_STUCK_START")) { // the child, a start stuck there
            InstanceGuard guard("veltro");
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
        QVERIFY(InstanceGuard("veltro").tryAcquire());
    }

private:
    QString storeFile() const
    {
        return home.filePath("store.ini");
    }

    QTemporaryDir home;
    FakeDesktop desktop;
};

QTEST_GUILESS_MAIN(TestStart)
#include "tst_start.moc"
