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
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QTranslator>

namespace {

const QString News = QStringLiteral("http://a.example/news?id=7");

template<class... Types, class... Names> void columns(Names... names)
{
    (QTest::addColumn<Types>(names), ...);
}

// Content as the service sends it, written with ' for " to keep the tables short.
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

// Presses and clicks of the user, at points of the popup in 96-DPI pixels: on the body's title
// line and brief, amid the brief's text and each link's text, on the close button.
void perform(QWidget *popup, const QString &gesture)
{
    static const QMap<QString, QPoint> points{
        {"title", {150, 50}},   {"brief", {150, 110}},  {"right", {150, 110}}, {"text", {25, 76}},
        {"Detail", {240, 180}}, {"coupon", {286, 176}}, {"close", {285, 15}}};
    QWidget *target = popup->childAt(points[gesture]);
    QTest::mouseClick(target, gesture == "right" ? Qt::RightButton : Qt::LeftButton, {},
                      target->mapFrom(popup, points[gesture]));
}

// Makes a popup as the message manager does ("message", "notice" or "coupon") and shows it.
QWidget *shown(const QString &kind, const UserContext &user,
               const Json::Value &content = fromJson("{'title':'T','brief':'B'}"))
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

// After its slide-in, only the user moves the popup.
bool slidIn(const QWidget *popup)
{
    const auto *slide = popup->findChild<QPropertyAnimation *>();
    return slide && QTest::qWaitFor([&] { return slide->state() == QAbstractAnimation::Stopped; });
}

} // namespace

class TestPopup : public QObject
{
    Q_OBJECT

    BrowserRecorder browser;
    TestHome home;
    ScriptedHttpServer server;
    const UserContext signedOut{Endpoints("http://s")};

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid() && server.listen());
        home.activate();
        server.setReply("/user/getTempSession",
                        ScriptedReply::json(R"({"code":"0","tempSession":"t"})"));
        server.setReply("/page", ScriptedReply::json("{}"));
    }

    void cleanup() { qDeleteAll(QApplication::topLevelWidgets()), browser.opened.clear(); }

    void linkTarget_data()
    {
        columns<int, QString, int, QString>("rule", "link", "kind", "where");
        const int message = LinkTarget::Message, coupon = LinkTarget::Coupon, web = LinkTarget::Web;
        const int signedIn = LinkTarget::SignedIn, address = LinkTarget::WebAddress;
        const QString user = "/user/index", coupons = "/mycenter/getCouponInfo", base = "http://s";
        for (const char *hostile : {"file:///etc/passwd", "smb://host/share", "javascript:alert(1)",
                                    "data:text/html,<b>x</b>", "lumaview://open?file=x", ""}) {
            QTest::addRow("message, %s", hostile) << message << hostile << 0 << hostile;
            QTest::addRow("web, %s", hostile) << web << hostile << 0 << hostile;
        }
        for (const QString &link : QStringList{News, "https://a.example/", base + "/USER/INDEX",
                                               base + user + "/", base + coupons})
            QTest::addRow("message, %s", qPrintable(link)) << message << link << address << link;
        QTest::newRow("message, user page") << message << "http://a/user/index" << signedIn << user;
        QTest::newRow("web, user page") << web << base + user << address << base + user;
        QTest::newRow("coupon, its page") << coupon << base + coupons << signedIn << coupons;
        QTest::newRow("coupon, its path") << coupon << coupons << signedIn << coupons;
        for (const QString &link : QStringList{base + user, base + "/MyCenter/getCouponInfo",
                                               base + coupons + "/", "http://a" + coupons, ""})
            QTest::addRow("coupon, %s", qPrintable(link)) << coupon << link << signedIn << user;
    }

    void linkTarget()
    {
        QFETCH(int, rule);
        QFETCH(QString, link);
        const auto target = LinkTarget::of(link, LinkTarget::Rule(rule), Endpoints("http://s"));
        QTEST(int(target.kind), "kind");
        QTEST(target.where, "where");
    }

    void gestures_data()
    {
        // In "opened", $ stands for the service's address.
        columns<QString, QString, QString, bool, QString>("kind", "jmpUrl", "gesture", "signedIn",
                                                          "opened");
        const auto row = [](const char *name, const char *kind, const QString &jmpUrl,
                            const char *gesture, bool signedIn, const QString &opened) {
            QTest::newRow(name) << kind << jmpUrl << gesture << signedIn << opened;
        };
        const QString user = "$/user/index", coupons = "$/mycenter/getCouponInfo";
        const QString skip = "$/user/skip?tempSession=t&skipUrl=", entity = "http://a/?a&copy;";
        for (const char *gesture : {"title", "brief", "right", "text", "Detail"})
            row(gesture, "message", News, gesture, false, News);
        row("close", "message", News, "close", false, "");
        row("entity in the link", "message", entity, "Detail", false, entity);
        row("file", "message", "file:///x", "brief", false, "");
        row("no link", "message", "", "title", false, "");
        row("user page", "message", "http://a/user/index", "Detail", false, user);
        row("notice", "notice", News, "Detail", false, "$/");
        row("coupon, view", "coupon", user, "coupon", false, coupons);
        row("coupon, view, signed in", "coupon", user, "coupon", true, skip + coupons.mid(1));
        row("coupon, close", "coupon", user, "close", false, "");
    }

    void gestures()
    {
        QFETCH(QString, kind);
        QFETCH(QString, jmpUrl);
        QFETCH(QString, gesture);
        QFETCH(bool, signedIn);
        QFETCH(QString, opened);

        home.signIn(signedIn ? "42" : "", "ann");
        UserContext user{Endpoints(server.baseUrl())};
        user.loadSession();
        Json::Value message = fromJson("{'title':'Title','brief':'Brief'}");
        message["jmpUrl"] = jmpUrl.replace('$', server.baseUrl()).toStdString();
        const QPointer<QWidget> popup = shown(kind, user, message);
        QVERIFY(popup && popup->isVisible());
        // The popup is the program's only window: every way of leaving it ends the program.
        QTimer::singleShot(0, popup, [&] { perform(popup, gesture); });
        const QObject giveUp;
        QTimer::singleShot(5000, &giveUp, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(popup.isNull());
        opened.replace('$', server.baseUrl());
        QCOMPARE(browser.opened, opened.isEmpty() ? QList<QUrl>() : QList{QUrl(opened)});
    }

    void content_data()
    {
        // An empty title: the popup refuses to show.
        columns<QByteArray, QString, QString, bool>("json", "title", "brief", "detail");
        const auto row = [](const char *name, const QByteArray &json, const QString &title,
                            const QString &brief, bool detail) {
            QTest::newRow(name) << json << title << brief << detail;
        };
        // A label would read such a file from disk: a FIFO there would hang the program.
        const QByteArray file = "/tmp/veltro-none";
        const QByteArray table = "<table><tr><td>B</td></tr></table>", link = "http://a/";
        row("link", "{'title':'T','brief':'B','jmpUrl':'" + link + "'}", "T", "B", true);
        row("no link", "{'title':'T','brief':'B'}", "T", "B", false);
        row("number as link", "{'title':'T','brief':'B','jmpUrl':5}", "T", "B", false);
        row("link with markup", R"({'title':'T','brief':'B','jmpUrl':'\"><i>y</i>'})", "T", "B",
            true);
        row("escaped coupon value", "{'title':'&lt;img src=" + file + "&gt;','brief':'B'}",
            "<img src=" + file + ">", "B", false);
        row("image from a file", "{'title':'<img src=" + file + ">T','brief':'B'}", "", "", false);
        row("style sheet from a file",
            "{'title':'T','brief':'<style>@import url(" + file + ");</style>B'}", "", "", false);
        row("image of our own", "{'title':'<img src=:/Veltro/Images/logo.png>T','brief':'B'}",
            QChar(QChar::ObjectReplacementCharacter) + QString("T"), "B", false);
        row("table", "{'title':'T','brief':'" + table + "'}", "T", "\nB\n", false);
        row("table in a table",
            "{'title':'T','brief':'<table><tr><td>" + table + "</td></tr></table>'}", "", "",
            false);
        row("400 characters", "{'title':'T','brief':'" + QByteArray(400, 'b') + "'}", "T",
            QString(400, 'b'), false);
        row("401 characters", "{'title':'T','brief':'" + QByteArray(401, 'b') + "'}", "", "",
            false);
        row("empty title", "{'title':'','brief':'B'}", "", "", false);
        row("number as brief", "{'title':'T','brief':7,'jmpUrl':'" + link + "'}", "", "", false);
    }

    void content()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, title);
        QFETCH(QString, brief);

        const QWidget *popup = shown("message", signedOut, fromJson(json));
        QCOMPARE(popup != nullptr, !title.isEmpty());
        if (popup) {
            const QStringList texts = labelTexts(popup);
            QVERIFY2(texts.contains(title) && texts.contains(brief), qPrintable(texts.join('|')));
            QTEST(texts.contains("Detail"), "detail");
        }
    }

    void dragging_data()
    {
        columns<QPoint, Qt::MouseButton, bool>("pressAt", "button", "moves");
        QTest::newRow("left, title bar") << QPoint(4, 4) << Qt::LeftButton << true;
        QTest::newRow("left, bottom line") << QPoint(150, 185) << Qt::LeftButton << true;
        QTest::newRow("right, title bar") << QPoint(100, 15) << Qt::RightButton << false;
    }

    void dragging()
    {
        QFETCH(QPoint, pressAt);
        QFETCH(Qt::MouseButton, button);

        QWidget *popup = shown("message", signedOut);
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

    void chineseLabels()
    {
        QTranslator zh;
        QVERIFY(zh.load(":/Veltro/veltro_zh.qm") && QCoreApplication::installTranslator(&zh));
        const Json::Value message = fromJson("{'title':'T','brief':'B','jmpUrl':'http://a/'}");
        const QWidget *plain = shown("message", signedOut, message);
        const QWidget *notice = shown("notice", signedOut, message);
        const QWidget *coupon = shown("coupon", signedOut, message);
        QVERIFY(plain && notice && coupon);
        const auto *close = plain->findChild<QPushButton *>();
        QVERIFY(close && close->toolTip() == "关闭" && close->accessibleName() == "关闭");
        QVERIFY(labelTexts(plain).contains("Lumaview") && labelTexts(plain).contains("查看详情"));
        QCOMPARE(labelTexts(notice).mid(2),
                 QStringList({"您收到了一条消息",
                              "您刚刚收到了一条消息，但是因为软件版本过低无法显示。请点击此段文"
                              "字跳转到官网下载最新版本，安装后即可查看此类消息",
                              "查看详情"}));
        QVERIFY(labelTexts(coupon).contains("查看我的优惠券"));
    }

    void placement()
    {
        // Each display is a CTest entry of its own: the layout follows the DPI found.
        const QScreen *screen = QGuiApplication::primaryScreen();
        const int dpi = qRound(screen->logicalDotsPerInchY());
        const QMap<int, QList<QRect>> layouts{
            {96, {{0, 0, 300, 30}, {0, 30, 300, 130}, {0, 160, 300, 40}}},
            {144, {{0, 0, 450, 45}, {0, 45, 450, 195}, {0, 240, 450, 60}}},
            {168, {{0, 0, 525, 52}, {0, 52, 525, 227}, {0, 280, 525, 70}}}};
        QVERIFY2(layouts.contains(dpi), qPrintable(QString::number(dpi)));
        QWidget *popup = shown("message", signedOut);
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

    void webPageHelper_data()
    {
        // The helper: a shell script, or the real one when empty.
        columns<QByteArray, QString, bool>("script", "page", "shown");
        QTest::newRow("missing") << QByteArray("missing") << "/page" << false;
        QTest::newRow("crashes") << QByteArray("kill -SEGV $$") << "/page" << false;
        QTest::newRow("silent") << QByteArray("exec sleep 60") << "/page" << false;
        QTest::newRow("talks nonsense") << QByteArray("echo shown.") << "/page" << false;
        QTest::newRow("page loaded") << QByteArray() << "/page" << true;
        QTest::newRow("page missing") << QByteArray() << "/missing" << false;
    }

    void webPageHelper()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, page);

        const QString helper =
            script.isEmpty() ? VELTRO_WEBPOPUP_EXE : home.path() + '/' + script.toHex();
        QFile file(helper);
        QVERIFY(script.isEmpty() || script == "missing" ||
                (file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n" + script) > 0 &&
                 file.setPermissions(QFile::ReadOwner | QFile::ExeOwner)));
        file.close();
        // The page takes the place of the texts: a brief too long for a label keeps nothing away.
        Json::Value message = fromJson("{'title':'T'}");
        message["brief"] = std::string(1000, 'b');
        message["contentUrl"] = (server.baseUrl() + page).toStdString();
        // A scripted helper gets a short bound for its report, the real one the program's own.
        WebPopupProcess popup(signedOut, helper,
                              script.isEmpty() ? WebPopupProcess::ReportBoundMs : 1000);
        popup.setContent(message);
        const qsizetype asked = server.requestsTo(page).size();
        QElapsedTimer clock;
        clock.start();
        QTEST(popup.showPopup(), "shown");
        QVERIFY(script.isEmpty() || clock.elapsed() < 10000);
        QCOMPARE(server.requestsTo(page).size() > asked, script.isEmpty());
    }
};

QTEST_MAIN(TestPopup)

#include "tst_popup.moc"
