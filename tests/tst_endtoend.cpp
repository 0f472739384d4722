#include "scriptedhttpserver.h"
#include "testhome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTest>
#include <QUrl>

using Route = std::pair<QString, ScriptedReply>;
using Routes = QMap<QString, ScriptedReply>; // by path, or by "path?query" to ask for the query
Q_DECLARE_METATYPE(Routes)

namespace {

const QString Base = QStringLiteral(VELTRO_SERVICE_URL);
// The virtual screen is 1280 x 800 without a task bar: the popup's place is its corner.
const QPoint PopupInPlace(1280 - 300, 800 - 200);
const QMap<QString, QPoint> Gestures = {
    {"body", {150, 95}}, {"close", {285, 15}}, {"link", {255, 180}}};
constexpr int StartMs = 60000;
const QString MessagePath = "/message/getMessage";
const Route DueCoupon{
    "/couponActivity/getTimingCoupon?userId=42",
    ScriptedReply::json(R"({"code":"0","coupon":{"id":"c-1","couponName":"n",)"
                        R"("couponMoney":"50","thresholdMoney":"300","endDate":)"
                        R"("2017-05-31 23:59:59"},"vipEndDate":)"
                        R"("2017-05-04 00:00:00","stime":"2017-05-01 10:00:00"})")};
const Route Session{"/user/getTempSession?userName=ann&userId=42",
                    ScriptedReply::json(R"({"code":"0","tempSession":"t-1"})")};
const ScriptedReply Silent = [] {
    ScriptedReply reply;
    reply.silent = true;
    return reply;
}();

ScriptedReply answer(int status, const QByteArray &html)
{
    ScriptedReply reply;
    reply.status = status;
    reply.body = html;
    return reply;
}

// The content travels as JSON text inside the envelope, as the service sends it.
Route message(const QString &type, const QString &id, const QString &field, const QString &address)
{
    const QString content =
        R"({\"title\":\"新版本已发布\",\"brief\":\"Lumaview 2027\",\"%1\":\"%2\"})";
    return {
        MessagePath,
        ScriptedReply::json(QString(R"({"ret":1,"body":{"type":"%1","id":"%2","msgData":"%3"}})")
                                .arg(type, id, content.arg(field, address))
                                .toUtf8())};
}

// Starts the real program in the home, with the browser's stand-in first on PATH.
void start(QProcess &veltro, const TestHome &home)
{
    QProcessEnvironment environment = home.environment();
    environment.insert("PATH", VELTRO_TEST_BROWSER ":" + environment.value("PATH"));
    environment.insert("QT_LOGGING_RULES", "veltro.*=true");
    veltro.setProcessEnvironment(environment);
    veltro.setProcessChannelMode(QProcess::MergedChannels);
    veltro.start(VELTRO_EXE, {});
}

QString diagnostics(QProcess &veltro)
{
    return QString::fromLocal8Bit(veltro.peek(veltro.bytesAvailable()));
}

bool ended(const QProcess &veltro)
{
    return veltro.state() == QProcess::NotRunning;
}

// Until the popup, a web page's included, has slid into place or the program has ended.
bool showsPopup(QProcess &veltro)
{
    return QTest::qWaitFor(
               [&] { return ended(veltro) || diagnostics(veltro).contains("popup in place"); },
               StartMs) &&
        !ended(veltro);
}

bool endsWell(QProcess &veltro)
{
    return QTest::qWaitFor([&] { return ended(veltro); }, StartMs) &&
        veltro.exitStatus() == QProcess::NormalExit && veltro.exitCode() == 0;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void scenario_data();
    void scenario();
};

void TestEndToEnd::scenario_data()
{
    QTest::addColumn<Routes>("routes");
    QTest::addColumn<QString>("story"); // the set-up, then a gesture on the popup or a fate
    QTest::addColumn<bool>("again"); // a second start ends without showing anything
    QTest::addColumn<QString>("opened"); // by the browser
    QTest::addColumn<QString>("stored"); // "key=value ..." in the store at the end
    QTest::addColumn<int>("waitMs"); // from the gesture until the program ends

    const QString news = Base + "/news/17", none;
    const Route plain = message("1", "17", "jmpUrl", news);
    const Route link = message("1", "40", "jmpUrl", "http://x.example/user/index");
    const Route page = message("2", "50", "contentUrl", Base + "/page.html");
    const QByteArray fullPageLink = "<body style='margin:0'><a href='" + Base.toUtf8() +
        "/from-page' style='display:block;width:100vw;height:100vh'>Read more</a></body>";
    QTest::newRow("message shown once")
        << Routes{plain} << "body" << true << news << "LastId=17 AvaTimes=0" << 0;
    QTest::newRow("update notice") << Routes{message("5", "30", "jmpUrl", "http://x.example/")}
                                   << "link" << false << Base + "/"
                                   << "LastId=30" << 0;
    QTest::newRow("close button opens nothing")
        << Routes{plain} << "close" << false << none << "LastId=17" << 0;
    QTest::newRow("coupon") << Routes{{MessagePath, ScriptedReply::json(R"({"ret":0})")},
                                      DueCoupon,
                                      Session}
                            << "signed in, link" << false
                            << Base + "/user/skip?tempSession=t-1&skipUrl=/mycenter/getCouponInfo"
                            << "CouponChecked=1 CouponId=c-1" << 0;
    QTest::newRow("web page") << Routes{page, {"/page.html", answer(200, fullPageLink)}} << "body"
                              << false << Base + "/from-page"
                              << "LastId=50" << 0;
    QTest::newRow("failed page, then the coupon")
        << Routes{page, {"/page.html", answer(404, "not here")}, DueCoupon} << "signed in, close"
        << false << none << "LastId=4294967295 CouponId=c-1" << 0;
    QTest::newRow("signed-in link: session")
        << Routes{link, Session} << "signed in, body" << false
        << Base + "/user/skip?tempSession=t-1&skipUrl=/user/index" << none << 0;
    QTest::newRow("signed-in link: service stopped")
        << Routes{link} << "signed in, service stops, body" << false << Base + "/user/index" << none
        << 0;
    // The one row that pins the silence limit of the temporary-session request.
    QTest::newRow("signed-in link: service silent")
        << Routes{link, {Session.first, Silent}} << "signed in, body" << false
        << Base + "/user/index" << none << 4000;
    QTest::newRow("store of random bytes")
        << Routes{plain} << "random bytes, close" << true << none << "LastId=17 AvaTimes=0" << 0;
    QTest::newRow("store unreadable")
        << Routes{plain} << "unreadable store, close" << false << none << none << 0;
    QTest::newRow("store cannot be written")
        << Routes{plain} << "no store folder, close" << false << none << none << 0;
    QTest::newRow("eight copies at once")
        << Routes{{MessagePath, Silent}} << "eight copies" << false << none << "AvaTimes=2" << 0;
    QTest::newRow("killed while showing")
        << Routes{plain} << "kill" << true << none << "LastId=17 AvaTimes=0" << 0;
}

void TestEndToEnd::scenario()
{
    QFETCH(Routes, routes);
    QFETCH(QString, story);
    QFETCH(bool, again);
    QFETCH(QString, opened);
    QFETCH(QString, stored);
    QFETCH(int, waitMs);

    const TestHome home;
    if (story.contains("signed in"))
        home.signIn("42", "ann");
    // Nothing can be written with a file where the store's folder belongs; root reads any file,
    // but not a folder in the store's place.
    QFile folder(QFileInfo(home.storeFile()).path()), store(home.storeFile());
    QVERIFY(story.contains("no store folder") ? folder.open(QIODevice::WriteOnly)
                                              : QDir().mkpath(folder.fileName()));
    QVERIFY(!story.contains("unreadable") || QDir().mkpath(home.storeFile()));
    if (story.contains("random bytes") && store.open(QIODevice::WriteOnly)) {
        QByteArray noise(16 * 1024, '\0');
        QRandomGenerator(11).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        store.write(noise);
    }
    auto service = std::make_unique<ScriptedHttpServer>();
    QVERIFY(service->listen(QUrl(Base).port()));
    service->setHandler([&routes](const RecordedRequest &request) {
        return routes.value(request.path + '?' + request.query,
                            routes.value(request.path, answer(404, {})));
    });

    std::vector<std::unique_ptr<QProcess>> copies;
    for (int i = 0; i < (story == "eight copies" ? 8 : 1); ++i)
        start(*copies.emplace_back(std::make_unique<QProcess>()), home);
    if (copies.size() > 1) {
        // All but the one that holds the guard end before the start-up wait would be over.
        QVERIFY(QTest::qWaitFor(
            [&] {
                return std::count_if(copies.begin(), copies.end(), [](auto &copy) {
                           return ended(*copy) && copy->exitCode() == 0;
                       }) == 7;
            },
            2000));
        QTRY_COMPARE_WITH_TIMEOUT(service->requests().size(), 1, StartMs);
    } else {
        QProcess &veltro = *copies.front();
        QVERIFY2(showsPopup(veltro), qPrintable(diagnostics(veltro)));
        if (story.contains("service stops"))
            service.reset(new ScriptedHttpServer); // one that does not listen
        const QPoint point = PopupInPlace + Gestures.value(story.section(' ', -1));
        if (story != "kill") {
            QProcess::execute("xdotool",
                              {"mousemove", QString::number(point.x()), QString::number(point.y()),
                               "click", "1"});
            QElapsedTimer clock;
            clock.start();
            QVERIFY2(endsWell(veltro), qPrintable(diagnostics(veltro)));
            const qint64 elapsed = clock.elapsed();
            QVERIFY2(waitMs == 0 || (elapsed > waitMs * 9 / 10 && elapsed < 2 * waitMs),
                     qPrintable(QString::number(elapsed)));
        }
    }
    for (auto &copy : copies) {
        copy->kill();
        copy->waitForFinished();
    }
    if (again) {
        QProcess next;
        start(next, home);
        QVERIFY2(!showsPopup(next) && endsWell(next), qPrintable(diagnostics(next)));
    }

    QFile browser(home.path() + "/browser.log");
    browser.open(QIODevice::ReadWrite); // an empty log when nothing was opened
    QCOMPARE(QString::fromUtf8(browser.readAll()).trimmed(), opened);
    const QSettings settings(home.storeFile(), QSettings::IniFormat);
    for (const QString &pair : stored.split(' ', Qt::SkipEmptyParts)) {
        const QString key = pair.section('=', 0, 0);
        QCOMPARE(key + '=' + settings.value("VeltroPara/" + key).toString(), pair);
    }
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
