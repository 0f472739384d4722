#include "desktop/busycheck.h"
#include "desktop/platform.h"
#include "manager/msgmanager.h"
#include "popup/popupfactory.h"
#include "session/usercontext.h"

#include <json/writer.h>

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Base = QStringLiteral("http://service.test");
const QString MessageAddress = Base + QStringLiteral("/message/getMessage");
const QString CouponAddress =
    Base + QStringLiteral("/couponActivity/getTimingCoupon?userId=a%26b%20c");
const QByteArray NoMessage = R"({"ret":0})";
const QByteArray NoCoupon = R"({"code":"1"})";
const QByteArray Due = R"({"code":"0","coupon":{"id":"c-9","couponName":"n","couponMoney":"50",)"
                       R"("thresholdMoney":"300","endDate":"2026-12-31 23:59:59"},)"
                       R"("vipEndDate":"2026-12-09 00:00:00","stime":"2026-12-06 10:00:00"})";

// How a popup answers: shown and kept by the manager, shown as a window that deletes itself
// when closed, or refused.
enum Popup { Kept, Window, Refused };

// Makes popups that answer as told, and records what the manager does with them.
class FakePopups : public PopupFactory
{
public:
    std::unique_ptr<VeltroBase> createPopup(uint type) override;
    std::unique_ptr<VeltroBase> createCouponPopup() override;

    Popup kind = Kept;
    QString asked; // the kind, title and link of the popup asked for
    int deleted = 0;
    QList<VeltroBase *> windows;
};

class FakePopup : public VeltroBase
{
public:
    FakePopup(FakePopups &popups, const QString &kind) : popups(popups), kind(kind) { }
    ~FakePopup() override { ++popups.deleted; }
    void setContent(const Json::Value &content) override
    {
        const std::string shown = content["title"].asString() + ' ' + content["jmpUrl"].asString();
        popups.asked = kind + ' ' + QString::fromStdString(shown).trimmed();
    }
    bool showPopup() override
    {
        if (popups.kind == Window)
            popups.windows.append(this);
        return popups.kind != Refused;
    }
    bool keepByManager() override { return popups.kind == Kept; }

private:
    FakePopups &popups;
    QString kind;
};

std::unique_ptr<VeltroBase> FakePopups::createPopup(uint type)
{
    return std::make_unique<FakePopup>(*this, QString::number(type));
}

std::unique_ptr<VeltroBase> FakePopups::createCouponPopup()
{
    return std::make_unique<FakePopup>(*this, QStringLiteral("coupon"));
}

struct FixedBusyCheck : BusyCheck
{
    bool userIsBusy() const override { return busy; }
    bool busy = false;
};

QByteArray envelope(const char *type, const char *id, const char *content = R"({"title":"Hi"})")
{
    return R"({"ret":1,"body":{"type":")" + QByteArray(type) + R"(","id":")" + id +
        R"(","msgData":)" + QByteArray::fromStdString(Json::valueToQuotedString(content)) + "}}";
}

} // namespace

// One start of the program on 2026-12-06, its store written as "key=value ...".
class TestMsgManager : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { qDeleteAll(popups.windows); }
    void start_data();
    void start();
    void storeIgnoresSharedValues();

private:
    QString storeFile() const { return home.filePath(QStringLiteral("store.ini")); }

    QTemporaryDir home;
    FakePopups popups;
};

void TestMsgManager::start_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("asked"); // m for the message address, c for the coupon address
    QTest::addColumn<QString>("shown"); // the popup asked for, whether it shows or not
    QTest::addColumn<QString>("after");
    QTest::addColumn<QByteArray>("message"); // null: the request fails
    QTest::addColumn<QByteArray>("coupon");
    QTest::addColumn<int>("popup");
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<bool>("busy"); // presenting, full screen or locked

    const auto row = [](const char *name, const char *before, const char *asked,
                        const QString &shown, const char *after,
                        const QByteArray &message = NoMessage, const QByteArray &coupon = NoCoupon,
                        Popup popup = Kept, bool signedIn = true, bool busy = false) {
        QTest::newRow(name) << QString(before) << QString(asked) << shown << QString(after)
                            << message << coupon << int(popup) << signedIn << busy;
    };
    const QString link = QStringLiteral(" http://service.test/user/index");
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

    row("message", "", "m", "1 Hi", "AvaTimes=1 LastId=17", envelope("1", "17"));
    row("already shown", "LastId=17", "mc", "", "AvaTimes=1 LastId=17", envelope("1", "17"));
    row("smaller id is new", "LastId=17", "m", "1 Hi", "LastId=16", envelope("1", "16"));
    row("id that means none yet", "", "mc", "", "LastId=4294967295", envelope("1", "4294967295"));
    row("update notice", "", "m", "5 Hi", "LastId=18", envelope("5", "18"), NoCoupon, Window);
    row("refused", "", "mc", "1 Hi", "LastId=4294967295", envelope("1", "17"), NoCoupon, Refused);
    row("unreadable envelope", "", "mc", "", "LastId=4294967295", R"({"ret":"1"})");
    row("content no JSON", "", "mc", "", "LastId=4294967295", envelope("1", "17", "{x"));

    row("due coupon", "", "mc", got, "CouponChecked=1 CouponId=c-9", NoMessage, Due);
    row("same coupon", "CouponId=c-9", "mc", "coupon You have unused coupon!" + link,
        "CouponId=c-9", NoMessage, Due);
    row("coupon refused", "", "mc", got, "CouponChecked=1 CouponId=", NoMessage, Due, Refused);
    row("a message shown instead", "", "m", "1 Hi", "CouponChecked=0", envelope("1", "17"), Due);
    row("signed out", "", "m", "", "CouponChecked=0 CouponId=", NoMessage, Due, Kept, false);
    row("coupon checked today", "CouponChecked=1", "m", "", "CouponChecked=1", NoMessage, Due);
    row("coupon request failed", "", "mc", "", "CouponChecked=0", NoMessage, QByteArray());
    row("coupon id over 256 bytes", "", "mc", "", "CouponChecked=1 CouponId=", NoMessage,
        QByteArray(Due).replace("c-9", QString(129, QChar(0xe9)).toUtf8()));

    const char *const full = "Date=2026-12-06 AvaTimes=1 LastId=16 CouponChecked=0 CouponId=c-1";
    row("busy: no message", full, "", "", full, envelope("1", "17"), Due, Kept, true, true);
    row("busy: no coupon", full, "", "", full, NoMessage, Due, Kept, true, true);
    row("busy on a new day", "Date=2026-12-01 AvaTimes=0 CouponChecked=1", "", "",
        "Date=2026-12-06 AvaTimes=2 CouponChecked=0", NoMessage, Due, Kept, true, true);
}

void TestMsgManager::start()
{
    QFETCH(QString, before);
    QFETCH(QString, asked);
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
    popups = FakePopups();
    popups.kind = Popup(popup);
    QString requests;
    const auto fetch = [&](const QString &address) -> std::optional<QByteArray> {
        requests += address == MessageAddress ? 'm' : address == CouponAddress ? 'c' : '?';
        const QByteArray &answer = address == MessageAddress ? message : coupon;
        return answer.isNull() ? std::nullopt : std::optional(answer);
    };
    const UserContext user(Endpoints(Base), signedIn ? QStringLiteral("a&b c") : QString(),
                           QStringLiteral("ann"));
    FixedBusyCheck desktop;
    desktop.busy = busy;
    auto manager = std::make_unique<MsgManager>(
        std::make_unique<QSettings>(storeFile(), QSettings::IniFormat), user, popups, desktop,
        [] { return QDate(2026, 12, 6); }, fetch);

    QCOMPARE(manager->run(), !shown.isEmpty() && popup != Refused);
    QCOMPARE(requests, asked);
    QCOMPARE(popups.asked, shown);
    // A refused popup is freed at once, a kept one with the manager; a window frees itself.
    QCOMPARE(popups.deleted, popup == Refused ? int(!shown.isEmpty()) : 0);
    // Each write is in the file at once, while the manager still runs.
    QFile file(storeFile());
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QString &pair : after.split(' ', Qt::SkipEmptyParts))
        QVERIFY2(lines.contains(pair.toUtf8()), qPrintable(pair));
    manager.reset();
    QCOMPARE(popups.deleted, popup == Window ? 0 : int(!shown.isEmpty()));
}

void TestMsgManager::storeIgnoresSharedValues()
{
    // Values shared by the organisation must not spend or reset this user's budget.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    QSettings shared(home.filePath(QStringLiteral("Korvane.conf")), QSettings::IniFormat);
    shared.setValue(QStringLiteral("VeltroPara/AvaTimes"), 0);
    shared.sync();
    QVERIFY(!Platform::openStore()->contains(QStringLiteral("AvaTimes")));
}

QTEST_GUILESS_MAIN(TestMsgManager)
#include "tst_msgmanager.moc"
