#include "manager/couponoffer.h"

#include <QCoreApplication>
#include <QTest>
#include <QTranslator>

namespace {

const QString UserPage = QStringLiteral("http://service.test/user/index");

struct Answer
{
    QByteArray stime = "2017-05-01 10:00:00";
    QByteArray vipEndDate = "2017-05-04 00:00:00";
    QByteArray endDate = "2017-05-31 23:59:59";
    QByteArray id = "\"c1\"";
    QByteArray money = "\"50\"";
    QByteArray threshold = "\"300\"";
    QByteArray code = "\"0\"";

    QByteArray json() const
    {
        QByteArray coupon = "{";
        if (!id.isEmpty())
            coupon += "\"id\":" + id + ",";
        coupon += "\"couponName\":\"renewal\",\"couponMoney\":" + money +
            ",\"thresholdMoney\":" + threshold + ",\"endDate\":\"" + endDate + "\"}";
        return "{\"code\":" + code + ",\"coupon\":" + coupon + ",\"vipEndDate\":\"" + vipEndDate +
            "\",\"stime\":\"" + stime + "\"}";
    }
};

Answer withVipEnd(const QByteArray &vipEndDate)
{
    Answer answer;
    answer.vipEndDate = vipEndDate;
    return answer;
}

// A VIP membership that ended two days before the service's time, and a coupon ending at endDate.
Answer endedVip(const QByteArray &endDate)
{
    Answer answer;
    answer.vipEndDate = "2017-04-29 12:00:00";
    answer.endDate = endDate;
    return answer;
}

} // namespace

class TestCouponOffer : public QObject
{
    Q_OBJECT

private slots:
    void evaluate_data();
    void evaluate();
    void translated_data();
    void translated();
    void contentRecord();
};

void TestCouponOffer::evaluate_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("storedId");
    QTest::addColumn<bool>("due");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("brief");

    const QString gotCoupon = QStringLiteral("You have got a 50 coupon!");
    const QString unused = QStringLiteral("You have unused coupon!");

    QTest::newRow("worked case") << Answer().json() << "" << true << gotCoupon
                                 << "coupon_vip_newafter 3 days300502017-05-31";
    QTest::newRow("same coupon again") << Answer().json() << "c1" << true << unused
                                       << "coupon_vip_unusedafter 3 days300502017-05-31";
    QTest::newRow("ids compare by case") << Answer().json() << "C1" << true << gotCoupon
                                         << "coupon_vip_newafter 3 days300502017-05-31";
    QTest::newRow("VIP ended") << endedVip("2017-05-31 23:59:59").json() << "" << true << gotCoupon
                               << "coupon_not_vip_new2 days before300502017-05-31";
    QTest::newRow("VIP ended, same coupon")
        << endedVip("2017-05-31 23:59:59").json() << "c1" << true << unused
        << "coupon_not_vip_not_new2 days before300502017-05-31";
    QTest::newRow("offset 8") << withVipEnd("2017-05-09 00:00:00").json() << "" << true << gotCoupon
                              << "coupon_vip_newafter 8 days300502017-05-31";
    QTest::newRow("offset 9") << withVipEnd("2017-05-10 00:00:00").json() << "" << false << ""
                              << "";
    QTest::newRow("offset -8") << withVipEnd("2017-04-23 23:59:59").json() << "" << true
                               << gotCoupon << "coupon_not_vip_new8 days before300502017-05-31";
    QTest::newRow("offset -9") << withVipEnd("2017-04-22 23:59:59").json() << "" << false << ""
                               << "";
    QTest::newRow("VIP ends later today")
        << withVipEnd("2017-05-01 18:00:00").json() << "" << true << gotCoupon
        << "coupon_vip_newtoday(2017-05-01)300502017-05-31";
    QTest::newRow("VIP ended earlier today")
        << withVipEnd("2017-05-01 08:00:00").json() << "" << true << gotCoupon
        << "coupon_not_vip_newtoday(2017-05-01)300502017-05-31";
    QTest::newRow("VIP ends this very second")
        << withVipEnd("2017-05-01 10:00:00").json() << "" << true << gotCoupon
        << "coupon_vip_newtoday(2017-05-01)300502017-05-31";
    QTest::newRow("last day of the coupon")
        << endedVip("2017-05-01 23:00:00").json() << "c1" << true << "Coupon will expire!"
        << "coupon_not_vip_last2 days before50 coupon30050";
    QTest::newRow("coupon ends this very second")
        << endedVip("2017-05-01 10:00:00").json() << "" << false << ""
        << "";
    QTest::newRow("coupon ended yesterday")
        << endedVip("2017-04-30 23:59:59").json() << "" << false << ""
        << "";
    QTest::newRow("coupon ends tomorrow")
        << endedVip("2017-05-02 00:00:01").json() << "" << true << gotCoupon
        << "coupon_not_vip_new2 days before300502017-05-02";
    Answer expiredCoupon;
    expiredCoupon.endDate = "2017-04-01 00:00:00";
    QTest::newRow("VIP runs, coupon expired") << expiredCoupon.json() << "" << true << gotCoupon
                                              << "coupon_vip_newafter 3 days300502017-04-01";
    Answer missingId;
    missingId.id.clear();
    QTest::newRow("missing id equals the empty stored id")
        << missingId.json() << "" << true << unused
        << "coupon_vip_unusedafter 3 days300502017-05-31";
    Answer markers;
    markers.threshold = "\"%4\"";
    markers.money = "\"%1\"";
    QTest::newRow("values are not placeholders")
        << markers.json() << "" << true << "You have got a %1 coupon!"
        << "coupon_vip_newafter 3 days%4%12017-05-31";
    Answer markup;
    markup.money = R"("<img src=\"/dev/zero\">")";
    markup.threshold = "\"1&lt;2\"";
    QTest::newRow("values are not markup")
        << markup.json() << "" << true
        << "You have got a &lt;img src=&quot;/dev/zero&quot;&gt; coupon!"
        << "coupon_vip_newafter 3 days1&amp;lt;2&lt;img src=&quot;/dev/zero&quot;&gt;2017-05-31";
    Answer longestId;
    longestId.id = "\"" + QByteArray(256, 'x') + "\"";
    QTest::newRow("id of 256 bytes") << longestId.json() << "" << true << gotCoupon
                                     << "coupon_vip_newafter 3 days300502017-05-31";
    Answer longerId;
    longerId.id = "\"" + QString(129, QChar(0xe9)).toUtf8() + "\"";
    QTest::newRow("id over 256 bytes") << longerId.json() << "" << false << ""
                                       << "";

    Answer numericCode;
    numericCode.code = "0";
    QTest::newRow("code as a number") << numericCode.json() << "" << false << ""
                                      << "";
    Answer otherCode;
    otherCode.code = "\"1\"";
    QTest::newRow("code other than 0") << otherCode.json() << "" << false << ""
                                       << "";
    Answer numericMoney;
    numericMoney.money = "50";
    numericMoney.threshold = "300";
    QTest::newRow("money as numbers") << numericMoney.json() << "" << false << ""
                                      << "";
    Answer badTime;
    badTime.stime = "01.05.2017 10:00";
    QTest::newRow("unreadable service time") << badTime.json() << "" << false << ""
                                             << "";
    QTest::newRow("coupon is an array")
        << QByteArray(R"({"code":"0","coupon":[],"vipEndDate":"2017-05-04 00:00:00",)"
                      R"("stime":"2017-05-01 10:00:00"})")
        << "" << false << ""
        << "";
    QTest::newRow("top level array") << QByteArray("[]") << "" << false << ""
                                     << "";
    QTest::newRow("not JSON") << QByteArray("<html/>") << "" << false << ""
                              << "";
}

void TestCouponOffer::evaluate()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, storedId);
    QFETCH(bool, due);
    QFETCH(QString, title);
    QFETCH(QString, brief);

    const std::optional<CouponOffer> offer = CouponOffer::evaluate(answer, storedId, UserPage);
    QCOMPARE(offer.has_value(), due);
    if (!due)
        return;
    QCOMPARE(offer->title, title);
    QCOMPARE(offer->brief, brief);
    QCOMPARE(offer->jmpUrl, UserPage);
}

void TestCouponOffer::translated_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("brief");

    QTest::newRow("worked case")
        << Answer().json() << QStringLiteral("恭喜您获得了一张50元优惠券！")
        << QStringLiteral("您的LumaviewVIP会员将于<b>3日后</b>到期。为了感谢您的支持，现赠送您一张"
                          "\"<b>满300减50</b>\"的优惠券，可用于VIP续费时满减抵扣，有效期至"
                          "<b>2017年05月31日</b>，快去使用吧~<br><a href=\"#\">>>点此立即使用</a>");
    QTest::newRow("VIP ended")
        << endedVip("2017-05-31 23:59:59").json() << QStringLiteral("恭喜您获得了一张50元优惠券！")
        << QStringLiteral(
               "您的LumaviewVIP会员已于<b>2日前</b>过期。现赠送您一张\"<b>满300减50</b>\""
               "的优惠券，可用于VIP续费时满减抵扣，有效期至<b>2017年05月31日</b>，"
               "快去使用吧~<br><a href=\"#\">>>点此立即使用</a>");
    QTest::newRow("last day")
        << endedVip("2017-05-01 23:00:00").json() << QStringLiteral("您的优惠券即将过期！")
        << QStringLiteral("您的LumaviewVIP会员已于<b>2日前</b>过期，且您的<b>50元优惠券</b>将于"
                          "<b>今日</b>过期。过期后将无法享受续费VIP会员\"<b>满300减50</b>\"的"
                          "优惠，请尽快使用，不要浪费呦~<br><a href=\"#\">>>点此立即使用</a>");
    QTest::newRow("VIP ends today")
        << withVipEnd("2017-05-01 18:00:00").json()
        << QStringLiteral("恭喜您获得了一张50元优惠券！")
        << QStringLiteral("您的LumaviewVIP会员将于<b>今日(2017年05月01日)</b>到期。为了感谢您的"
                          "支持，现赠送您一张\"<b>满300减50</b>\"的优惠券，可用于VIP续费时满减"
                          "抵扣，有效期至<b>2017年05月31日</b>，快去使用吧~<br><a href=\"#\">"
                          ">>点此立即使用</a>");
}

void TestCouponOffer::translated()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, title);
    QFETCH(QString, brief);

    QTranslator catalogue;
    QVERIFY(catalogue.load(QStringLiteral(":/Veltro/veltro_zh.qm")));
    QVERIFY(QCoreApplication::installTranslator(&catalogue));
    const std::optional<CouponOffer> offer = CouponOffer::evaluate(answer, QString(), UserPage);
    QCoreApplication::removeTranslator(&catalogue);

    QVERIFY(offer);
    QCOMPARE(offer->title, title);
    QCOMPARE(offer->brief, brief);
}

void TestCouponOffer::contentRecord()
{
    const std::optional<CouponOffer> offer =
        CouponOffer::evaluate(Answer().json(), QString(), UserPage);
    QVERIFY(offer);
    QCOMPARE(offer->couponId, QStringLiteral("c1"));
    const Json::Value content = offer->content();
    QCOMPARE(QString::fromStdString(content["title"].asString()), offer->title);
    QCOMPARE(QString::fromStdString(content["brief"].asString()), offer->brief);
    QCOMPARE(QString::fromStdString(content["jmpUrl"].asString()), UserPage);
}

QTEST_GUILESS_MAIN(TestCouponOffer)
#include "tst_couponoffer.moc"
