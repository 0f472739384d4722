#include "datatable.h"
#include "serviceanswers.h"
#include "testhome.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
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

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
