#include "app/usercontext.h"
#include "browserrecorder.h"
#include "net/strictjson.h"
#include "popup/veltrowebcontent.h"
#include "scriptedhttpserver.h"
#include "testhome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QPointer>
#include <QScreen>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <csignal>

namespace {

// The popup's own bound on the wait for its page.
constexpr qint64 LoadBoundMs = 15000;

// Every element the tests click, each 9 CSS pixels high from the top in this order: all fit in
// the 130 pixels of the body at any zoom, but the page itself is taller than the view.
const QStringList Elements = {"text", "link", "newWindow",   "scripted", "custom",
                              "file", "form", "pressSubmit", "soon",     "late"};
const QByteArray Page =
    "<!DOCTYPE html><html><head><style>body, form { margin: 0; font-size: 8px; }"
    "p, a, button { display: block; height: 9px; margin: 0; padding: 0; border: 0; }"
    "</style></head><body><p>Plain text</p><a href='/target'>In the page</a>"
    "<a href='/window' target='_blank'>New window</a>"
    "<button onclick=\"window.open('/scripted')\">Scripted window</button>"
    "<a href='lumaview:open'>Custom scheme</a><a href='file:///etc/passwd'>Local file</a>"
    "<form action='lumaview:payload'><button name='x' value='1'>Send</button></form>"
    "<p onmousedown='document.forms.share.submit()'>Press</p>"
    "<p onclick=\"setTimeout(() => location.href = '/soon', 1000)\">Soon</p>"
    "<p onclick=\"setTimeout(() => { location.href = '/late';"
    " document.title = 'settled'; }, 2500)\">Later</p>"
    "<form id='share' action='smb://attacker.example/share/run.exe'></form>"
    "<form id='plain' action='/target'></form><a id='download' href='/file' download>File</a>"
    "<div style='height: 1000px'></div></body></html>";

ScriptedReply html(const QByteArray &body, int status = 200)
{
    ScriptedReply reply = ScriptedReply::json(body, status);
    reply.headers = {{"Content-Type", "text/html"}};
    return reply;
}

Json::Value parse(const QString &text)
{
    Json::Value content;
    StrictJson::parse(text.toUtf8(), content);
    return content;
}

// Whether Chromium has started in this process: its threads carry names of its own.
bool webEngineStarted()
{
    const QString tasks = QStringLiteral("/proc/self/task/");
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(tasks + task + QStringLiteral("/comm"));
        if (name.open(QIODevice::ReadOnly) && name.readAll().startsWith("Chrome_"))
            return true;
    }
    return false;
}

// The script's value; invalid when the page gave none within the bound.
QVariant evaluate(QWebEnginePage *page, const QString &script)
{
    auto outcome = std::make_shared<std::pair<bool, QVariant>>();
    page->runJavaScript(script, [outcome](const QVariant &value) { *outcome = {true, value}; });
    return QTest::qWaitFor([&] { return outcome->first; }, 15000) ? outcome->second : QVariant();
}

// A real mouse click on one of the page's elements, as the user would make it, once the page
// has handled what came before.
void click(QWebEngineView *view, const QString &element)
{
    evaluate(view->page(), QStringLiteral("0"));
    const qreal y = (Elements.indexOf(element) * 9 + 4) * view->zoomFactor();
    QTest::mouseClick(view->focusProxy(), Qt::LeftButton, {}, QPoint(10, qRound(y)));
}

// Ends the page's renderer as a crash would; false while there is none yet.
bool endRenderer(const QWidget *popup)
{
    const auto *page = popup ? popup->findChild<QWebEnginePage *>() : nullptr;
    return page && page->renderProcessPid() > 0 && ::kill(page->renderProcessPid(), SIGKILL) == 0;
}

} // namespace

class TestWebContent : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void notShown_data();
    void notShown();
    void loadedPage();
    void pageActions_data();
    void pageActions();

private:
    // A web-page message for the page at path on the server, or at another address.
    QString message(const QString &path) const;
    VeltroWebContent *webPopup(const QString &content) const;

    TestHome home;
    ScriptedHttpServer server;
    BrowserRecorder desktop;
    std::unique_ptr<UserContext> user;
};

QString TestWebContent::message(const QString &path) const
{
    return QString(R"({"title": "T", "brief": "B", "jmpUrl": "http://a/", "contentUrl": "%1"})")
        .arg(QUrl(server.baseUrl()).resolved(path).toString());
}

VeltroWebContent *TestWebContent::webPopup(const QString &content) const
{
    auto *popup = new VeltroWebContent(*user);
    popup->setContent(parse(content));
    return popup;
}

void TestWebContent::initTestCase()
{
    QVERIFY(home.isValid());
    // WebEngine keeps its profile, cache and downloads under the home folder.
    home.activate();
    QVERIFY(server.listen());
    user = std::make_unique<UserContext>(Endpoints(server.baseUrl()));
    server.setReply(QStringLiteral("/page"), html(Page));
    server.setReply(QStringLiteral("/moved"), ScriptedReply::redirect(302, "/page"));
    server.setReply(QStringLiteral("/missing"), html("<h1>Not here</h1>", 404));
    server.setReply(QStringLiteral("/file"), html("payload"));
    ScriptedReply silent;
    silent.silent = true;
    server.setReply(QStringLiteral("/silent"), silent);
    // The head at once, then a byte a second: never silent, yet the page ends only at 40 s.
    ScriptedReply trickle = html(QByteArray(40, ' '));
    trickle.pieceSize = 1;
    trickle.pieceIntervalMs = 1000;
    server.setReply(QStringLiteral("/trickle"), trickle);
}

void TestWebContent::notShown_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<bool>("rendererEnds");
    // How long the wait for the page lasts: 0 for a failure that ends it at once.
    QTest::addColumn<qint64>("waitMs");

    // Refused before the engine starts: these rows come first.
    QTest::newRow("brief empty") << R"({"title": "T", "brief": "", "contentUrl": "http://a/"})"
                                 << false << qint64(0);
    QTest::newRow("title empty") << R"({"title": "", "brief": "B", "contentUrl": "http://a/"})"
                                 << false << qint64(0);
    QTest::newRow("no contentUrl") << R"({"title": "T", "brief": "B"})" << false << qint64(0);
    QTest::newRow("contentUrl a number")
        << R"({"title": "T", "brief": "B", "contentUrl": 42})" << false << qint64(0);
    QTest::newRow("content not an object") << R"(["http://a/"])" << false << qint64(0);
    QTest::newRow("file address") << message(QStringLiteral("file:///etc/passwd")) << false
                                  << qint64(0);
    QTest::newRow("script address")
        << message(QStringLiteral("javascript:alert(1)")) << false << qint64(0);
    QTest::newRow("404 with a page") << message(QStringLiteral("/missing")) << false << qint64(0);
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    QTest::newRow("no server")
        << message(QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort())) << false
        << qint64(0);
    closed.close();
    QTest::newRow("renderer ends while loading")
        << message(QStringLiteral("/silent")) << true << qint64(0);
    QTest::newRow("never ends, past the bound")
        << message(QStringLiteral("/trickle")) << false << LoadBoundMs;
}

void TestWebContent::notShown()
{
    QFETCH(QString, content);
    QFETCH(bool, rendererEnds);
    QFETCH(qint64, waitMs);

    QPointer<VeltroWebContent> popup = webPopup(content);
    QTimer crash;
    connect(&crash, &QTimer::timeout, this, [&] {
        if (endRenderer(popup))
            crash.stop();
    });
    if (rendererEnds)
        crash.start(50);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!popup->showPopup());
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= waitMs - 100 && elapsed < qMax(2 * waitMs, LoadBoundMs / 2),
             qPrintable(QString::number(elapsed)));
    QVERIFY(!popup->isVisible());
    // Deleted at once as the helper does, even after the popup closed itself.
    delete popup;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // Nothing refused reached the engine or the server.
    QCOMPARE(webEngineStarted(), !server.requests().isEmpty());
}

void TestWebContent::loadedPage()
{
    const qreal scale = QGuiApplication::primaryScreen()->logicalDotsPerInchY() / 96;
    QVERIFY2(scale == 1 || scale == 1.5, qPrintable(QString::number(scale)));

    // Redirects belong to the page's first load.
    QPointer<VeltroWebContent> popup = webPopup(message(QStringLiteral("/moved")));
    QVERIFY(popup->showPopup() && popup->isVisible());
    auto *view = popup->findChild<QWebEngineView *>();
    QCOMPARE(QRectF(view->geometry()), QRectF(0, 30 * scale, 300 * scale, 130 * scale));
    QCOMPARE(view->url(), QUrl(server.baseUrl() + QStringLiteral("/page")));
    // Scaled as the popup, taller than the view, yet no scroll bar takes width from the page.
    QCOMPARE(evaluate(view->page(),
                      QStringLiteral("[devicePixelRatio, document.body.scrollHeight > innerHeight,"
                                     " innerWidth - document.documentElement.clientWidth]")),
             QVariant(QVariantList{scale, true, 0}));

    // An empty popup on screen goes as after its close button.
    QVERIFY(endRenderer(popup));
    QTRY_VERIFY(popup.isNull());
}

void TestWebContent::pageActions_data()
{
    // Clicked by the user, or run by the page itself without a click.
    QTest::addColumn<QString>("element");
    QTest::addColumn<QString>("script");
    // Where the browser is sent; empty for nowhere, and the popup stays up.
    QTest::addColumn<QString>("target");

    QTest::newRow("link in the page") << "link"
                                      << ""
                                      << "/target";
    QTest::newRow("link into a new window") << "newWindow"
                                            << ""
                                            << "/window";
    QTest::newRow("window opened by a script") << "scripted"
                                               << ""
                                               << "/scripted";
    QTest::newRow("link followed 1 s after the click") << "soon"
                                                       << ""
                                                       << "/soon";
    QTest::newRow("link of another scheme") << "custom"
                                            << ""
                                            << "";
    QTest::newRow("link to a local file") << "file"
                                          << ""
                                          << "";
    QTest::newRow("form to another scheme") << "form"
                                            << ""
                                            << "";
    QTest::newRow("form sent by a script on a press") << "pressSubmit"
                                                      << ""
                                                      << "";
    QTest::newRow("link followed 2.5 s after the click") << "late"
                                                         << ""
                                                         << "";
    QTest::newRow("page follows a link") << ""
                                         << "location.href = '/target'"
                                         << "";
    QTest::newRow("page opens a window") << ""
                                         << "window.open('/target')"
                                         << "";
    QTest::newRow("page sends a form") << ""
                                       << "document.forms.plain.submit()"
                                       << "";
    QTest::newRow("page reloads") << ""
                                  << "location.reload()"
                                  << "";
    QTest::newRow("page steps in its history") << ""
                                               << "history.go(0)"
                                               << "";
    QTest::newRow("page starts a download") << ""
                                            << "document.getElementById('download').click()"
                                            << "";
    QTest::newRow("page raises dialogs")
        << ""
        << "alert('Hi'), confirm('?') || prompt('Password:') !== null && fetch('/target')"
        << "";
    QTest::newRow("page asks for a permission")
        << ""
        << "Notification.requestPermission().then(p => p == 'denied' || fetch('/target'))"
        << "";
}

void TestWebContent::pageActions()
{
    QFETCH(QString, element);
    QFETCH(QString, script);
    QFETCH(QString, target);

    desktop.opened.clear();
    const qsizetype loads = server.requestsTo(QStringLiteral("/page")).size();
    QPointer<VeltroWebContent> popup = webPopup(message(QStringLiteral("/page")));
    QVERIFY(popup->showPopup());
    auto *view = popup->findChild<QWebEngineView *>();
    QSignalSpy pageChanges(view->page(), &QWebEnginePage::urlChanged);
    if (script.isEmpty()) {
        // A press on the page is for the page: the message's own link is not followed.
        click(view, QStringLiteral("text"));
        click(view, element);
    } else {
        evaluate(view->page(),
                 QStringLiteral("Promise.resolve(%1).then(() =>"
                                " setTimeout(() => document.title = 'settled', 500))")
                     .arg(script));
    }
    if (target.isEmpty()) {
        // The page's timers have run their course once it says so.
        if (!script.isEmpty() || element == QLatin1String("late"))
            QTRY_VERIFY_WITH_TIMEOUT(!popup || view->title() == QLatin1String("settled"), 15000);
        QVERIFY(popup && popup->isVisible());
        // Clicks reach the page in order: once the link's has been handled, so has the above.
        target = QStringLiteral("/target");
        click(view, QStringLiteral("link"));
    }
    QTRY_VERIFY_WITH_TIMEOUT(popup.isNull(), 15000);
    QCOMPARE(desktop.opened, QList<QUrl>{QUrl(server.baseUrl() + target)});
    QVERIFY(pageChanges.isEmpty());
    QCOMPARE(server.requestsTo(QStringLiteral("/page")).size(), loads + 1);
    QVERIFY(server.requestsTo(target).isEmpty());
    QVERIFY(QDir(QWebEngineProfile::defaultProfile()->downloadPath()).isEmpty());
}

QTEST_MAIN(TestWebContent)
#include "tst_webcontent.moc"
