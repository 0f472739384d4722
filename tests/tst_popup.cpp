#include "browserrecorder.h"
#include "net/strictjson.h"
#include "popup/webpopupprocess.h"
#include "popup/windowpopupfactory.h"
#include "scriptedhttpserver.h"
#include "session/linktarget.h"
#include "session/usercontext.h"
#include "testhome.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QPointer>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTextDocumentFragment>
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
    for (const QLabel *label : popup->findChildren<QLabel *>())
        texts.append(QTextDocumentFragment::fromHtml(label->text()).toPlainText());
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
        QTest::newRow("web, user page") << web << base + user << address << base + user;
        QTest::newRow("coupon, its page") << coupon << base + coupons << signedIn << coupons;
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
        columns<QString, QString, QString, QString>("kind", "jmpUrl", "gesture", "opened");
        const auto row = [](const char *name, const char *kind, const QString &jmpUrl,
                            const char *gesture, const QString &opened) {
            QTest::newRow(name) << kind << jmpUrl << gesture << opened;
        };
        const QString base = server.baseUrl(), user = base + "/user/index";
        const QString entity = "http://a/?a&copy;";
        for (const char *gesture : {"title", "brief", "right", "text", "Detail"})
            row(gesture, "message", News, gesture, News);
        row("close", "message", News, "close", "");
        row("entity in the link", "message", entity, "Detail", entity);
        row("file", "message", "file:///x", "brief", "");
        row("user page", "message", "http://a/user/index", "Detail", user);
        row("notice", "notice", News, "Detail", base + "/");
        row("coupon", "coupon", user, "coupon",
            base + "/user/skip?tempSession=t&skipUrl=/mycenter/getCouponInfo");
    }

    void gestures()
    {
        QFETCH(QString, kind);
        QFETCH(QString, jmpUrl);
        QFETCH(QString, gesture);

        // Only a signed-in user is offered coupons.
        home.signIn(kind == "coupon" ? "42" : "", "ann");
        UserContext user{Endpoints(server.baseUrl())};
        user.loadSession();
        Json::Value message = fromJson("{'title':'Title','brief':'Brief'}");
        message["jmpUrl"] = jmpUrl.toStdString();
        const QPointer<QWidget> popup = shown(kind, user, message);
        QVERIFY(popup && popup->isVisible());
        // The popup is the program's only window: every way of leaving it ends the program.
        QTimer::singleShot(0, popup, [&] { perform(popup, gesture); });
        QTimer::singleShot(5000, popup, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(popup.isNull());
        QTEST(QUrl::toStringList(browser.opened).join(' '), "opened");
    }

    void content_data()
    {
        // The texts below the title bar; none when the popup refuses to show.
        columns<QByteArray, QStringList>("json", "texts");
        const auto row = [](const char *name, const QByteArray &json, const QStringList &texts) {
            QTest::newRow(name) << json << texts;
        };
        // A label would read such a file from disk: a FIFO there would hang the program.
        const QByteArray file = "/tmp/veltro-none", b400(400, 'b');
        const QByteArray table = "<table><tr><td>B</td></tr></table>";
        row("link, 400 characters", "{'title':'T','brief':'" + b400 + "','jmpUrl':'http://a/'}",
            {"T", b400, "Detail"});
        row("number as link", "{'title':'T','brief':'B','jmpUrl':5}", {"T", "B"});
        row("link with markup", R"({'title':'T','brief':'B','jmpUrl':'\"><i>y</i>'})",
            {"T", "B", "Detail"});
        row("image from a file", "{'title':'<img src=" + file + ">T','brief':'B'}", {});
        row("style sheet from a file",
            "{'title':'T','brief':'<style>@import url(" + file + ");</style>B'}", {});
        row("image of our own", "{'title':'<img src=:/Veltro/Images/logo.png>T','brief':'B'}",
            {QChar(QChar::ObjectReplacementCharacter) + QString("T"), "B"});
        row("table", "{'title':'T','brief':'" + table + "'}", {"T", "\nB\n"});
        row("table in a table",
            "{'title':'T','brief':'<table><tr><td>" + table + "</td></tr></table>'}", {});
        row("401 characters", "{'title':'T','brief':'" + b400 + "b'}", {});
        row("empty title", "{'title':'','brief':'B'}", {});
        row("number as brief", "{'title':'T','brief':7,'jmpUrl':'http://a/'}", {});
    }

    void content()
    {
        QFETCH(QByteArray, json);
        const QWidget *popup = shown("message", signedOut, fromJson(json));
        QTEST(popup ? labelTexts(popup).mid(2) : QStringList(), "texts");
    }

    void chineseLabels()
    {
        QTranslator zh;
        QVERIFY(zh.load(":/Veltro/veltro_zh.qm") && QCoreApplication::installTranslator(&zh));
        const QWidget *notice = shown("notice", signedOut), *coupon = shown("coupon", signedOut);
        QVERIFY(notice && coupon);
        const auto *close = notice->findChild<QPushButton *>();
        QVERIFY(close && close->toolTip() == "关闭" && close->accessibleName() == "关闭");
        QCOMPARE(labelTexts(notice),
                 QStringList({"", "Lumaview", "您收到了一条消息",
                              "您刚刚收到了一条消息，但是因为软件版本过低无法显示。请点击此段文"
                              "字跳转到官网下载最新版本，安装后即可查看此类消息",
                              "查看详情"}));
        QCOMPARE(labelTexts(coupon).last(), "查看我的优惠券");
    }

    void placement()
    {
        // Each display is a CTest entry of its own: the layout of the popup and its three parts
        // follows the DPI found.
        const QScreen *screen = QGuiApplication::primaryScreen();
        const QMap<int, QList<QRect>> layouts{
            {96, {{0, 0, 300, 200}, {0, 0, 300, 30}, {0, 30, 300, 130}, {0, 160, 300, 40}}},
            {144, {{0, 0, 450, 300}, {0, 0, 450, 45}, {0, 45, 450, 195}, {0, 240, 450, 60}}},
            {168, {{0, 0, 525, 350}, {0, 0, 525, 52}, {0, 52, 525, 227}, {0, 280, 525, 70}}}};
        QWidget *popup = shown("message", signedOut);
        QVERIFY(popup);
        QList<QRect> parts{popup->rect()};
        for (const QWidget *part : popup->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            parts.append(part->geometry());
        QCOMPARE(parts, layouts[qRound(screen->logicalDotsPerInchY())]);
        // It slides up from below the primary screen into the corner of its available area.
        const QRect available = screen->availableGeometry();
        QCOMPARE(popup->geometry().topRight(),
                 QPoint(available.right(), screen->geometry().bottom() + 1));
        const auto *slide = popup->findChild<QPropertyAnimation *>();
        QTRY_VERIFY(slide && slide->state() == QAbstractAnimation::Stopped);
        QCOMPARE(popup->geometry().bottomRight(), available.bottomRight());
        // After its slide-in, only the user moves the popup.
        const auto drag = [&](QPoint pressAt, Qt::MouseButton held, QPoint offset) {
            QWidget *target = popup->childAt(pressAt) ? popup->childAt(pressAt) : popup;
            const QPoint pointer = popup->mapToGlobal(pressAt), start = popup->pos();
            QTest::mousePress(target, held, {}, target->mapFromGlobal(pointer));
            QTest::mouseMove(target, target->mapFromGlobal(pointer + offset / 2));
            QTest::mouseMove(target, target->mapFromGlobal(pointer + offset));
            QTest::mouseRelease(target, held, {}, target->mapFromGlobal(pointer + offset));
            return popup->pos() - start;
        };
        // The left button drags by the title bar and by the bottom line, until it is released.
        for (const QPoint pressAt : {QPoint(4, 4), QPoint(150, popup->height() - 5)}) {
            QCOMPARE(drag(pressAt, Qt::LeftButton, QPoint(-120, -70)), QPoint(-120, -70));
            QCOMPARE(drag(pressAt, Qt::RightButton, QPoint(40, 30)), QPoint());
        }
        QVERIFY(popup->isVisible() && browser.opened.isEmpty());
    }

    void webPageHelper_data()
    {
        // The helper: a shell script, or the real one when empty.
        columns<QByteArray, QString, bool>("script", "page", "shown");
        QTest::newRow("missing") << QByteArray("missing") << "/page" << false;
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
        // Comments in the content are no part of what the helper reads.
        Json::Value message =
            fromJson("{'title':'T', // one\n 'brief': /* two */ '" + QByteArray(1000, 'b') + "'}");
        message["contentUrl"] = (server.baseUrl() + page).toStdString();
        // A scripted helper gets a short bound for its report, the real one the program's own.
        WebPopupProcess popup(signedOut, helper,
                              script.isEmpty() ? WebPopupProcess::ReportBoundMs : 1000);
        popup.setContent(message);
        const QDeadlineTimer bound(10000);
        QTEST(popup.showPopup(), "shown");
        QVERIFY(script.isEmpty() || !bound.hasExpired());
    }
};

QTEST_MAIN(TestPopup)

#include "tst_popup.moc"
