#include "app/displayscale.h"
#include "app/linktarget.h"
#include "app/usercontext.h"
#include "browserrecorder.h"
#include "net/strictjson.h"
#include "popup/webpopupprocess.h"
#include "popup/windowpopupfactory.h"
#include "scriptedhttpserver.h"
#include "testhome.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QTranslator>

#include <sys/stat.h>

namespace {

const QString News = QStringLiteral("http://a.example/news?id=7");

// Content as the service sends it, with ' for " to keep the tables short.
Json::Value fromJson(QByteArray json)
{
    Json::Value value;
    StrictJson::parse(json.replace('\'', '"'), value);
    return value;
}

QStringList labelTexts(const QWidget *popup)
{
    QStringList texts;
    QTextDocument document;
    for (const QLabel *label : popup->findChildren<QLabel *>())
        document.setHtml(label->text()), texts.append(document.toPlainText());
    return texts;
}

QLabel *linkNamed(const QWidget *popup, const QString &name)
{
    for (QLabel *label : popup->findChildren<QLabel *>())
        if (label->accessibleName() == name)
            return label;
    return nullptr;
}

// A press at a point of the popup (96-DPI pixels) or a click on the text of a link or the brief.
bool perform(QWidget *popup, const QString &gesture)
{
    const QMap<QString, QPoint> points{
        {"title", {150, 50}}, {"brief", {150, 110}}, {"right", {150, 110}}, {"close", {285, 15}}};
    QLabel *label = gesture == "text" ? qobject_cast<QLabel *>(popup->childAt(150, 110))
                                      : linkNamed(popup, gesture);
    QWidget *target = points.contains(gesture) ? popup->childAt(points[gesture]) : label;
    if (!target)
        return false;
    QPoint at = target->mapFrom(popup, points.value(gesture));
    if (label) {
        const int half = label->fontMetrics().horizontalAdvance(labelTexts(label).value(0)) / 2;
        const QRect area = label->contentsRect();
        at = QPoint(label->alignment() & Qt::AlignRight ? area.right() - half : area.left() + half,
                    label->alignment() & Qt::AlignVCenter ? area.center().y() : area.top() + 8);
    }
    QTest::mouseClick(target, gesture == "right" ? Qt::RightButton : Qt::LeftButton, {}, at);
    return true;
}

// Waits for the end of the slide-in, after which only the user moves the popup.
bool slidIn(const QWidget *popup)
{
    const auto *slide = popup->findChild<QPropertyAnimation *>();
    return slide &&
        QTest::qWaitFor([slide] { return slide->state() == QAbstractAnimation::Stopped; });
}

// Makes a popup as the message manager does ("message", "notice" or "coupon") and shows it.
QWidget *shown(const QString &kind, const Json::Value &content, const UserContext &user)
{
    WindowPopupFactory factory(user);
    std::unique_ptr<VeltroBase> popup = kind == "coupon"
        ? factory.createCouponPopup()
        : factory.createPopup(kind == "message" ? 1 : 3);
    popup->setContent(content);
    if (popup->keepByManager() || !popup->showPopup())
        return nullptr;
    return dynamic_cast<QWidget *>(popup.release());
}

} // namespace

class TestPopup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { qDeleteAll(QApplication::topLevelWidgets()), browser.opened.clear(); }
    void linkTarget_data();
    void linkTarget();
    void gestures_data();
    void gestures();
    void content_data();
    void content();
    void dragging_data();
    void dragging();
    void labels_data();
    void labels();
    void placement();
    void displayScale_data();
    void displayScale();
    void webPageHelper_data();
    void webPageHelper();

private:
    BrowserRecorder browser;
    TestHome home;
    ScriptedHttpServer server;
    std::unique_ptr<UserContext> signedOut;
};

void TestPopup::initTestCase()
{
    QVERIFY(home.isValid() && server.listen());
    home.activate();
    server.setReply("/user/getTempSession",
                    ScriptedReply::json(R"({"code":"0","tempSession":"t"})"));
    signedOut = std::make_unique<UserContext>(Endpoints(server.baseUrl()));
}

void TestPopup::linkTarget_data()
{
    QTest::addColumn<int>("rule");
    QTest::addColumn<QString>("link");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("where");

    const int message = LinkTarget::Message, coupon = LinkTarget::Coupon, web = LinkTarget::Web;
    const int signedIn = LinkTarget::SignedIn, address = LinkTarget::WebAddress;
    const QString user = "/user/index", coupons = "/mycenter/getCouponInfo", base = "http://s.test";
    for (const char *hostile : {"file:///etc/passwd", "smb://host/share", "javascript:alert(1)",
                                "data:text/html,<b>x</b>", "lumaview://open?file=x", ""}) {
        QTest::addRow("message, %s", hostile) << message << hostile << 0 << hostile;
        QTest::addRow("web, %s", hostile) << web << hostile << 0 << hostile;
    }
    for (const QString &link :
         QStringList{News, "https://a.example/", "http://a.example/USER/INDEX", base + user + "/",
                     base + coupons})
        QTest::addRow("message, %s", qPrintable(link)) << message << link << address << link;
    QTest::newRow("message, user page")
        << message << "http://a.example/user/index" << signedIn << user;
    QTest::newRow("web, user page") << web << base + user << address << base + user;
    QTest::newRow("coupon, its page") << coupon << base + coupons << signedIn << coupons;
    QTest::newRow("coupon, its path") << coupon << coupons << signedIn << coupons;
    for (const QString &link :
         QStringList{base + user, base + "/MyCenter/getCouponInfo", base + coupons + "/",
                     "http://a.example" + coupons, News, "file:///x", ""})
        QTest::addRow("coupon, %s", qPrintable(link)) << coupon << link << signedIn << user;
}

void TestPopup::linkTarget()
{
    QFETCH(int, rule);
    QFETCH(QString, link);
    const LinkTarget target =
        LinkTarget::of(link, LinkTarget::Rule(rule), Endpoints("http://s.test"));
    QTEST(int(target.kind), "kind");
    QTEST(target.where, "where");
}

void TestPopup::gestures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("jmpUrl");
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<QString>("opened"); // $ stands for the service's address

    const QString user = "$/user/index", coupons = "$/mycenter/getCouponInfo";
    const QString entity = "http://a.example/list?page=2&copy;=1";
    for (const char *gesture : {"title", "brief", "right", "text", "Detail"})
        QTest::addRow("message, %s", gesture) << "message" << News << gesture << false << News;
    QTest::newRow("message, close") << "message" << News << "close" << false << "";
    QTest::newRow("message, entity") << "message" << entity << "Detail" << false << entity;
    QTest::newRow("message, file") << "message"
                                   << "file:///x"
                                   << "brief" << false << "";
    QTest::newRow("message, no link") << "message"
                                      << ""
                                      << "title" << false << "";
    QTest::newRow("message, user page")
        << "message" << user << "Detail" << true << "$/user/skip?tempSession=t&skipUrl=/user/index";
    QTest::newRow("notice, brief") << "notice" << News << "brief" << false << "$/";
    QTest::newRow("notice, detail") << "notice" << News << "Detail" << false << "$/";
    QTest::newRow("coupon, view") << "coupon" << user << "View my coupon" << false << coupons;
    QTest::newRow("coupon, view, signed in")
        << "coupon" << user << "View my coupon" << true
        << "$/user/skip?tempSession=t&skipUrl=" + coupons.mid(1);
    QTest::newRow("coupon, brief") << "coupon" << coupons << "brief" << false << coupons;
    QTest::newRow("coupon, elsewhere") << "coupon" << News << "right" << false << user;
    QTest::newRow("coupon, close") << "coupon" << user << "close" << false << "";
}

void TestPopup::gestures()
{
    QFETCH(QString, kind);
    QFETCH(QString, jmpUrl);
    QFETCH(QString, gesture);
    QFETCH(bool, signedIn);
    QFETCH(QString, opened);

    home.signIn(signedIn ? "42" : "", "ann");
    UserContext user{Endpoints(server.baseUrl())};
    user.loadSession();
    const QString base = server.baseUrl();
    Json::Value message = fromJson("{'title':'Title','brief':'Brief'}");
    message["jmpUrl"] = jmpUrl.replace('$', base).toStdString();
    const QPointer<QWidget> popup = shown(kind, message, user);
    QVERIFY(popup && popup->isVisible());
    // The popup is the program's only window: every way of leaving it ends the program.
    bool performed = false;
    QTimer::singleShot(0, popup, [&] { performed = perform(popup, gesture); });
    QTimer::singleShot(20000, [] { QCoreApplication::exit(1); });
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(performed);
    QCOMPARE(browser.opened,
             opened.isEmpty() ? QList<QUrl>() : QList{QUrl(opened.replace('$', base))});
    QTRY_VERIFY(popup.isNull());
}

void TestPopup::content_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("title"); // none: the popup refuses to show
    QTest::addColumn<QString>("brief");
    QTest::addColumn<bool>("detail");

    // Whoever opens a FIFO to read it waits for a writer: the popup must not even try.
    static const QTemporaryDir scratch;
    const QByteArray fifo = QFile::encodeName(scratch.path() + "/fifo");
    QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
    const auto row = [](const char *name, const QByteArray &json, const QString &title,
                        const QString &brief,
                        bool detail) { QTest::newRow(name) << json << title << brief << detail; };
    const QByteArray table = "<table><tr><td>B</td></tr></table>", link = "http://a.example/";
    row("link", "{'title':'T','brief':'B','jmpUrl':'" + link + "'}", "T", "B", true);
    row("no link", "{'title':'T','brief':'B'}", "T", "B", false);
    row("number as link", "{'title':'T','brief':'B','jmpUrl':5}", "T", "B", false);
    row("link with markup", R"({'title':'T','brief':'B','jmpUrl':'x\"><i>y</i>'})", "T", "B", true);
    row("escaped coupon value", "{'title':'&lt;img src=" + fifo + "&gt;','brief':'B'}",
        "<img src=" + fifo + ">", "B", false);
    row("image from a file", "{'title':'<img src=" + fifo + ">T','brief':'B'}", "", "", false);
    row("style sheet from a file",
        "{'title':'T','brief':'<style>@import url(" + fifo + ");</style>B'}", "", "", false);
    row("image of our own", "{'title':'<img src=:/Veltro/Images/logo.png>T','brief':'B'}",
        QChar(QChar::ObjectReplacementCharacter) + QString("T"), "B", false);
    row("table", "{'title':'T','brief':'" + table + "'}", "T", "\nB\n", false);
    row("table in a table",
        "{'title':'T','brief':'<table><tr><td>" + table + "</td></tr></table>'}", "", "", false);
    row("400 characters", "{'title':'T','brief':'" + QByteArray(400, 'b') + "'}", "T",
        QString(400, 'b'), false);
    row("401 characters", "{'title':'T','brief':'" + QByteArray(401, 'b') + "'}", "", "", false);
    row("no brief", "{'title':'T'}", "", "", false);
    row("empty title", "{'title':'','brief':'B'}", "", "", false);
    row("number as brief", "{'title':'T','brief':7,'jmpUrl':'" + link + "'}", "", "", false);
    row("null", "null", "", "", false);
}

void TestPopup::content()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, title);
    QFETCH(QString, brief);
    QFETCH(bool, detail);

    const QWidget *popup = shown("message", fromJson(json), *signedOut);
    QCOMPARE(popup != nullptr, !title.isEmpty());
    if (!popup)
        return;
    const QStringList texts = labelTexts(popup);
    QVERIFY2(texts.contains(title) && texts.contains(brief), qPrintable(texts.join('|')));
    QCOMPARE(linkNamed(popup, "Detail") != nullptr, detail);
    QString markup;
    for (const QLabel *label : popup->findChildren<QLabel *>())
        markup += label->text();
    QCOMPARE(markup.contains("href"), detail);
}

void TestPopup::dragging_data()
{
    QTest::addColumn<QPoint>("pressAt");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<bool>("moves");

    QTest::newRow("left, title bar") << QPoint(100, 15) << Qt::LeftButton << true;
    QTest::newRow("left, beside the logo") << QPoint(4, 4) << Qt::LeftButton << true;
    QTest::newRow("left, bottom line") << QPoint(150, 185) << Qt::LeftButton << true;
    QTest::newRow("right, title bar") << QPoint(100, 15) << Qt::RightButton << false;
}

void TestPopup::dragging()
{
    QFETCH(QPoint, pressAt);
    QFETCH(Qt::MouseButton, button);

    QWidget *popup = shown("message", fromJson("{'title':'T','brief':'B'}"), *signedOut);
    QVERIFY(popup && slidIn(popup));
    QWidget *target = popup->childAt(pressAt) ? popup->childAt(pressAt) : popup;
    // The pointer moves with the button held; once released, it moves with another one held.
    const auto drag = [&](Qt::MouseButton held, QPoint offset) {
        const QPoint pointer = popup->mapToGlobal(pressAt), start = popup->pos();
        QTest::mousePress(target, held, {}, target->mapFromGlobal(pointer));
        QTest::mouseMove(target, target->mapFromGlobal(pointer + offset / 2));
        QTest::mouseMove(target, target->mapFromGlobal(pointer + offset));
        QTest::mouseRelease(target, held, {}, target->mapFromGlobal(pointer + offset));
        return popup->pos() - start;
    };
    QTEST(drag(button, QPoint(-120, -70)) == QPoint(-120, -70), "moves");
    QCOMPARE(drag(Qt::RightButton, QPoint(40, 30)), QPoint());
    QVERIFY(popup->isVisible() && browser.opened.isEmpty());
}

void TestPopup::labels_data()
{
    QTest::addColumn<QString>("catalogue");
    QTest::addColumn<QStringList>("texts"); // close, detail, coupon, the notice's title and brief

    QTest::newRow("English") << ""
                             << QStringList{"Close", "Detail", "View my coupon",
                                            "You got a message",
                                            "Please update to the newest version to read "
                                            "this message"};
    QTest::newRow("Chinese") << ":/Veltro/veltro_zh.qm"
                             << QStringList{"关闭", "查看详情", "查看我的优惠券",
                                            "您收到了一条消息",
                                            "您刚刚收到了一条消息，但是因为软件版本过低无法显示。"
                                            "请点击此段文字跳转到官网下载最新版本，安装后即可查"
                                            "看此类消息"};
}

void TestPopup::labels()
{
    QFETCH(QString, catalogue);
    QFETCH(QStringList, texts);

    QTranslator translator;
    QVERIFY(catalogue.isEmpty() ||
            (translator.load(catalogue) && QCoreApplication::installTranslator(&translator)));
    const Json::Value message = fromJson("{'title':'T','brief':'B','jmpUrl':'http://a.example/'}");
    const QWidget *plain = shown("message", message, *signedOut);
    const QWidget *notice = shown("notice", message, *signedOut);
    const QWidget *coupon = shown("coupon", message, *signedOut);
    QVERIFY(plain && notice && coupon);
    const auto *close = plain->findChild<QPushButton *>();
    QVERIFY(close && close->toolTip() == texts[0] && close->accessibleName() == texts[0]);
    QVERIFY(labelTexts(plain).contains("Lumaview") && linkNamed(plain, texts[1]));
    for (const QString &text : {texts[1], texts[3], texts[4]})
        QVERIFY2(labelTexts(notice).contains(text), qPrintable(text));
    QVERIFY(linkNamed(coupon, texts[2]) && labelTexts(coupon).contains(texts[2]));
    QVERIFY(!labelTexts(coupon).contains(texts[1]));
}

void TestPopup::placement()
{
    // Each display is a CTest entry of its own: the layout follows the DPI found.
    const QScreen *screen = QGuiApplication::primaryScreen();
    const int dpi = qRound(screen->logicalDotsPerInchY());
    const QMap<int, QList<QRect>> layouts{
        {96, {{0, 0, 300, 30}, {0, 30, 300, 130}, {0, 160, 300, 40}}},
        {144, {{0, 0, 450, 45}, {0, 45, 450, 195}, {0, 240, 450, 60}}}};
    QVERIFY2(layouts.contains(dpi), qPrintable(QString::number(dpi)));
    QWidget *popup = shown("message", fromJson("{'title':'T','brief':'B'}"), *signedOut);
    QVERIFY(popup);
    QList<QRect> parts;
    for (const QWidget *part : popup->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        parts.append(part->geometry());
    QCOMPARE(parts, layouts[dpi]);
    QCOMPARE(popup->rect(), parts.first().united(parts.last()));
    // It slides up from below the primary screen into the corner of its available area.
    const QRect available = screen->availableGeometry();
    QCOMPARE(popup->geometry().topRight(),
             QPoint(available.right(), screen->geometry().bottom() + 1));
    QVERIFY(slidIn(popup));
    QCOMPARE(popup->geometry().bottomRight(), available.bottomRight());
}

void TestPopup::displayScale_data()
{
    QTest::addColumn<qreal>("dpiX");
    QTest::addColumn<qreal>("dpiY");
    QTest::addColumn<QSize>("window");

    QTest::newRow("120") << 120.0 << 120.0 << QSize(300, 200);
    QTest::newRow("144") << 144.0 << 144.0 << QSize(450, 300);
    QTest::newRow("168, cut toward zero") << 168.0 << 168.0 << QSize(525, 350);
    QTest::newRow("96 wide, 144 high") << 96.0 << 144.0 << QSize(300, 300);
    QTest::newRow("121 wide, 120 high") << 121.0 << 120.0 << QSize(378, 250);
}

void TestPopup::displayScale()
{
    QFETCH(qreal, dpiX);
    QFETCH(qreal, dpiY);
    QTEST(QSize(DisplayScale(dpiX, dpiY).x(300), DisplayScale(dpiX, dpiY).y(200)), "window");
}

void TestPopup::webPageHelper_data()
{
    QTest::addColumn<QString>("helper");
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("shown");

    const auto script = [this](const char *name, const QByteArray &body) {
        QFile file(home.path() + '/' + name);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n" + body + '\n') > 0);
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        QTest::newRow(name) << file.fileName() << "/page" << false;
    };
    QTest::newRow("missing") << home.path() + "/none"
                             << "/page" << false;
    script("crashes", "kill -SEGV $$");
    script("silent", "exec sleep 60");
    script("talks nonsense", "echo shown.");
    QTest::newRow("page loaded") << VELTRO_WEBPOPUP_EXE << "/page" << true;
    QTest::newRow("page missing") << VELTRO_WEBPOPUP_EXE << "/missing" << false;
}

void TestPopup::webPageHelper()
{
    QFETCH(QString, helper);
    QFETCH(QString, page);

    ScriptedReply html;
    html.headers = {{"Content-Type", "text/html"}};
    html.body = "<html><body>Lumaview 2027</body></html>";
    server.setReply("/page", html);
    html.status = 404;
    server.setReply("/missing", html);
    QVERIFY(WindowPopupFactory(*signedOut).createPopup(2)->keepByManager());

    // The page takes the place of the texts: a brief too long for a label keeps nothing away.
    Json::Value message = fromJson("{'title':'T'}");
    message["brief"] = std::string(1000, 'b');
    message["contentUrl"] = (server.baseUrl() + page).toStdString();
    // A scripted helper gets a short bound for its report, the real one the program's own.
    const bool scripted = helper != VELTRO_WEBPOPUP_EXE;
    WebPopupProcess popup(*signedOut, helper, scripted ? 1000 : WebPopupProcess::ReportBoundMs);
    popup.setContent(message);
    const qsizetype before = server.requestsTo(page).size();
    QElapsedTimer clock;
    clock.start();
    QTEST(popup.showPopup(), "shown");
    QVERIFY(!scripted || clock.elapsed() < 10000);
    QCOMPARE(server.requestsTo(page).size() > before, !scripted);
}

QTEST_MAIN(TestPopup)

#include "tst_popup.moc"
