#include "app/platform.h"
#include "app/usercontext.h"
#include "manager/msgmanager.h"
#include "popup/popupfactory.h"
#include "scriptedhttpserver.h"
#include "testhome.h"

#include <json/writer.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTest>

namespace {

const QString MessagePath = QStringLiteral("/message/getMessage");
const QString CouponPath = QStringLiteral("/couponActivity/getTimingCoupon");
const QDate Today(2026, 12, 6);

// What the manager handed to the popups it asked for.
struct PopupLog
{
    QList<int> createdTypes; // -1 for the coupon popup
    QList<Json::Value> contents;
    int shown = 0;
    int deleted = 0;
    // Shown popups the manager let go of: windows that delete themselves once closed.
    QList<VeltroBase *> openWindows;
};

class FakePopup : public VeltroBase
{
public:
    FakePopup(PopupLog &log, bool willShow, bool keep)
        : log(log), willShow(willShow), keep(keep) { }
    ~FakePopup() override { ++log.deleted; }

    void setContent(const Json::Value &content) override { log.contents.append(content); }
    bool showPopup() override
    {
        log.shown += willShow ? 1 : 0;
        if (willShow && !keep)
            log.openWindows.append(this);
        return willShow;
    }
    bool keepByManager() override { return keep; }

private:
    PopupLog &log;
    bool willShow;
    bool keep;
};

class FakePopupFactory : public PopupFactory
{
public:
    std::unique_ptr<VeltroBase> createPopup(uint type) override
    {
        log.createdTypes.append(int(type));
        return std::make_unique<FakePopup>(log, willShow, keep);
    }
    std::unique_ptr<VeltroBase> createCouponPopup() override
    {
        log.createdTypes.append(-1);
        return std::make_unique<FakePopup>(log, willShow, keep);
    }

    PopupLog log;
    bool willShow = true;
    bool keep = true;
};

QByteArray envelope(const QByteArray &ret, const QByteArray &type, const QByteArray &id,
                    const QByteArray &msgData)
{
    return "{\"ret\":" + ret + ",\"body\":{\"type\":" + type + ",\"id\":" + id +
        ",\"msgData\":" + msgData + "}}";
}

// The envelope carries the message content as JSON text inside a string.
QByteArray asJsonString(const char *text)
{
    return QByteArray::fromStdString(Json::valueToQuotedString(text));
}

const QByteArray PlainContent =
    asJsonString(R"({"title":"Hello","brief":"World","jmpUrl":"http://x/"})");

QByteArray dueCoupon(const QByteArray &id)
{
    return R"({"code":"0","coupon":{"id":")" + id +
        R"(","couponName":"n","couponMoney":"50","thresholdMoney":"300",)"
        R"("endDate":"2026-12-31 23:59:59"},"vipEndDate":"2026-12-09 00:00:00",)"
        R"("stime":"2026-12-06 10:00:00"})";
}

} // namespace

using StoredValues = QMap<QString, QVariant>;
Q_DECLARE_METATYPE(ScriptedReply)

class TestMsgManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstStartWritesDefaults();
    void budget_data();
    void budget();
    void message_data();
    void message();
    void silentServiceIsAFreeFailure();
    void popupOwnership_data();
    void popupOwnership();
    void coupon_data();
    void coupon();
    void couponCheckedOncePerDay();
    void storeReadsTheUsersOwnValues_data();
    void storeReadsTheUsersOwnValues();

private:
    std::unique_ptr<MsgManager> manager(const StoredValues &stored = {});
    QVariant stored(const QString &key) const;

    std::unique_ptr<TestHome> home;
    std::unique_ptr<ScriptedHttpServer> server;
    std::unique_ptr<UserContext> user;
    FakePopupFactory popups;
};

void TestMsgManager::init()
{
    home = std::make_unique<TestHome>();
    QVERIFY(home->isValid());
    home->activate();
    server = std::make_unique<ScriptedHttpServer>();
    QVERIFY(server->listen());
    user = std::make_unique<UserContext>(Endpoints(server->baseUrl()));
    popups = FakePopupFactory();
}

void TestMsgManager::cleanup()
{
    // The user closes the windows at the end of each test.
    qDeleteAll(popups.log.openWindows);
    user.reset();
    server.reset();
    home.reset();
}

std::unique_ptr<MsgManager> TestMsgManager::manager(const StoredValues &values)
{
    auto settings = std::make_unique<QSettings>(home->storeFile(), QSettings::IniFormat);
    settings->beginGroup(QStringLiteral("VeltroPara"));
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings->setValue(it.key(), it.value());
    settings->sync();
    return std::make_unique<MsgManager>(std::move(settings), *user, popups, [] { return Today; });
}

QVariant TestMsgManager::stored(const QString &key) const
{
    QSettings settings(home->storeFile(), QSettings::IniFormat);
    return settings.value(QStringLiteral("VeltroPara/") + key);
}

void TestMsgManager::firstStartWritesDefaults()
{
    const auto subject = manager();
    QCOMPARE(stored("Date").toString(), QStringLiteral("2026-12-06"));
    QCOMPARE(stored("AvaTimes").toUInt(), 2u);
    QCOMPARE(stored("LastId").toString(), QStringLiteral("4294967295"));
    QCOMPARE(stored("CouponChecked").toInt(), 0);
    QVERIFY(stored("CouponId").isValid());
    QCOMPARE(stored("CouponId").toString(), QString());
}

void TestMsgManager::budget_data()
{
    QTest::addColumn<StoredValues>("before");
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<int>("messageStatus");
    QTest::addColumn<int>("messageRequests");
    QTest::addColumn<int>("couponRequests");
    QTest::addColumn<StoredValues>("after");

    const StoredValues fresh{{"Date", "2026-12-06"}, {"AvaTimes", 2}, {"CouponChecked", 0}};
    QTest::newRow("clean store") << StoredValues() << false << 200 << 1 << 0
                                 << StoredValues{{"Date", "2026-12-06"}, {"AvaTimes", "1"}};
    QTest::newRow("budget spent") << StoredValues{{"Date", "2026-12-06"}, {"AvaTimes", 0}} << true
                                  << 200 << 0 << 0 << StoredValues{{"AvaTimes", "0"}};
    QTest::newRow("garbage date keeps a spent budget")
        << StoredValues{{"Date", "yesterday-ish"}, {"AvaTimes", 0}} << true << 200 << 0 << 0
        << StoredValues{{"Date", "2026-12-06"}, {"AvaTimes", "0"}};
    QTest::newRow("budget above two") << StoredValues{{"Date", "2026-12-06"}, {"AvaTimes", 7}}
                                      << false << 200 << 1 << 0 << StoredValues{{"AvaTimes", "1"}};
    QTest::newRow("budget is text") << StoredValues{{"Date", "2026-12-06"}, {"AvaTimes", "many"}}
                                    << true << 200 << 0 << 0 << StoredValues{{"AvaTimes", "many"}};
    QTest::newRow("clock set back a day")
        << StoredValues{{"Date", "2026-12-07"}, {"AvaTimes", 0}, {"CouponChecked", 1}} << true
        << 200 << 1 << 1
        << StoredValues{{"Date", "2026-12-06"}, {"AvaTimes", "1"}, {"CouponChecked", "1"}};
    QTest::newRow("new day") << StoredValues{{"Date", "2026-12-01"}, {"AvaTimes", 0}} << false
                             << 200 << 1 << 0
                             << StoredValues{{"Date", "2026-12-06"}, {"AvaTimes", "1"}};
    QTest::newRow("last unit, then the coupon check")
        << StoredValues{{"Date", "2026-12-06"}, {"AvaTimes", 1}} << true << 200 << 1 << 1
        << StoredValues{{"AvaTimes", "0"}, {"CouponChecked", "1"}};
    QTest::newRow("network failure is free")
        << fresh << true << 500 << 1 << 1 << StoredValues{{"AvaTimes", "2"}};
    QTest::newRow("not found is free")
        << fresh << false << 404 << 1 << 0 << StoredValues{{"AvaTimes", "2"}};
}

void TestMsgManager::budget()
{
    QFETCH(StoredValues, before);
    QFETCH(bool, signedIn);
    QFETCH(int, messageStatus);
    QFETCH(int, messageRequests);
    QFETCH(int, couponRequests);
    QFETCH(StoredValues, after);

    if (signedIn)
        home->signIn(QStringLiteral("42"), QStringLiteral("ann"));
    user->loadSession();
    server->setReply(MessagePath, ScriptedReply::json(R"({"ret":0})", messageStatus));
    server->setReply(CouponPath, ScriptedReply::json(R"({"code":"1"})"));

    QVERIFY(!manager(before)->run());
    QCOMPARE(server->requestsTo(MessagePath).size(), messageRequests);
    QCOMPARE(server->requestsTo(CouponPath).size(), couponRequests);
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        QCOMPARE(stored(it.key()).toString(), it.value().toString());
    QVERIFY(popups.log.createdTypes.isEmpty());
}

void TestMsgManager::message_data()
{
    QTest::addColumn<ScriptedReply>("reply");
    QTest::addColumn<StoredValues>("before");
    QTest::addColumn<int>("createdType"); // 0: no popup asked for
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("avaTimes");
    QTest::addColumn<QString>("lastId");

    const QString none = QStringLiteral("4294967295");
    auto answer = [](const QByteArray &body) { return ScriptedReply::json(body); };

    QTest::newRow("plain message") << answer(envelope("1", "\"1\"", "\"17\"", PlainContent))
                                   << StoredValues() << 1 << true << "1"
                                   << "17";
    QTest::newRow("already shown") << answer(envelope("1", "\"1\"", "\"17\"", PlainContent))
                                   << StoredValues{{"LastId", 17}} << 0 << false << "1"
                                   << "17";
    QTest::newRow("smaller id is new") << answer(envelope("1", "\"1\"", "\"16\"", PlainContent))
                                       << StoredValues{{"LastId", 17}} << 1 << true << "1"
                                       << "16";
    QTest::newRow("id that means none yet")
        << answer(envelope("1", "\"1\"", "\"4294967295\"", PlainContent)) << StoredValues() << 0
        << false << "1" << none;
    QTest::newRow("update notice") << answer(envelope("1", "\"5\"", "\"18\"", asJsonString("{}")))
                                   << StoredValues() << 5 << true << "1"
                                   << "18";
    QTest::newRow("web page") << answer(envelope("1", "\"2\"", "\"19\"", PlainContent))
                              << StoredValues() << 2 << true << "1"
                              << "19";
    QTest::newRow("ret as real") << answer(envelope("1.5", "\"1\"", "\"17\"", PlainContent))
                                 << StoredValues() << 1 << true << "1"
                                 << "17";
    QTest::newRow("ret as true") << answer(envelope("true", "\"1\"", "\"17\"", PlainContent))
                                 << StoredValues() << 1 << true << "1"
                                 << "17";
    QTest::newRow("ret as text") << answer(envelope("\"1\"", "\"1\"", "\"17\"", PlainContent))
                                 << StoredValues() << 0 << false << "1" << none;
    QTest::newRow("ret 0") << answer(envelope("0", "\"1\"", "\"17\"", PlainContent))
                           << StoredValues() << 0 << false << "1" << none;
    QTest::newRow("type as number") << answer(envelope("1", "1", "\"17\"", PlainContent))
                                    << StoredValues() << 0 << false << "1" << none;
    QTest::newRow("id as number") << answer(envelope("1", "\"1\"", "17", PlainContent))
                                  << StoredValues() << 0 << false << "1" << none;
    QTest::newRow("type 0") << answer(envelope("1", "\"0\"", "\"17\"", PlainContent))
                            << StoredValues() << 0 << false << "1" << none;
    QTest::newRow("type not decimal") << answer(envelope("1", "\"0x1\"", "\"17\"", PlainContent))
                                      << StoredValues() << 0 << false << "1" << none;
    QTest::newRow("msgData as object") << answer(envelope("1", "\"1\"", "\"17\"", "{}"))
                                       << StoredValues() << 0 << false << "1" << none;
    QTest::newRow("msgData not JSON")
        << answer(envelope("1", "\"1\"", "\"17\"", asJsonString("{oops"))) << StoredValues() << 0
        << false << "1" << none;
    QTest::newRow("top level array")
        << answer("[1]") << StoredValues() << 0 << false << "1" << none;
    QTest::newRow("body array") << answer(R"({"ret":1,"body":[]})") << StoredValues() << 0 << false
                                << "1" << none;
    QTest::newRow("not JSON") << answer("<html></html>") << StoredValues() << 0 << false << "1"
                              << none;
    QTest::newRow("301 is not followed") << ScriptedReply::redirect(301, "/elsewhere")
                                         << StoredValues() << 0 << false << "1" << none;
    QTest::newRow("302 is not followed") << ScriptedReply::redirect(302, "/elsewhere")
                                         << StoredValues() << 0 << false << "1" << none;
    QTest::newRow("server error is free")
        << ScriptedReply::json("{}", 500) << StoredValues() << 0 << false << "2" << none;

    ScriptedReply oversized = answer(QByteArray(2 * 1024 * 1024, ' '));
    QTest::newRow("answer over 1 MiB is free")
        << oversized << StoredValues() << 0 << false << "2" << none;
    ScriptedReply slow = answer(envelope("1", "\"1\"", "\"17\"", PlainContent));
    slow.pieceSize = 16;
    slow.pieceIntervalMs = 20;
    QTest::newRow("answer in pieces") << slow << StoredValues() << 1 << true << "1"
                                      << "17";
    ScriptedReply garbage;
    garbage.raw = QByteArray::fromHex("00ff7f1b5b41") + "garbage\r\n\r\n";
    QTest::newRow("random bytes are free")
        << garbage << StoredValues() << 0 << false << "2" << none;
}

void TestMsgManager::message()
{
    QFETCH(ScriptedReply, reply);
    QFETCH(StoredValues, before);
    QFETCH(int, createdType);
    QFETCH(bool, shown);
    QFETCH(QString, avaTimes);
    QFETCH(QString, lastId);

    server->setReply(MessagePath, reply);
    const auto subject = manager(before);
    QCOMPARE(subject->run(), shown);

    QCOMPARE(popups.log.createdTypes, createdType ? QList<int>{createdType} : QList<int>());
    QCOMPARE(popups.log.shown, shown ? 1 : 0);
    QCOMPARE(stored("AvaTimes").toString(), avaTimes);
    QCOMPARE(stored("LastId").toString(), lastId);
    // One address only, asked without a query: no redirect was followed, nothing was sent.
    const QList<RecordedRequest> requests = server->requests();
    QVERIFY(!requests.isEmpty());
    for (const RecordedRequest &request : requests) {
        QCOMPARE(request.path, MessagePath);
        QCOMPARE(request.query, QString());
    }
    if (createdType == 1) {
        QCOMPARE(popups.log.contents.size(), 1);
        QCOMPARE(popups.log.contents.first()["title"].asString(), std::string("Hello"));
        QCOMPARE(popups.log.contents.first()["jmpUrl"].asString(), std::string("http://x/"));
    }
}

void TestMsgManager::silentServiceIsAFreeFailure()
{
    ScriptedReply silent;
    silent.silent = true;
    server->setReply(MessagePath, silent);
    const auto subject = manager();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!subject->run());
    // The wait is bounded; generous margin for a loaded machine.
    QVERIFY2(clock.elapsed() < 60000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(stored("AvaTimes").toString(), QStringLiteral("2"));
}

void TestMsgManager::popupOwnership_data()
{
    QTest::addColumn<bool>("willShow");
    QTest::addColumn<bool>("keep");
    QTest::addColumn<int>("deletedWhileRunning");
    QTest::addColumn<int>("deletedWithManager");

    QTest::newRow("kept by the manager") << true << true << 0 << 1;
    QTest::newRow("a window looks after itself") << true << false << 0 << 0;
    QTest::newRow("a refused popup is freed") << false << false << 1 << 1;
}

void TestMsgManager::popupOwnership()
{
    QFETCH(bool, willShow);
    QFETCH(bool, keep);
    QFETCH(int, deletedWhileRunning);
    QFETCH(int, deletedWithManager);

    popups.willShow = willShow;
    popups.keep = keep;
    server->setReply(MessagePath,
                     ScriptedReply::json(envelope("1", "\"1\"", "\"17\"", PlainContent)));
    auto subject = manager();
    QCOMPARE(subject->run(), willShow);
    QCOMPARE(popups.log.deleted, deletedWhileRunning);
    subject.reset();
    QCOMPARE(popups.log.deleted, deletedWithManager);
    QCOMPARE(stored("LastId").toString(),
             willShow ? QStringLiteral("17") : QStringLiteral("4294967295"));
}

void TestMsgManager::coupon_data()
{
    QTest::addColumn<QString>("uid");
    QTest::addColumn<ScriptedReply>("reply");
    QTest::addColumn<bool>("willShow");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<int>("couponRequests");
    QTest::addColumn<QString>("couponChecked");
    QTest::addColumn<QString>("couponId");

    const ScriptedReply due = ScriptedReply::json(dueCoupon("c-9"));
    QTest::newRow("due coupon shown") << "42" << due << true << true << 1 << "1"
                                      << "c-9";
    QTest::newRow("refused popup keeps the id") << "42" << due << false << false << 1 << "1"
                                                << "";
    QTest::newRow("http error changes nothing")
        << "42" << ScriptedReply::json("{}", 503) << true << false << 1 << "0"
        << "";
    QTest::newRow("unusable answer uses up the day")
        << "42" << ScriptedReply::json(R"({"code":0})") << true << false << 1 << "1"
        << "";
    QTest::newRow("signed out asks nothing") << "" << due << true << false << 0 << "0"
                                             << "";
    QTest::newRow("id over 256 bytes uses up the day")
        << "42" << ScriptedReply::json(dueCoupon(QString(129, QChar(0xe9)).toUtf8())) << true
        << false << 1 << "1"
        << "";
}

void TestMsgManager::coupon()
{
    QFETCH(QString, uid);
    QFETCH(ScriptedReply, reply);
    QFETCH(bool, willShow);
    QFETCH(bool, shown);
    QFETCH(int, couponRequests);
    QFETCH(QString, couponChecked);
    QFETCH(QString, couponId);

    home->signIn(uid, QStringLiteral("ann"));
    user->loadSession();
    popups.willShow = willShow;
    server->setReply(MessagePath, ScriptedReply::json(R"({"ret":0})"));
    server->setReply(CouponPath, reply);

    QCOMPARE(manager()->run(), shown);
    QCOMPARE(server->requestsTo(CouponPath).size(), couponRequests);
    if (couponRequests)
        QCOMPARE(server->requestsTo(CouponPath).first().query, QStringLiteral("userId=") + uid);
    QCOMPARE(stored("CouponChecked").toString(), couponChecked);
    QCOMPARE(stored("CouponId").toString(), couponId);
    if (shown) {
        QCOMPARE(popups.log.createdTypes, QList<int>{-1});
        QCOMPARE(QString::fromStdString(popups.log.contents.first()["jmpUrl"].asString()),
                 server->baseUrl() + QStringLiteral("/user/index"));
    }
}

void TestMsgManager::couponCheckedOncePerDay()
{
    home->signIn(QStringLiteral("a&b c"), QStringLiteral("ann"));
    user->loadSession();
    server->setReply(MessagePath, ScriptedReply::json(R"({"ret":0})"));
    server->setReply(CouponPath, ScriptedReply::json(R"({"code":"1"})"));

    QVERIFY(!manager()->run());
    QVERIFY(!manager()->run());
    QCOMPARE(server->requestsTo(MessagePath).size(), 2);
    const QList<RecordedRequest> couponRequests = server->requestsTo(CouponPath);
    QCOMPARE(couponRequests.size(), 1);
    QCOMPARE(couponRequests.first().query, QStringLiteral("userId=a%26b%20c"));
    QCOMPARE(stored("AvaTimes").toString(), QStringLiteral("0"));
}

void TestMsgManager::storeReadsTheUsersOwnValues_data()
{
    QTest::addColumn<QString>("file"); // in the test home, saying the budget is spent

    QTest::newRow("organisation-wide") << "user/Korvane.conf";
    QTest::newRow("machine-wide") << "system/Korvane/Lumaview.conf";
    QTest::newRow("machine-wide, organisation") << "system/Korvane.conf";
}

void TestMsgManager::storeReadsTheUsersOwnValues()
{
    QFETCH(QString, file);

    // QSettings looks its folders up once per process; these stand for the user's and the
    // machine's configuration folders.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home->path() + "/user");
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, home->path() + "/system");
    QSettings others(home->path() + QLatin1Char('/') + file, QSettings::IniFormat);
    others.setValue(QStringLiteral("VeltroPara/Date"), Today.toString(Qt::ISODate));
    others.setValue(QStringLiteral("VeltroPara/AvaTimes"), 0);
    others.sync();
    server->setReply(MessagePath, ScriptedReply::json(R"({"ret":0})"));

    QVERIFY(!MsgManager(Platform::openStore(), *user, popups, [] { return Today; }).run());
    QCOMPARE(server->requestsTo(MessagePath).size(), 1);
}

QTEST_GUILESS_MAIN(TestMsgManager)
#include "tst_msgmanager.moc"
