#include "datatable.h"
#include "serviceanswers.h"
#include "testhome.h"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QWindow>

// By "path?query" or else by path; "silent" never answers, and a path not here is not found.
using Route = std::pair<QString, QByteArray>;
using Routes = QMap<QString, QByteArray>;

namespace {

const QString Base = QStringLiteral(VELTRO_SERVICE_URL);
// On the 1280 x 800 screen the 300 x 200 popup sits at (980, 600). The pointer rests before a
// click, as a user's does: a web page learns from the move which link is under it.
const QMap<QString, QStringList> Gestures = {
    {"body", {"mousemove", "1130", "695", "sleep", "1", "click", "1"}},
    {"close", {"mousemove", "1265", "615", "click", "1"}},
    {"link", {"mousemove", "1235", "780", "click", "1"}}};
constexpr int StartMs = 60000;
const QString MessagePath = "/message/getMessage";
const Route DueCoupon{"/couponActivity/getTimingCoupon?userId=42", ServiceAnswers::DueCoupon};
const Route Session{"/user/getTempSession?userName=ann&userId=42", ServiceAnswers::session("t-1")};
// A message with its links, written with ' for ".
Route message(const char *type, const char *id, const QString &links)
{
    const QString content = "{'title':'新版本','brief':'Lumaview 2027'," + links + '}';
    return {MessagePath, ServiceAnswers::message(type, id, content.toUtf8().replace('\'', '"'))};
}

// A command line's output.
QByteArray shell(const QString &command)
{
    QProcess sh;
    sh.start("sh", {"-c", command});
    sh.waitForFinished();
    return sh.readAll();
}

} // namespace

// One start of the real program in the home, with the browser's stand-in first on PATH.
class Veltro : public QProcess
{
public:
    // With a session bus at busSocket, else none.
    explicit Veltro(const TestHome &home, const QString &busSocket = QString())
    {
        QProcessEnvironment environment = home.environment();
        environment.insert("PATH", VELTRO_TEST_BROWSER ":" + environment.value("PATH"));
        environment.insert("QT_LOGGING_RULES", "veltro.*=true");
        // Under Wayland the program picks xcb: neither that nor its scaling may reach the browser.
        environment.insert("WAYLAND_DISPLAY", "wayland-none");
        // The desktop the tests run on may lock its screen meanwhile: its bus is not asked.
        environment.remove("DBUS_SESSION_BUS_ADDRESS");
        if (!busSocket.isEmpty())
            environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + busSocket);
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
    void preview_data();
    void preview();
};

void TestEndToEnd::scenario_data()
{
    // The story: set-up, gesture or fate, "again" a start in vain. The outcome: the browser's
    // addresses, then the store's values.
    columns<Routes, QString, QString>("routes", "story", "outcome");

    const QString news = Base + "/news/17", skip = Base + "/user/skip?tempSession=t-1&skipUrl=";
    const Route plain = message("1", "17", "'jmpUrl':'" + news + "'");
    const Route link = message("1", "40", "'jmpUrl':'http://x.example/user/index'");
    const Route page = message("2", "50", "'contentUrl':'" + Base + "/page.html'");
    const QByteArray fullPageLink = "<body style='margin:0'><a href='" + Base.toUtf8() +
        "/from-page' style='display:block;width:100vw;height:100vh'>Read more</a></body>";
    const auto row = [](const char *name, const Routes &routes, const char *story,
                        const QString &outcome) {
        QTest::newRow(name) << routes << story << outcome;
    };
    const Route detailed = message(
        "2", "51", "'contentUrl':'" + Base + "/page.html','jmpUrl':'" + Base + "/user/index'");
    row("message shown once", {plain}, "body, again", news + " LastId=17 AvaTimes=0");
    row("update notice", {message("5", "30", "'jmpUrl':'http://x.example/'")}, "link",
        Base + "/ LastId=30");
    row("close button opens nothing", {plain}, "keeps off the keyboard, close", "LastId=17");
    row("coupon", {{MessagePath, R"({"ret":0})"}, DueCoupon, Session}, "signed in, link",
        skip + "/mycenter/getCouponInfo CouponChecked=1 CouponId=c1");
    row("web page", {page, {"/page.html", fullPageLink}}, "body", Base + "/from-page LastId=50");
    // Opened by the program, which waits for the session while the helper has ended.
    row("web page's signed-in link: service silent",
        {detailed, {"/page.html", fullPageLink}, {Session.first, "silent"}}, "signed in, link",
        Base + "/user/index LastId=51");
    row("failed page, then the coupon", {page, DueCoupon}, "signed in, close",
        "LastId=4294967295 CouponId=c1");
    row("signed-in link: session", {link, Session}, "signed in, body", skip + "/user/index");
    row("store of binary garbage", {plain}, "binary garbage, close, again", "LastId=17 AvaTimes=0");
    row("store unreadable", {plain}, "unreadable store, close", "");
    row("store cannot be written", {plain}, "no store folder, close", "");
    row("eight copies at once", {{MessagePath, "silent"}}, "eight copies", "AvaTimes=2");
    row("killed while showing a web page", {page, {"/page.html", fullPageLink}}, "kill, again",
        "LastId=50 AvaTimes=0");
    row("quiet while presenting, then asks", {plain}, "full screen, close", "LastId=17 AvaTimes=1");
    // The bus takes the greeting, then never answers: the popup shows all the same, and the
    // browser gets the bus the user has.
    row("session bus stalls", {plain}, "stalled bus, body", news + " bus:unix LastId=17");
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
    // A file in the store folder's place stops any write; a folder in the store's, any read.
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
        shell("xprop -root -f _NET_ACTIVE_WINDOW 32x -set _NET_ACTIVE_WINDOW " + id +
              "; xprop -id " + id +
              " -f _NET_WM_STATE 32a -set _NET_WM_STATE _NET_WM_STATE_FULLSCREEN");
        Veltro quiet(home);
        QVERIFY2(quiet.endsWell() && service->requests().isEmpty(), quiet.diagnostics());
        shell("xprop -id " + id + " -remove _NET_WM_STATE");
    }
    QLocalServer bus;
    if (story.contains("stalled bus")) {
        QVERIFY(bus.listen(home.path() + "/bus"));
        connect(&bus, &QLocalServer::newConnection, &bus, [&bus] {
            QLocalSocket *client = bus.nextPendingConnection();
            connect(client, &QLocalSocket::readyRead, client, [client, greeted = false]() mutable {
                client->readAll();
                if (!std::exchange(greeted, true))
                    client->write("OK 0123456789abcdef0123456789abcdef\r\n");
            });
        });
    }
    std::vector<std::unique_ptr<Veltro>> copies;
    for (int i = 0; i < (gesture == "eight copies" ? 8 : 1); ++i)
        copies.push_back(std::make_unique<Veltro>(home, bus.fullServerName()));
    Veltro &veltro = *copies.front();
    if (copies.size() > 1) {
        // All but the one that holds the guard end at once; that one asks the silent service
        // and ends when the manager's GET gives up.
        const auto refused = [](auto &copy) { return copy->ended() && copy->exitCode() == 0; };
        QTRY_VERIFY_WITH_TIMEOUT(std::count_if(copies.begin(), copies.end(), refused) == 7,
                                 StartMs);
        QTRY_COMPARE_WITH_TIMEOUT(service->requests().size(), 1, StartMs);
        for (auto &copy : copies)
            QVERIFY2(copy->endsWell(), copy->diagnostics());
    }
    QVERIFY2(copies.size() > 1 || veltro.showsPopup(), veltro.diagnostics());
    if (story.contains("keeps off the keyboard")) {
        const QByteArray hints = shell( // of the program's window on screen
            QString("xprop -id $(xdotool search --onlyvisible --pid %1 | head -n 1) WM_HINTS")
                .arg(veltro.processId()));
        QVERIFY2(hints.contains("Client accepts input or input focus: False"), hints);
    }
    // The helper of a web page, which must not outlive the program however it ends.
    const QByteArray helpers =
        shell(QString("cat /proc/%1/task/%1/children").arg(veltro.processId())).trimmed();
    if (Gestures.contains(gesture)) {
        QProcess::execute("xdotool", Gestures[gesture]);
        QVERIFY2(veltro.endsWell(), veltro.diagnostics());
    }
    copies.clear();
    const QString states = "for p in " + helpers + "; do cut -d ' ' -f 3 /proc/$p/stat; done";
    QTRY_COMPARE_WITH_TIMEOUT(shell(states).replace('Z', "").trimmed(), QByteArray(), 5000);
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
        if (key.contains('=') && !key.contains("://"))
            found << key.section('=', 0, 0) + '=' +
                    settings.value("VeltroPara/" + key.section('=', 0, 0)).toString();
    }
    QCOMPARE(found.join(' '), outcome);
}

void TestEndToEnd::preview_data()
{
    // What the user saw last, as the store holds it, and whether the popup shows.
    columns<Routes, QString, bool>("routes", "store", "shown");
    const auto row = [](const char *name, const Routes &routes, const char *store, bool shown) {
        QTest::newRow(name) << routes << store << shown;
    };
    const Route none{MessagePath, R"({"ret":0})"};
    const QByteArray ended =
        QByteArray(ServiceAnswers::DueCoupon).replace("2017-05-04 00:00:00", "2017-04-29 12:00:00");
    const Route vipEnded{DueCoupon.first, ended};
    const Route lastDay{DueCoupon.first, QByteArray(ended).replace("-31 23:59:59", "-01 23:00:00")};
    const Route page = message("2", "50", "'contentUrl':'%1/page.html','jmpUrl':'/user/index'");
    row("plain", {message("1", "17", "'jmpUrl':'" + Base + "/news/17'")}, "", true);
    row("update notice", {message("5", "30", "'jmpUrl':'http://x.example/'")}, "", true);
    row("web page", {page, {"/page.html", "<h1>News</h1>"}}, "https", true);
    row("coupon: VIP new", {none, DueCoupon}, "", true);
    row("coupon: VIP unused", {none, DueCoupon}, "CouponId=c1", true);
    row("coupon: not-VIP new", {none, vipEnded}, "", true);
    row("coupon: not-VIP not-new", {none, vipEnded}, "CouponId=c1", true);
    row("coupon: not-VIP last day", {none, lastDay}, "CouponId=c1", true);
    row("id already shown", {message("1", "17", "'jmpUrl':'http://x.example/'")}, "LastId=17",
        false);
    row("missing title", {{MessagePath, ServiceAnswers::message("1", "18", R"({"brief":"B"})")}},
        "", false);
    row("link of another scheme", {message("1", "19", "'jmpUrl':'lumaview://open'")}, "", true);
    row("web page over http",
        {message("2", "51", "'contentUrl':'" + Base + "/page.html'"),
         {"/page.html", "<h1>News</h1>"}},
        "", true);
}

// The preview and a real start, on the same answers, come to the same verdict in the same words;
// the preview, run while the start holds the guard, changes nothing.
void TestEndToEnd::preview()
{
    QFETCH(Routes, routes);
    QFETCH(QString, store);
    QFETCH(bool, shown);

    const TestHome home;
    home.signIn("42", "ann");
    if (!store.isEmpty())
        QSettings(home.storeFile(), QSettings::IniFormat)
            .setValue("VeltroPara/" + store.section('=', 0, 0), store.section('=', 1));
    ScriptedHttpServer service, tls; // the service, and the vendor's https pages
    QVERIFY(service.listen(Base.section(':', -1).toUShort()) &&
            tls.listenTls(VELTRO_TEST_TLS "/service.crt", VELTRO_TEST_TLS "/service.key"));
    routes[MessagePath].replace("%1", tls.baseUrl().toUtf8());
    for (ScriptedHttpServer *each : {&service, &tls})
        each->setHandler([&routes](const RecordedRequest &request) {
            const QByteArray body =
                routes.value(request.path + '?' + request.query, routes.value(request.path));
            ScriptedReply reply = ScriptedReply::json(body, body.isNull() ? 404 : 200);
            reply.headers = {{"Content-Type", body.startsWith('<') ? "text/html" : "text/json"}};
            return reply;
        });
    QStringList arguments{home.path() + "/message.json", "--user", "42", "--json", "--out",
                          home.path() + "/pictures"};
    if (routes.contains(DueCoupon.first))
        arguments << "--coupon" << home.path() + "/coupon.json";
    if (!store.isEmpty())
        arguments << (store.startsWith("LastId") ? "--last-id" : "--coupon-id")
                  << store.section('=', 1);
    for (const QString &path : {MessagePath, DueCoupon.first}) {
        QFile file(home.path() + (path == MessagePath ? "/message.json" : "/coupon.json"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(routes.value(path)) >= 0);
    }
    // The test certificate is in no store the engine reads.
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --ignore-certificate-errors");
    Veltro veltro(home);
    QCOMPARE(veltro.showsPopup(), shown);
    QVERIFY(shown || veltro.endsWell());

    const auto contents = [](const QString &name) {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray stored = contents(home.storeFile());
    const qsizetype asked = service.requests().size();
    QProcess preview;
    preview.setProcessEnvironment(home.environment());
    preview.start(VELTRO_PREVIEW_EXE, arguments);
    // The service answers the helpers' pages from this process's event loop.
    QVERIFY(
        QTest::qWaitFor([&preview] { return preview.state() == QProcess::NotRunning; }, StartMs));
    const QByteArray output = preview.readAllStandardOutput();
    QVERIFY2(preview.exitCode() == (shown ? 0 : 1), output + preview.readAllStandardError());
    const QJsonObject verdict = QJsonDocument::fromJson(output).object();
    QCOMPARE(verdict["shown"].toBool(), shown);
    // Only the page the helper drew was asked for, with its icon: no message, coupon or session.
    for (const RecordedRequest &request : service.requests().mid(asked))
        QVERIFY2(request.path == "/page.html" || request.path == "/favicon.ico",
                 qPrintable(request.path));
    QCOMPARE(contents(home.storeFile()), stored);
    QVERIFY(!QFileInfo::exists(home.path() + "/browser.log"));

    // Why, in the manager's and the popups' words; where the popup landed depends on the screen.
    const auto reasons = [](const QStringList &lines) {
        return lines.filter(QRegularExpression("^veltro\\.(manager|popup): (?!popup in place)"));
    };
    QStringList previewed;
    for (const QJsonValue &line : verdict["reasons"].toArray())
        previewed << line.toString();
    QCOMPARE(reasons(previewed), reasons(QString::fromUtf8(veltro.diagnostics()).split('\n')));
    // Input that cannot be judged: a file that is not there, two messages, a day that is none.
    for (const QStringList &unusable :
         {QStringList{"/none"}, {"-", "-"}, {"--today", "2026-13-01"}})
        QCOMPARE(QProcess::execute(VELTRO_PREVIEW_EXE, unusable), 2);
    // Each picture in device pixels: the popup's written size grows only above 120 DPI.
    const QList<QSize> sizes{{300, 200}, {300, 200}, {450, 300}, {525, 350}};
    const QJsonArray pictures = verdict["pictures"].toArray();
    QCOMPARE(pictures.size(), shown ? 5 : 0);
    for (qsizetype i = 0; i + 1 < pictures.size(); ++i)
        QCOMPARE(QImage(pictures[i].toString()).size(), sizes[i]);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
