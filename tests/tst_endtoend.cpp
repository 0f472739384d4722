#include "scriptedhttpserver.h"
#include "testhome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTest>
#include <QWindow>

// By "path?query" or else by path; "silent" never answers, and a path not here is not found.
using Route = std::pair<QString, QByteArray>;
using Routes = QMap<QString, QByteArray>;

namespace {

const QString Base = QStringLiteral(VELTRO_SERVICE_URL);
// The virtual screen is 1280 x 800 without a task bar: the popup, 300 x 200, sits at (980, 600).
// The pointer rests before a click, as a user's does: a web page learns from the move which link
// is under it.
const QMap<QString, QStringList> Gestures = {
    {"body", {"mousemove", "1130", "695", "sleep", "1", "click", "1"}},
    {"close", {"mousemove", "1265", "615", "click", "1"}},
    {"link", {"mousemove", "1235", "780", "click", "1"}}};
constexpr int StartMs = 60000;
constexpr int SessionSilenceMs = 4000; // pinned here only, by the row where it runs out
const QString MessagePath = "/message/getMessage";
const Route DueCoupon{"/couponActivity/getTimingCoupon?userId=42",
                      R"({"code":"0","coupon":{"id":"c-1","couponName":"n","couponMoney":"50",)"
                      R"("thresholdMoney":"300","endDate":"2017-05-31 23:59:59"},)"
                      R"("vipEndDate":"2017-05-04 00:00:00","stime":"2017-05-01 10:00:00"})"};
const Route Session{"/user/getTempSession?userName=ann&userId=42",
                    R"({"code":"0","tempSession":"t-1"})"};
// The content travels as JSON text inside the envelope, as the service sends it.
Route message(const QString &type, const QString &id, const QString &field, const QString &address,
              const QString &detail = {})
{
    QJsonObject content{{"title", "新版本"}, {"brief", "Lumaview 2027"}, {field, address}};
    if (!detail.isEmpty())
        content.insert("jmpUrl", detail);
    const QJsonObject body{
        {"type", type}, {"id", id}, {"msgData", QString(QJsonDocument(content).toJson())}};
    return {MessagePath, QJsonDocument(QJsonObject{{"ret", 1}, {"body", body}}).toJson()};
}

} // namespace

// One start of the real program in the home, with the browser's stand-in first on PATH.
class Veltro : public QProcess
{
public:
    explicit Veltro(const TestHome &home)
    {
        QProcessEnvironment environment = home.environment();
        environment.insert("PATH", VELTRO_TEST_BROWSER ":" + environment.value("PATH"));
        environment.insert("QT_LOGGING_RULES", "veltro.*=true");
        // Under Wayland with XWayland at hand the program picks xcb: neither that nor its own
        // scaling setting may reach the browser.
        environment.insert("WAYLAND_DISPLAY", "wayland-none");
        // The desktop the tests run on may lock its screen meanwhile: its bus is not asked.
        environment.remove("DBUS_SESSION_BUS_ADDRESS");
        environment.remove("QT_ENABLE_HIGHDPI_SCALING");
        setProcessEnvironment(environment);
        setProcessChannelMode(MergedChannels);
        start(VELTRO_EXE, {});
    }

    ~Veltro() override { close(); } // kills a copy still running

    bool ended() const { return state() == NotRunning; }
    QByteArray diagnostics() { return peek(bytesAvailable()); }
    // Until the popup, a web page's included, has slid into place or the program has ended.
    bool showsPopup()
    {
        const auto settled = [this] { return ended() || diagnostics().contains("popup in place"); };
        return QTest::qWaitFor(settled, StartMs) && !ended();
    }
    bool endsWell()
    {
        return QTest::qWaitFor([this] { return ended(); }, StartMs) && exitStatus() == NormalExit &&
            exitCode() == 0;
    }
};

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
    QTest::addColumn<QString>("story"); // set-up, gesture or fate; "again": a start in vain
    QTest::addColumn<QString>("outcome"); // the browser's addresses, then the store's values

    const QString news = Base + "/news/17",
                  skip = Base + "/user/skip?tempSession=t-1&skipUrl=", nothing;
    const Route plain = message("1", "17", "jmpUrl", news);
    const Route link = message("1", "40", "jmpUrl", "http://x.example/user/index");
    const Route page = message("2", "50", "contentUrl", Base + "/page.html");
    const QByteArray fullPageLink = "<body style='margin:0'><a href='" + Base.toUtf8() +
        "/from-page' style='display:block;width:100vw;height:100vh'>Read more</a></body>";
    QTest::newRow("message shown once")
        << Routes{plain} << "body, again" << news + " LastId=17 AvaTimes=0";
    QTest::newRow("update notice") << Routes{message("5", "30", "jmpUrl", "http://x.example/")}
                                   << "link" << Base + "/ LastId=30";
    QTest::newRow("close button opens nothing") << Routes{plain} << "keeps off the keyboard, close"
                                                << "LastId=17";
    QTest::newRow("coupon") << Routes{{MessagePath, R"({"ret":0})"}, DueCoupon, Session}
                            << "signed in, link"
                            << skip + "/mycenter/getCouponInfo CouponChecked=1 CouponId=c-1";
    QTest::newRow("web page") << Routes{page, {"/page.html", fullPageLink}} << "body"
                              << Base + "/from-page LastId=50";
    // Opened by the program, which waits for the session while the helper has ended.
    QTest::newRow("web page's signed-in link: service silent")
        << Routes{message("2", "51", "contentUrl", Base + "/page.html", Base + "/user/index"),
                  {"/page.html", fullPageLink},
                  {Session.first, "silent"}}
        << "signed in, link" << Base + "/user/index LastId=51";
    QTest::newRow("failed page, then the coupon") << Routes{page, DueCoupon} << "signed in, close"
                                                  << "LastId=4294967295 CouponId=c-1";
    QTest::newRow("signed-in link: session")
        << Routes{link, Session} << "signed in, body" << skip + "/user/index";
    QTest::newRow("signed-in link: service stopped")
        << Routes{link} << "signed in, service stops, body" << Base + "/user/index";
    QTest::newRow("signed-in link: service silent")
        << Routes{link, {Session.first, "silent"}} << "signed in, body" << Base + "/user/index";
    QTest::newRow("store of binary garbage") << Routes{plain} << "binary garbage, close, again"
                                             << "LastId=17 AvaTimes=0";
    QTest::newRow("store unreadable") << Routes{plain} << "unreadable store, close" << nothing;
    QTest::newRow("store cannot be written")
        << Routes{plain} << "no store folder, close" << nothing;
    QTest::newRow("eight copies at once") << Routes{{MessagePath, "silent"}} << "eight copies"
                                          << "AvaTimes=2";
    QTest::newRow("killed while showing") << Routes{plain} << "kill, again"
                                          << "LastId=17 AvaTimes=0";
    QTest::newRow("quiet while presenting, then asks") << Routes{plain} << "full screen, close"
                                                       << "LastId=17 AvaTimes=1";
}

void TestEndToEnd::scenario()
{
    QFETCH(Routes, routes);
    QFETCH(QString, story);
    QFETCH(QString, outcome);

    const bool again = story.endsWith(", again");
    const QString gesture = story.remove(", again").section(", ", -1);
    const TestHome home;
    if (story.contains("signed in"))
        home.signIn("42", "ann");
    // Nothing can be written with a file where the store's folder belongs; root reads any file,
    // but not a folder in the store's place.
    const QString folder = QFileInfo(home.storeFile()).path();
    QVERIFY(story.contains("no store folder") ? QFile(folder).open(QIODevice::WriteOnly)
                                              : QDir().mkpath(folder));
    QVERIFY(!story.contains("unreadable") || QDir().mkpath(home.storeFile()));
    QVERIFY(!story.contains("binary garbage") || QFile::copy(VELTRO_EXE, home.storeFile()));
    auto service = std::make_unique<ScriptedHttpServer>();
    QVERIFY(service->listen(Base.section(':', -1).toUShort()));
    service->setHandler([&routes](const RecordedRequest &request) {
        const QByteArray body =
            routes.value(request.path + '?' + request.query, routes.value(request.path));
        ScriptedReply reply = ScriptedReply::json(body, body.isNull() ? 404 : 200);
        reply.silent = body == "silent";
        reply.headers = {{"Content-Type", body.startsWith('<') ? "text/html" : "application/json"}};
        return reply;
    });

    QWindow presentation; // the active window, marked full screen for one start
    if (story.contains("full screen")) {
        presentation.show();
        QVERIFY(QTest::qWaitForWindowExposed(&presentation));
        const QString id = QString::number(presentation.winId());
        const auto xprop = [](const QString &line) {
            return QProcess::execute("xprop", line.split(' ')) == 0;
        };
        QVERIFY(xprop("-root -f _NET_ACTIVE_WINDOW 32x -set _NET_ACTIVE_WINDOW " + id));
        QVERIFY(xprop("-id " + id +
                      " -f _NET_WM_STATE 32a -set _NET_WM_STATE _NET_WM_STATE_FULLSCREEN"));
        Veltro quiet(home);
        QVERIFY2(quiet.endsWell() && service->requests().isEmpty(), quiet.diagnostics());
        QVERIFY(xprop("-id " + id + " -remove _NET_WM_STATE"));
    }
    std::vector<std::unique_ptr<Veltro>> copies;
    for (int i = 0; i < (gesture == "eight copies" ? 8 : 1); ++i)
        copies.push_back(std::make_unique<Veltro>(home));
    Veltro &veltro = *copies.front();
    if (copies.size() > 1) {
        // All but the one that holds the guard end before the start-up wait would be over.
        const auto refused = [](auto &copy) { return copy->ended() && copy->exitCode() == 0; };
        QTRY_VERIFY_WITH_TIMEOUT(std::count_if(copies.begin(), copies.end(), refused) == 7, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(service->requests().size(), 1, StartMs);
        // The one that asked gives up on the silent service when the manager's GET runs out.
        const auto holder =
            std::find_if(copies.begin(), copies.end(), [](auto &copy) { return !copy->ended(); });
        QVERIFY(holder != copies.end());
        QElapsedTimer clock;
        clock.start();
        QVERIFY2((*holder)->endsWell(), (*holder)->diagnostics());
        QVERIFY2(clock.elapsed() > 13000 && clock.elapsed() < 25000,
                 QByteArray::number(clock.elapsed()));
    }
    QVERIFY2(copies.size() > 1 || veltro.showsPopup(), veltro.diagnostics());
    if (story.contains("keeps off the keyboard")) {
        QProcess hints; // of the program's window on screen
        hints.start("sh",
                    {"-c",
                     "xprop -id $(xdotool search --onlyvisible --pid $0 | head -n 1) WM_HINTS",
                     QString::number(veltro.processId())});
        QVERIFY(hints.waitForFinished());
        const QByteArray text = hints.readAll();
        QVERIFY2(text.contains("Client accepts input or input focus: False"), text);
    }
    if (story.contains("service stops"))
        service.reset(new ScriptedHttpServer); // one that does not listen
    if (Gestures.contains(gesture)) {
        QProcess::execute("xdotool", Gestures[gesture]);
        QElapsedTimer clock;
        clock.start();
        QVERIFY2(veltro.endsWell(), veltro.diagnostics());
        const int waitMs = routes.value(Session.first) == "silent" ? SessionSilenceMs : 0;
        QVERIFY(waitMs == 0 || (clock.elapsed() > waitMs * 9 / 10 && clock.elapsed() < 2 * waitMs));
    }
    copies.clear();
    if (again) {
        Veltro next(home);
        QVERIFY2(!next.showsPopup() && next.endsWell(), next.diagnostics());
    }

    // The browser is started detached: its line may come after the program has ended.
    const auto opened = [&home] {
        QFile browser(home.path() + "/browser.log");
        browser.open(QIODevice::ReadOnly); // no log when nothing was opened
        return QString::fromUtf8(browser.readAll()).split('\n', Qt::SkipEmptyParts);
    };
    QTRY_COMPARE_WITH_TIMEOUT(opened().size(), int(outcome.count("://")), 5000);
    QStringList found = opened();
    const QSettings settings(home.storeFile(), QSettings::IniFormat);
    for (const QString &key : outcome.split(' ', Qt::SkipEmptyParts)) {
        if (!key.contains("://"))
            found << key.section('=', 0, 0) + '=' +
                    settings.value("VeltroPara/" + key.section('=', 0, 0)).toString();
    }
    QCOMPARE(found.join(' '), outcome);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
