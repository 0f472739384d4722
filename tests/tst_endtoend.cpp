#include "standinservice.h"
#include "testhome.h"
#include "veltroprocess.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QSettings>
#include <QTest>

namespace {

const QString Base = QStringLiteral(VELTRO_SERVICE_URL);
// The virtual screen the tests run on; there is no task bar.
const QRect Screen(0, 0, 1280, 800);
const QRect PopupInPlace(Screen.right() - 299, Screen.bottom() - 199, 300, 200);
constexpr int StartMs = 60000;

QJsonObject plainContent(const QString &jmpUrl)
{
    return {{QStringLiteral("title"), QStringLiteral("新版本已发布")},
            {QStringLiteral("brief"), QStringLiteral("Lumaview 2027 brings faster drawings.")},
            {QStringLiteral("jmpUrl"), jmpUrl}};
}

QJsonObject noMessage()
{
    return StandInService::jsonRoute(QJsonObject{{QStringLiteral("ret"), 0}});
}

QJsonObject dueCoupon()
{
    return StandInService::jsonRoute(QJsonObject{
        {QStringLiteral("code"), QStringLiteral("0")},
        {QStringLiteral("coupon"),
         QJsonObject{{QStringLiteral("id"), QStringLiteral("c-1")},
                     {QStringLiteral("couponName"), QStringLiteral("renewal")},
                     {QStringLiteral("couponMoney"), QStringLiteral("50")},
                     {QStringLiteral("thresholdMoney"), QStringLiteral("300")},
                     {QStringLiteral("endDate"), QStringLiteral("2017-05-31 23:59:59")}}},
        {QStringLiteral("vipEndDate"), QStringLiteral("2017-05-04 00:00:00")},
        {QStringLiteral("stime"), QStringLiteral("2017-05-01 10:00:00")}});
}

QJsonObject page(int status, const QByteArray &html)
{
    return {{QStringLiteral("status"), status},
            {QStringLiteral("headers"),
             QJsonObject{{QStringLiteral("Content-Type"), QStringLiteral("text/html")}}},
            {QStringLiteral("body"), QString::fromUtf8(html)}};
}

QPoint bodyCentre(const QRect &popup)
{
    return popup.topLeft() + QPoint(150, 95);
}

QPoint closeButton(const QRect &popup)
{
    return popup.topLeft() + QPoint(popup.width() - 15, 15);
}

// The bottom line's link sits at its right end.
QPoint bottomLink(const QRect &popup)
{
    return popup.topLeft() + QPoint(popup.width() - 45, 180);
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void plainMessageOnceOnly();
    void updateNotice();
    void closeButtonOpensNothing();
    void secondCopyAndKilledCopy();
    void signedInLink_data();
    void signedInLink();
    void coupon();
    void webPage();
    void failedPageThenCoupon();

private:
    QString stored(const QString &key) const;
    QRect showPopup(VeltroProcess &veltro);
    QStringList clickAndWait(VeltroProcess &veltro, const QPoint &point);

    std::unique_ptr<TestHome> home;
    std::unique_ptr<StandInService> service;
};

void TestEndToEnd::initTestCase()
{
    if (!StandInService::canPlayTheService())
        QSKIP("the program was built for a service that is not on this machine");
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X server (run under xvfb-run)");
}

void TestEndToEnd::init()
{
    home = std::make_unique<TestHome>();
    QVERIFY(home->isValid());
    service = std::make_unique<StandInService>(home->path());
    QVERIFY(service->start());
}

void TestEndToEnd::cleanup()
{
    service.reset();
    home.reset();
}

QString TestEndToEnd::stored(const QString &key) const
{
    return QSettings(home->storeFile(), QSettings::IniFormat)
        .value(QStringLiteral("VeltroPara/") + key)
        .toString();
}

QRect TestEndToEnd::showPopup(VeltroProcess &veltro)
{
    veltro.start();
    const QRect popup = veltro.waitForPopup(StartMs);
    if (popup.isEmpty())
        qWarning().noquote() << veltro.diagnostics();
    return popup;
}

// Clicks the popup and waits for the program to end; what it handed the browser, or a note
// that it did not end normally.
QStringList TestEndToEnd::clickAndWait(VeltroProcess &veltro, const QPoint &point)
{
    VeltroProcess::click(point);
    if (!veltro.waitForExit(StartMs) || veltro.crashed() || veltro.exitCode() != 0)
        return {QStringLiteral("did not end normally: ") + veltro.diagnostics()};
    return veltro.browserLaunches();
}

void TestEndToEnd::plainMessageOnceOnly()
{
    const QString link = Base + QStringLiteral("/news/17");
    service->setRoutes({{QStringLiteral("/message/getMessage"),
                         StandInService::messageRoute(QStringLiteral("1"), QStringLiteral("17"),
                                                      plainContent(link))}});
    {
        VeltroProcess veltro(*home);
        const QRect popup = showPopup(veltro);
        QCOMPARE(popup, PopupInPlace);
        QCOMPARE(clickAndWait(veltro, bodyCentre(popup)), QStringList{link});
    }
    QCOMPARE(stored(QStringLiteral("LastId")), QStringLiteral("17"));
    QCOMPARE(stored(QStringLiteral("AvaTimes")), QStringLiteral("1"));

    VeltroProcess again(*home);
    again.start();
    QVERIFY(again.waitForExit(StartMs));
    QCOMPARE(again.exitCode(), 0);
    QVERIFY2(again.diagnostics().contains(QLatin1String("was shown already")),
             qPrintable(again.diagnostics()));
    QCOMPARE(stored(QStringLiteral("AvaTimes")), QStringLiteral("0"));
    QCOMPARE(service->requests(QStringLiteral("/message/getMessage")).size(), 2);
}

void TestEndToEnd::updateNotice()
{
    service->setRoutes(
        {{QStringLiteral("/message/getMessage"),
          StandInService::messageRoute(QStringLiteral("5"), QStringLiteral("30"),
                                       plainContent(QStringLiteral("http://x.example/")))}});
    VeltroProcess veltro(*home);
    const QRect popup = showPopup(veltro);
    QCOMPARE(popup, PopupInPlace);
    QCOMPARE(clickAndWait(veltro, bottomLink(popup)), QStringList{Base + QStringLiteral("/")});
    QCOMPARE(stored(QStringLiteral("LastId")), QStringLiteral("30"));
}

void TestEndToEnd::closeButtonOpensNothing()
{
    service->setRoutes(
        {{QStringLiteral("/message/getMessage"),
          StandInService::messageRoute(QStringLiteral("1"), QStringLiteral("18"),
                                       plainContent(Base + QStringLiteral("/news/18")))}});
    VeltroProcess veltro(*home);
    const QRect popup = showPopup(veltro);
    QVERIFY(!popup.isEmpty());
    QCOMPARE(clickAndWait(veltro, closeButton(popup)), QStringList());
}

void TestEndToEnd::secondCopyAndKilledCopy()
{
    service->setRoutes(
        {{QStringLiteral("/message/getMessage"), QJsonObject{{QStringLiteral("silent"), true}}}});
    VeltroProcess first(*home);
    first.start();
    QTRY_COMPARE_WITH_TIMEOUT(service->requests().size(), 1, StartMs);

    VeltroProcess second(*home);
    QElapsedTimer clock;
    clock.start();
    second.start();
    QVERIFY(second.waitForExit(StartMs));
    // It ends before the two-second start-up wait would even be over.
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(second.exitCode(), 0);

    first.kill();
    VeltroProcess third(*home);
    third.start();
    QTRY_COMPARE_WITH_TIMEOUT(service->requests().size(), 2, StartMs);
}

void TestEndToEnd::signedInLink_data()
{
    QTest::addColumn<QString>("session");
    QTest::addColumn<QString>("opened");
    QTest::addColumn<int>("minimumWaitMs");

    QTest::newRow("session") << "answers" << Base + "/user/skip?tempSession=t-1&skipUrl=/user/index"
                             << 0;
    QTest::newRow("service stopped") << "stopped" << Base + "/user/index" << 0;
    QTest::newRow("service silent") << "silent" << Base + "/user/index" << 3900;
}

void TestEndToEnd::signedInLink()
{
    QFETCH(QString, session);
    QFETCH(QString, opened);
    QFETCH(int, minimumWaitMs);

    home->signIn(QStringLiteral("42"), QStringLiteral("ann"));
    const QJsonObject sessionRoute = session == QLatin1String("silent")
        ? QJsonObject{{QStringLiteral("silent"), true}}
        : StandInService::jsonRoute(
              QJsonObject{{QStringLiteral("code"), QStringLiteral("0")},
                          {QStringLiteral("tempSession"), QStringLiteral("t-1")}});
    service->setRoutes({{QStringLiteral("/message/getMessage"),
                         StandInService::messageRoute(
                             QStringLiteral("1"), QStringLiteral("40"),
                             plainContent(QStringLiteral("http://other.example/user/index")))},
                        {QStringLiteral("/user/getTempSession"), sessionRoute}});

    VeltroProcess veltro(*home);
    const QRect popup = showPopup(veltro);
    QVERIFY(!popup.isEmpty());
    if (session == QLatin1String("stopped"))
        service->stop();
    QElapsedTimer clock;
    clock.start();
    const QStringList launches = clickAndWait(veltro, bodyCentre(popup));
    QVERIFY(clock.elapsed() >= minimumWaitMs);
    QCOMPARE(launches, QStringList{opened});
    if (session == QLatin1String("answers")) {
        const QList<QJsonObject> asked = service->requests(QStringLiteral("/user/getTempSession"));
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().value(QStringLiteral("query")).toString(),
                 QStringLiteral("userName=ann&userId=42"));
    }
}

void TestEndToEnd::coupon()
{
    home->signIn(QStringLiteral("42"), QStringLiteral("ann"));
    service->setRoutes({{QStringLiteral("/message/getMessage"), noMessage()},
                        {QStringLiteral("/couponActivity/getTimingCoupon"), dueCoupon()},
                        {QStringLiteral("/user/getTempSession"),
                         StandInService::jsonRoute(QJsonObject{
                             {QStringLiteral("code"), QStringLiteral("0")},
                             {QStringLiteral("tempSession"), QStringLiteral("t-2")}})}});
    VeltroProcess veltro(*home);
    const QRect popup = showPopup(veltro);
    QCOMPARE(popup, PopupInPlace);
    QCOMPARE(clickAndWait(veltro, bottomLink(popup)),
             QStringList{Base +
                         QStringLiteral("/user/skip?tempSession=t-2"
                                        "&skipUrl=/mycenter/getCouponInfo")});
    QCOMPARE(stored(QStringLiteral("CouponChecked")), QStringLiteral("1"));
    QCOMPARE(stored(QStringLiteral("CouponId")), QStringLiteral("c-1"));
    QCOMPARE(service->requests(QStringLiteral("/couponActivity/getTimingCoupon"))
                 .first()
                 .value(QStringLiteral("query"))
                 .toString(),
             QStringLiteral("userId=42"));
}

void TestEndToEnd::webPage()
{
    QJsonObject content = plainContent(QString());
    content.insert(QStringLiteral("contentUrl"), Base + QStringLiteral("/page.html"));
    service->setRoutes(
        {{QStringLiteral("/message/getMessage"),
          StandInService::messageRoute(QStringLiteral("2"), QStringLiteral("50"), content)},
         {QStringLiteral("/page.html"),
          page(200,
               "<html><body style='margin:0'><a href='" + Base.toUtf8() +
                   "/from-page' style='display:block;width:100vw;height:100vh'>"
                   "Read more</a></body></html>")}});
    VeltroProcess veltro(*home);
    const QRect popup = showPopup(veltro);
    QCOMPARE(popup, PopupInPlace);
    QCOMPARE(clickAndWait(veltro, bodyCentre(popup)),
             QStringList{Base + QStringLiteral("/from-page")});
}

void TestEndToEnd::failedPageThenCoupon()
{
    home->signIn(QStringLiteral("42"), QStringLiteral("ann"));
    QJsonObject content = plainContent(QString());
    content.insert(QStringLiteral("contentUrl"), Base + QStringLiteral("/missing.html"));
    service->setRoutes(
        {{QStringLiteral("/message/getMessage"),
          StandInService::messageRoute(QStringLiteral("2"), QStringLiteral("51"), content)},
         {QStringLiteral("/missing.html"), page(404, "<html>not here</html>")},
         {QStringLiteral("/couponActivity/getTimingCoupon"), dueCoupon()}});
    VeltroProcess veltro(*home);
    const QRect popup = showPopup(veltro);
    QCOMPARE(popup, PopupInPlace);
    // Left alone, the coupon popup stays.
    QTest::qWait(2000);
    QVERIFY(veltro.hasVisibleWindow());
    VeltroProcess::click(closeButton(popup));
    QVERIFY(veltro.waitForExit(StartMs));
    QCOMPARE(veltro.exitCode(), 0);
    QCOMPARE(stored(QStringLiteral("LastId")), QStringLiteral("4294967295"));
    QCOMPARE(stored(QStringLiteral("CouponId")), QStringLiteral("c-1"));
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
