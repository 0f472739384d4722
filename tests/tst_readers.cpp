#include "manager/couponoffer.h"
#include "manager/messageenvelope.h"
#include "net/strictjson.h"
#include "popup/webpopuprequest.h"
#include "session/usercontext.h"
#include "testhome.h"

#include <QCoreApplication>
#include <QTest>
#include <QTranslator>

namespace {

// Expected of a read that throws, and of the text when the bytes are no JSON.
const QVariant Throws;
const QVariant NoJson = QStringLiteral("(no JSON)");

template<typename Read> QVariant outcome(Read read)
{
    try {
        return QVariant::fromValue(read());
    } catch (const StrictJson::TypeError &) {
        return Throws;
    }
}

// A due coupon: the service's time is 2017-05-01 10:00:00, VIP ends three days later.
const QByteArray Due = R"({"code":"0","coupon":{"id":"c1","couponName":"n","couponMoney":"50",)"
                       R"("thresholdMoney":"300","endDate":"2017-05-31 23:59:59"},)"
                       R"("vipEndDate":"2017-05-04 00:00:00","stime":"2017-05-01 10:00:00"})";

QByteArray with(const QByteArray &from, const QByteArray &to)
{
    return QByteArray(Due).replace(from, to);
}

// A message answer of the service, its msgData {"t":1} unless named.
QByteArray answer(const char *ret, const char *type, const char *id,
                  const char *data = R"("{\"t\":1}")")
{
    return QByteArray("{\"ret\":") + ret + ",\"body\":{\"type\":" + type + ",\"id\":" + id +
        ",\"msgData\":" + data + "}}";
}

} // namespace

// The pure readers of what the service and Lumaview hand the program.
class TestReaders : public QObject
{
    Q_OBJECT

private slots:
    void convert_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QVariant>("text");
        QTest::addColumn<QVariant>("number");
        QTest::addColumn<QVariant>("member"); // the text of member "a"

        const auto row = [](const char *name, const QByteArray &json, const QVariant &text,
                            const QVariant &number, const QVariant &member) {
            QTest::newRow(name) << json << text << number << member;
        };
        row("zero byte inside cuts it", QByteArray("{\"a\":\"x\0y\"}", 11), NoJson, 0, "");
        row("trailing comma", "[1,]", NoJson, 0, "");
        row("deep nesting", QByteArray(100000, '[') + QByteArray(100000, ']'), NoJson, 0, "");
        row("utf-8", R"("优惠券")", "优惠券", Throws, Throws);
        row("null", "null", "", 0, "");
        row("true", "true", "true", 1, Throws);
        row("false", "false", "false", 0, Throws);
        row("negative real cut", "-1.5", Throws, -1, Throws);
        row("int max", "2147483647", Throws, INT_MAX, Throws);
        row("above int", "2147483648", Throws, Throws, Throws);
        row("huge real", "1e300", Throws, Throws, Throws);
        row("comments", "// c\n{\"a\": /* x */ \"x\"}", Throws, Throws, "x");
        row("zero byte ends it", QByteArray("{\"a\":\"x\"}\0junk", 13), Throws, Throws, "x");
        row("byte-order mark", "\xEF\xBB\xBF{\"a\":\"x\"}", Throws, Throws, "x");
        row("second byte-order mark", "\xEF\xBB\xBF\xEF\xBB\xBF{\"a\":\"x\"}", NoJson, 0, "");
    }

    void convert()
    {
        QFETCH(QByteArray, json);

        // A failed parse leaves a null value behind.
        Json::Value value(Json::objectValue);
        const bool parsed = StrictJson::parse(json, value);
        QTEST(parsed ? outcome([&] { return StrictJson::asText(value); }) : NoJson, "text");
        QTEST(outcome([&] { return StrictJson::asInt(value); }), "number");
        QTEST(outcome([&] { return StrictJson::textMember(value, "a"); }), "member");
    }

    void envelope_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<uint>("type"); // 0: no message
        QTest::addColumn<uint>("id");

        QTest::newRow("message") << answer("1", R"("2")", R"("17")") << 2u << 17u;
        QTest::newRow("largest id") << answer("1", R"("1")", R"("4294967295")") << 1u << UINT_MAX;
        QTest::newRow("ret as real") << answer("1.5", R"("1")", R"("17")") << 1u << 17u;
        QTest::newRow("ret as text") << answer(R"("1")", R"("1")", R"("17")") << 0u << 0u;
        QTest::newRow("ret 0") << answer("0", R"("1")", R"("17")") << 0u << 0u;
        QTest::newRow("type as number") << answer("1", "1", R"("17")") << 0u << 0u;
        QTest::newRow("type 0") << answer("1", R"("0")", R"("17")") << 0u << 0u;
        QTest::newRow("type not decimal") << answer("1", R"("0x1")", R"("17")") << 0u << 0u;
        QTest::newRow("id not a number") << answer("1", R"("1")", R"("-1")") << 0u << 0u;
        QTest::newRow("msgData as object") << answer("1", R"("1")", R"("17")", "{}") << 0u << 0u;
        QTest::newRow("body array") << QByteArray(R"({"ret":1,"body":[]})") << 0u << 0u;
    }

    void envelope()
    {
        QFETCH(QByteArray, answer);
        QFETCH(uint, type);

        const std::optional<MessageEnvelope> read = MessageEnvelope::read(answer);
        QCOMPARE(read ? read->type : 0u, type);
        QTEST(read ? read->id : 0u, "id");
        QCOMPARE(read ? read->msgData : QByteArray(), QByteArray(type ? R"({"t":1})" : ""));
    }

    void coupon_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("storedId");
        QTest::addColumn<QString>("title"); // none: no popup due
        QTest::addColumn<QString>("brief");

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
        row("coupon ended yesterday", vipEnded("04-30 23:59:59"));
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

        // Rows named zh read the Chinese catalogue.
        const QString offer =
            "现赠送您一张\"<b>满300减50</b>\"的优惠券，可用于VIP续费时满减抵扣，"
            "有效期至<b>2017年05月31日</b>，快去使用吧~<br><a href=\"#\">>>点此立即使用</a>";
        row("zh VIP ends today", vipEnds("05-01 18:00:00"), "恭喜您获得了一张50元优惠券！",
            "您的LumaviewVIP会员将于<b>今日(2017年05月01日)</b>到期。为了感谢您的支持，" + offer);
        row("zh last day", vipEnded("05-01 23:00:00"), "您的优惠券即将过期！",
            "您的LumaviewVIP会员已于<b>2日前</b>过期，且您的<b>50元优惠券</b>将于<b>今日</b>过期。"
            "过期后将无法享受续费VIP会员\"<b>满300减50</b>\"的优惠，请尽快使用，不要浪费呦~"
            "<br><a href=\"#\">>>点此立即使用</a>");
    }

    void coupon()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, storedId);

        QTranslator catalogue;
        if (QByteArray(QTest::currentDataTag()).startsWith("zh "))
            QVERIFY(catalogue.load(QStringLiteral(":/Veltro/veltro_zh.qm")) &&
                    QCoreApplication::installTranslator(&catalogue));
        const std::optional<CouponOffer> offer = CouponOffer::evaluate(answer, storedId, QString());
        QTEST(offer ? offer->title : QString(), "title");
        QTEST(offer ? offer->brief : QString(), "brief");
    }

    void sessionAnswer_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("session"); // empty: none to be had

        QTest::newRow("session") << QByteArray(R"({"code":"0","tempSession":"s-1"})") << "s-1";
        QTest::newRow("any code") << QByteArray(R"({"code":"E17","tempSession":"s-2"})") << "s-2";
        QTest::newRow("code as number") << QByteArray(R"({"code":0,"tempSession":"s-1"})") << "";
        QTest::newRow("top level array") << QByteArray(R"(["s-1"])") << "";
    }

    void sessionAnswer()
    {
        QFETCH(QByteArray, answer);

        Json::Value root;
        QVERIFY(StrictJson::parse(answer, root));
        QTEST(UserContext::sessionFromAnswer(root), "session");
    }

    void helperLink()
    {
        // A link from the service reaches the program as it was, on a line of its own, with its
        // rule: the user's page opens signed in.
        const QString link = "http://s/a b\r\n%41 链接/user/index";
        const QByteArray message = WebPopupRequest::encodeLink(link, LinkTarget::Message);
        const QByteArray web = WebPopupRequest::encodeLink(link, LinkTarget::Web);
        QVERIFY(!(message + web).contains('\n') && !(message + web).contains('\r'));
        QCOMPARE(WebPopupRequest::linkTarget(message + '\n', {}).kind, LinkTarget::SignedIn);
        QCOMPARE(WebPopupRequest::linkTarget(web + '\n', {}).where, link);
    }

    void sessionFile_data()
    {
        QTest::addColumn<QString>("userId");
        QTest::addColumn<QString>("userName"); // both empty: no session file
        QTest::addColumn<QByteArray>("file"); // as Lumaview writes it on a Chinese Windows, if set

        QTest::newRow("no file") << QString() << QString() << QByteArray();
        QTest::newRow("signed in")
            << QStringLiteral("42") << QStringLiteral("张三") << QByteArray();
        QTest::newRow("no uid key") << QString() << QStringLiteral("ann") << QByteArray();
        QTest::newRow("id without name") << QStringLiteral("42") << QString() << QByteArray();
        QTest::newRow("name in GBK")
            << QStringLiteral("42") << QStringLiteral("张三")
            << QByteArray("[a]\naccoutName=b\n[usersession]\nuid=42\naccoutName=\xd5\xc5\xc8\xfd");
        // The name's last byte is a backslash. Keys match as QSettings matches them here: by case,
        // and the last counts.
        QTest::newRow("GBK name ending in 0x5C")
            << QStringLiteral("42") << QStringLiteral("嘰")
            << QByteArray("[usersession]\nuid=7\naccoutName=\x87\x5c\nuid=42\nUID=8\n[UserSession]"
                          "\nuid=9");
    }

    void sessionFile()
    {
        QFETCH(QString, userId);
        QFETCH(QString, userName);
        QFETCH(QByteArray, file);

        const TestHome home;
        home.activate();
        if (!userId.isEmpty() || !userName.isEmpty())
            home.signIn(userId, userName);
        QFile session(home.sessionFile());
        QVERIFY(file.isEmpty() ||
                (session.open(QIODevice::WriteOnly) && session.write(file) && session.flush()));
        UserContext user{Endpoints()};
        user.loadSession(QStringDecoder("GBK"));
        QCOMPARE(user.userId(), userId);
        QCOMPARE(user.userName(), userName);
    }
};

QTEST_GUILESS_MAIN(TestReaders)
#include "tst_readers.moc"
