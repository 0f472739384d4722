#include "app/usercontext.h"
#include "browserrecorder.h"
#include "net/strictjson.h"
#include "popup/veltrowebcontent.h"
#include "scriptedhttpserver.h"
#include "testhome.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QScreen>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <csignal>
#include <memory>

namespace {

// Every scheme a link in the test page uses: whatever reaches the desktop's handlers is seen.

// Fits the 130 CSS pixels of the body at any zoom, but the page itself is taller than the view.
const QByteArray LinkPage =
    "<!DOCTYPE html><html><head><style>"
    "body { margin: 0; font-size: 12px; }"
    "p, a, button { display: block; height: 18px; margin: 0; padding: 0; }"
    "</style></head><body>"
    "<p id='text'>Plain text</p>"
    "<a id='link' href='/target'>In the page</a>"
    "<a id='newWindow' href='/window' target='_blank'>New window</a>"
    "<button id='scripted' onclick=\"window.open('/scripted')\">Scripted window</button>"
    "<a id='custom' href='lumaview:open'>Custom scheme</a>"
    "<a id='file' href='file:///etc/passwd'>Local file</a>"
    "<form action='lumaview:payload'><button id='form' name='x' value='1'>Send</button></form>"
    "<form id='share' action='smb://attacker.example/share/run.exe'></form>"
    "<p id='pressSubmit' onmousedown='document.forms.share.submit()'>Press</p>"
    "<p id='timer' onclick=\"setTimeout(() => {"
    " location.href = '/timer'; document.title = 'late'; }, 2500)\">Later</p>"
    "<div style='height: 1000px'></div>"
    "</body></html>";

const QByteArray ErrorPage = "<html><body><h1>Something went wrong</h1></body></html>";

ScriptedReply htmlReply(int status, const QByteArray &body)
{
    ScriptedReply reply;
    reply.status = status;
    reply.headers = {{"Content-Type", "text/html"}};
    reply.body = body;
    return reply;
}

Json::Value parseContent(const QString &text)
{
    Json::Value content;
    StrictJson::parse(text.toUtf8(), content);
    return content;
}

// QtWebEngineProcess below this process: zygote, renderers, GPU and utility processes.
int webEngineHelperCount()
{
    QHash<qint64, qint64> parentOf;
    QList<qint64> helpers;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isProcess = false;
        const qint64 pid = entry.toLongLong(&isProcess);
        if (!isProcess)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may itself hold spaces and parentheses.
        const QByteArray line = stat.readAll();
        const qsizetype nameStart = line.indexOf('(');
        const qsizetype nameEnd = line.lastIndexOf(')');
        if (nameStart < 0 || nameEnd < nameStart)
            continue;
        const QList<QByteArray> rest = line.mid(nameEnd + 2).split(' ');
        if (rest.size() < 2)
            continue;
        parentOf.insert(pid, rest.at(1).toLongLong());
        if (line.mid(nameStart + 1, nameEnd - nameStart - 1).startsWith("QtWebEngineProc"))
            helpers.append(pid);
    }
    const qint64 self = QCoreApplication::applicationPid();
    int count = 0;
    for (qint64 pid : helpers) {
        for (qint64 up = parentOf.value(pid); up > 1; up = parentOf.value(up)) {
            if (up == self) {
                ++count;
                break;
            }
        }
    }
    return count;
}

// The script's value; invalid when the page gave none within the bound.
QVariant evaluate(QWebEnginePage *page, const QString &script)
{
    struct Outcome
    {
        bool done = false;
        QVariant value;
    };
    auto outcome = std::make_shared<Outcome>();
    page->runJavaScript(script, [outcome](const QVariant &value) {
        outcome->value = value;
        outcome->done = true;
    });
    if (!QTest::qWaitFor([&] { return outcome->done; }, 15000))
        return QVariant();
    return outcome->value;
}

// A real mouse click in the middle of the page's element, as the user would make it.
bool clickElement(QWebEngineView *view, const QString &id)
{
    const QPointer<QWebEngineView> alive(view);
    const QVariantList centre =
        evaluate(view->page(),
                 QStringLiteral("(function() {"
                                "  const e = document.getElementById('%1');"
                                "  e.scrollIntoView();"
                                "  const r = e.getBoundingClientRect();"
                                "  return [(r.left + r.width / 2) * devicePixelRatio,"
                                "          (r.top + r.height / 2) * devicePixelRatio];"
                                "})()")
                     .arg(id))
            .toList();
    if (centre.size() != 2 || !alive)
        return false;
    QTest::mouseClick(view->focusProxy(), Qt::LeftButton, {},
                      QPoint(qRound(centre.at(0).toDouble()), qRound(centre.at(1).toDouble())));
    return true;
}

} // namespace

class TestWebContent : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    // Runs first: no test before it may have started WebEngine.
    void refusedBeforeWebEngine_data();
    void refusedBeforeWebEngine();
    void failedLoads_data();
    void failedLoads();
    void loadedPage();
    void linkClicks_data();
    void linkClicks();
    void linksWhileLoading_data();
    void linksWhileLoading();
    void rendererEnds_data();
    void rendererEnds();
    void failedPopupLeavesNoQuit_data();
    void failedPopupLeavesNoQuit();

private:
    QString url(const QString &path) const { return server.baseUrl() + path; }
    // A popup showing the link page, or null when it did not show.
    VeltroWebContent *showLinkPage();

    TestHome home;
    ScriptedHttpServer server;
    BrowserRecorder desktop;
    UserContext user{Endpoints()};
};

void TestWebContent::initTestCase()
{
    QVERIFY(home.isValid());
    // WebEngine keeps its profile and cache under the home folder.
    home.activate();
    QVERIFY(server.listen());
    server.setReply(QStringLiteral("/page"), htmlReply(200, LinkPage));
    server.setReply(QStringLiteral("/missing"), htmlReply(404, ErrorPage));
    server.setReply(QStringLiteral("/broken"), htmlReply(500, ErrorPage));
    ScriptedReply silent;
    silent.silent = true;
    server.setReply(QStringLiteral("/silent"), silent);
}

void TestWebContent::init()
{
    desktop.opened.clear();
}

VeltroWebContent *TestWebContent::showLinkPage()
{
    auto popup = std::make_unique<VeltroWebContent>(user);
    popup->setContent(parseContent(
        QStringLiteral(R"({"title": "T", "brief": "B", "jmpUrl": "%1", "contentUrl": "%2"})")
            .arg(url(QStringLiteral("/jump")), url(QStringLiteral("/page")))));
    if (!popup->showPopup())
        return nullptr;
    return popup.release();
}

void TestWebContent::refusedBeforeWebEngine_data()
{
    QTest::addColumn<QString>("content");

    const QString unused = url(QStringLiteral("/unused"));
    QTest::newRow("brief empty")
        << QStringLiteral(R"({"title": "T", "brief": "", "contentUrl": "%1"})").arg(unused);
    QTest::newRow("title empty")
        << QStringLiteral(R"({"title": "", "brief": "B", "contentUrl": "%1"})").arg(unused);
    QTest::newRow("no contentUrl") << R"({"title": "T", "brief": "B"})";
    QTest::newRow("contentUrl a number") << R"({"title": "T", "brief": "B", "contentUrl": 42})";
    QTest::newRow("contentUrl an array")
        << QStringLiteral(R"({"title": "T", "brief": "B", "contentUrl": ["%1"]})").arg(unused);
    QTest::newRow("content not an object") << QStringLiteral(R"(["%1"])").arg(unused);
    QTest::newRow("file address")
        << R"({"title": "T", "brief": "B", "contentUrl": "file:///etc/passwd"})";
    QTest::newRow("script address")
        << R"json({"title": "T", "brief": "B", "contentUrl": "javascript:alert(1)"})json";
}

void TestWebContent::refusedBeforeWebEngine()
{
    QFETCH(QString, content);

    {
        // Held as the manager holds it: a refused popup is deleted at once, even one that has
        // already closed itself.
        auto popup = std::make_unique<VeltroWebContent>(user);
        popup->setContent(parseContent(content));
        QVERIFY(!popup->showPopup());
        QVERIFY(!popup->isVisible());
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QVERIFY(server.requestsTo(QStringLiteral("/unused")).isEmpty());
    QCOMPARE(webEngineHelperCount(), 0);
}

void TestWebContent::failedLoads_data()
{
    QTest::addColumn<QString>("address");
    // The path the server must have been asked for; empty when no server answers.
    QTest::addColumn<QString>("requested");

    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QString closedAddress =
        QStringLiteral("http://127.0.0.1:%1/page").arg(closed.serverPort());
    closed.close();

    QTest::newRow("404 with a page") << url(QStringLiteral("/missing")) << "/missing";
    QTest::newRow("500 with a page") << url(QStringLiteral("/broken")) << "/broken";
    QTest::newRow("connection refused") << closedAddress << QString();
    QTest::newRow("never answers") << url(QStringLiteral("/silent")) << "/silent";
}

void TestWebContent::failedLoads()
{
    QFETCH(QString, address);
    QFETCH(QString, requested);

    QPointer<VeltroWebContent> popup = new VeltroWebContent(user);
    popup->setContent(parseContent(
        QStringLiteral(R"({"title": "T", "brief": "B", "contentUrl": "%1"})").arg(address)));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!popup->showPopup());
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!popup->isVisible());
    if (!requested.isEmpty())
        QVERIFY(!server.requestsTo(requested).isEmpty());
    // Left to itself, the refused popup goes away.
    QTRY_VERIFY(popup.isNull());
}

void TestWebContent::loadedPage()
{
    struct Scale
    {
        QRect body;
        qreal zoom;
    };
    const QHash<int, Scale> byDpi = {{96, {QRect(0, 30, 300, 130), 1.0}},
                                     {144, {QRect(0, 45, 450, 195), 1.5}}};
    const QScreen *screen = QGuiApplication::primaryScreen();
    const int dpi = qRound(screen->logicalDotsPerInchY());
    QVERIFY2(byDpi.contains(dpi), qPrintable(QString::number(dpi)));
    const Scale expected = byDpi.value(dpi);

    QPointer<VeltroWebContent> popup = showLinkPage();
    QVERIFY(popup);
    QVERIFY(popup->isVisible());
    const QRect available = screen->availableGeometry();
    QVERIFY(popup->geometry().top() > available.bottom());
    QTRY_COMPARE(popup->geometry().bottom(), available.bottom());
    QCOMPARE(popup->geometry().right(), available.right());

    auto *view = popup->findChild<QWebEngineView *>();
    QVERIFY(view);
    QCOMPARE(view->geometry(), expected.body);
    QCOMPARE(view->url(), QUrl(url(QStringLiteral("/page"))));
    QCOMPARE(evaluate(view->page(), QStringLiteral("devicePixelRatio")).toDouble(), expected.zoom);
    // Taller than the view, yet no scroll bar takes width from the page.
    QVERIFY(evaluate(view->page(),
                     QStringLiteral("document.documentElement.scrollHeight > innerHeight"))
                .toBool());
    QCOMPARE(
        evaluate(view->page(), QStringLiteral("innerWidth - document.documentElement.clientWidth"))
            .toInt(),
        0);

    const int helpers = webEngineHelperCount();
    qInfo() << "WebEngine helper processes while a page is shown:" << helpers;
    QVERIFY(helpers > 0);

    popup->close();
    QTRY_VERIFY(popup.isNull());
}

void TestWebContent::linkClicks_data()
{
    QTest::addColumn<QString>("element");
    // Where the browser is sent; empty for nowhere, and the popup stays up.
    QTest::addColumn<QString>("target");

    QTest::newRow("link in the page") << "link"
                                      << "/target";
    QTest::newRow("link into a new window") << "newWindow"
                                            << "/window";
    QTest::newRow("window opened by a script") << "scripted"
                                               << "/scripted";
    QTest::newRow("link of another scheme") << "custom" << QString();
    QTest::newRow("link to a local file") << "file" << QString();
    QTest::newRow("form to another scheme") << "form" << QString();
    QTest::newRow("form sent by a script on a press") << "pressSubmit" << QString();
    QTest::newRow("link followed by a timer after the click") << "timer" << QString();
}

void TestWebContent::linkClicks()
{
    QFETCH(QString, element);
    QFETCH(QString, target);

    QPointer<VeltroWebContent> popup = showLinkPage();
    QVERIFY(popup);
    auto *view = popup->findChild<QWebEngineView *>();
    QVERIFY(view);
    QSignalSpy pageChanges(view->page(), &QWebEnginePage::urlChanged);

    // A press on the page is for the page: the message's own link is not followed.
    QVERIFY(clickElement(view, QStringLiteral("text")));
    QVERIFY(desktop.opened.isEmpty());
    QVERIFY(popup);

    QVERIFY(clickElement(view, element));
    if (target.isEmpty()) {
        if (element == QLatin1String("timer"))
            QTRY_VERIFY_WITH_TIMEOUT(!popup || view->title() == QLatin1String("late"), 15000);
        QVERIFY(popup && popup->isVisible());
        // Clicks reach the page in order: once the link's has been handled, so has this one.
        target = QStringLiteral("/target");
        QVERIFY(clickElement(view, QStringLiteral("link")));
    }
    QTRY_VERIFY_WITH_TIMEOUT(popup.isNull(), 15000);
    QCOMPARE(desktop.opened, QList<QUrl>{QUrl(url(target))});
    QVERIFY(pageChanges.isEmpty());
    QVERIFY(server.requestsTo(target).isEmpty());
}

void TestWebContent::linksWhileLoading_data()
{
    QTest::addColumn<QByteArray>("script");

    QTest::newRow("follows a link") << QByteArray("document.getElementById('a').click();");
    QTest::newRow("follows a link when loaded")
        << QByteArray("addEventListener('load', () => document.getElementById('a').click());");
    QTest::newRow("opens a window") << QByteArray("window.open('/target');");
    QTest::newRow("follows a link after a timer")
        << QByteArray("setTimeout(() => location.href = '/target', 500);");
    QTest::newRow("opens a window after a timer")
        << QByteArray("setTimeout(() => window.open('/target'), 500);");
    QTest::newRow("sends a form") << QByteArray(
        "setTimeout(() => document.forms.f.submit(), 500);");
    QTest::newRow("reloads") << QByteArray("setTimeout(() => location.reload(), 500);");
    QTest::newRow("steps in its history") << QByteArray("setTimeout(() => history.go(0), 500);");
    QTest::newRow("raises dialogs")
        << QByteArray("alert('Hello'); if (confirm('Sure?') ||"
                      " prompt('Your session expired. Password:') !== null) fetch('/target');");
}

void TestWebContent::linksWhileLoading()
{
    QFETCH(QByteArray, script);

    // The page's script has run its course once "done" is set.
    server.setReply(QStringLiteral("/eager"),
                    htmlReply(200,
                              "<html><body><a id='a' href='/target'>Link</a>"
                              "<form id='f' action='/target'></form><script>" +
                                  script +
                                  "setTimeout(() => window.done = true, 1000);"
                                  "</script></body></html>"));
    // A dialog the page raised is counted, and closed so that the test goes on.
    int dialogs = 0;
    QTimer dialogWatch;
    connect(&dialogWatch, &QTimer::timeout, this, [&] {
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget *window : windows) {
            if (auto *dialog = qobject_cast<QDialog *>(window); dialog && dialog->isVisible()) {
                ++dialogs;
                dialog->reject();
            }
        }
    });
    dialogWatch.start(100);
    QPointer<VeltroWebContent> popup = new VeltroWebContent(user);
    popup->setContent(
        parseContent(QStringLiteral(R"({"title": "T", "brief": "B", "contentUrl": "%1"})")
                         .arg(url(QStringLiteral("/eager")))));
    // The page's own navigation may cost it its load; either way the browser stays shut.
    const bool shown = popup->showPopup();
    QVERIFY(popup);
    QCOMPARE(popup->isVisible(), shown);
    if (shown) {
        auto *page = popup->findChild<QWebEnginePage *>();
        QTRY_VERIFY_WITH_TIMEOUT(!popup || evaluate(page, QStringLiteral("window.done")).toBool(),
                                 15000);
        QVERIFY(popup && popup->isVisible());
        QCOMPARE(page->url(), QUrl(url(QStringLiteral("/eager"))));
        // A window the page opened is gone with its first navigation.
        QTRY_COMPARE(popup->findChildren<QWebEnginePage *>().size(), 1);
        popup->close();
    }
    QCOMPARE(dialogs, 0);
    QVERIFY(desktop.opened.isEmpty());
    QVERIFY(server.requestsTo(QStringLiteral("/target")).isEmpty());
    QTRY_VERIFY(popup.isNull());
}

void TestWebContent::rendererEnds_data()
{
    QTest::addColumn<bool>("whileLoading");

    QTest::newRow("while the page loads") << true;
    QTest::newRow("on screen") << false;
}

void TestWebContent::rendererEnds()
{
    QFETCH(bool, whileLoading);

    QPointer<VeltroWebContent> popup = new VeltroWebContent(user);
    popup->setContent(parseContent(
        QStringLiteral(R"({"title": "T", "brief": "B", "contentUrl": "%1"})")
            .arg(url(whileLoading ? QStringLiteral("/silent") : QStringLiteral("/page")))));
    // Ends the page's renderer as a crash would, as soon as there is one.
    QTimer crash;
    connect(&crash, &QTimer::timeout, this, [&] {
        const auto *page = popup ? popup->findChild<QWebEnginePage *>() : nullptr;
        if (page && page->renderProcessPid() > 0 && ::kill(page->renderProcessPid(), SIGKILL) == 0)
            crash.stop();
    });
    if (whileLoading)
        crash.start(100);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(popup->showPopup(), !whileLoading);
    // Well short of the bound on a page that never loads.
    QVERIFY2(clock.elapsed() < 12000, qPrintable(QString::number(clock.elapsed())));
    crash.start(100);
    QTRY_VERIFY_WITH_TIMEOUT(popup.isNull(), 15000);
}

void TestWebContent::failedPopupLeavesNoQuit_data()
{
    QTest::addColumn<bool>("deletedAtOnce");

    QTest::newRow("deleted by the manager") << true;
    QTest::newRow("left to itself") << false;
}

void TestWebContent::failedPopupLeavesNoQuit()
{
    QFETCH(bool, deletedAtOnce);

    QPointer<VeltroWebContent> failed = new VeltroWebContent(user);
    failed->setContent(
        parseContent(QStringLiteral(R"({"title": "T", "brief": "B", "contentUrl": "%1"})")
                         .arg(url(QStringLiteral("/missing")))));
    QVERIFY(!failed->showPopup());
    if (deletedAtOnce)
        delete failed;

    QPointer<VeltroWidgetBase> next = new VeltroWidgetBase(user);
    next->setContent(parseContent(QStringLiteral(R"({"title": "Next", "brief": "Message"})")));
    QVERIFY(next->showPopup());

    bool visibleAfterWait = false;
    bool closedByUser = false;
    QTimer userCloses;
    userCloses.setSingleShot(true);
    connect(&userCloses, &QTimer::timeout, this, [&] {
        visibleAfterWait = next && next->isVisible();
        closedByUser = true;
        if (next)
            next->close();
    });
    userCloses.start(1000);
    // Ends a loop that the closing did not end: the test fails instead of hanging.
    QTimer giveUp;
    giveUp.setSingleShot(true);
    connect(&giveUp, &QTimer::timeout, qApp, &QCoreApplication::quit);
    giveUp.start(60000);
    QApplication::exec();

    QVERIFY2(closedByUser, "the event loop ended before the user closed the popup");
    QVERIFY(visibleAfterWait);
    QVERIFY2(giveUp.isActive(), "the event loop went on after the user closed the popup");
    QTRY_VERIFY(next.isNull());
    QVERIFY(failed.isNull());
}

QTEST_MAIN(TestWebContent)
#include "tst_webcontent.moc"
