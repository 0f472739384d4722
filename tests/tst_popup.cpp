#include "datatable.h"
#include "manager/couponoffer.h"
#include "popup/webpopuprequest.h"
#include "popup/windowpopupfactory.h"
#include "resources/catalogues.h"
#include "serviceanswers.h"
#include "session/linktarget.h"
#include "session/usercontext.h"
#include "testhome.h"

#include <QApplication>
#include <QLabel>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTest>
#include <QTextDocumentFragment>

namespace {

using ServiceAnswers::fromJson;

// Makes a message's popup as the message manager does, and shows it; type 0 is the coupon popup.
QWidget *shown(const UserContext &user,
               const Json::Value &content = fromJson("{'title':'T','brief':'B'}"), uint type = 1)
{
    WindowPopupFactory popups(user);
    std::unique_ptr<VeltroBase> popup =
        type ? popups.createPopup(type) : popups.createCouponPopup();
    popup->setContent(content);
    if (popup->keepByManager() || !popup->showPopup())
        return nullptr;
    return dynamic_cast<QWidget *>(popup.release());
}

} // namespace

class TestPopup : public QObject
{
    Q_OBJECT

    TestHome home;
    const UserContext signedOut{Endpoints("http://s")};

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        home.activate();
        Catalogues::install();
    }

    void cleanup() { qDeleteAll(QApplication::topLevelWidgets()); }

    void linkTarget_data()
    {
        columns<int, QString, int, QString>("rule", "link", "kind", "where");
        const int message = LinkTarget::Message, coupon = LinkTarget::Coupon, web = LinkTarget::Web;
        const int signedIn = LinkTarget::SignedIn, address = LinkTarget::WebAddress;
        const QString user = "/user/index", coupons = "/mycenter/getCouponInfo", base = "http://s";
        for (const char *hostile : {"file:///etc/passwd", "smb://host/share", "javascript:alert(1)",
                                    "data:text/html,<b>x</b>", "lumaview://open?file=x"}) {
            QTest::addRow("message, %s", hostile) << message << hostile << 0 << hostile;
            QTest::addRow("web, %s", hostile) << web << hostile << 0 << hostile;
        }
        for (const QString &link :
             QStringList{"http://a.example/news?id=7", "https://a.example/", base + "/USER/INDEX",
                         base + user + "/", base + coupons})
            QTest::addRow("message, %s", qPrintable(link)) << message << link << address << link;
        QTest::newRow("web, user page") << web << base + user << address << base + user;
        QTest::newRow("coupon, its page") << coupon << base + coupons << signedIn << coupons;
        for (const QString &link : QStringList{base + user, base + "/MyCenter/getCouponInfo",
                                               base + coupons + "/", "http://a" + coupons, ""})
            QTest::addRow("coupon, %s", qPrintable(link)) << coupon << link << signedIn << user;
        const QString lines = "http://s/a b\r\n%41 链接/user/index";
        QTest::newRow("message, line breaks") << message << lines << signedIn << user;
        QTest::newRow("web, line breaks") << web << lines << address << lines;
    }

    void linkTarget()
    {
        QFETCH(int, rule);
        QFETCH(QString, link);
        // A web page's links reach the program on a line of the helper's report; the message's
        // link is the message's own.
        const Endpoints service("http://s");
        Json::Value content;
        content["jmpUrl"] = link.toStdString();
        const auto target = rule == LinkTarget::Coupon
            ? LinkTarget::of(link, LinkTarget::Coupon, service)
            : WebPopupRequest::linkTarget(
                  WebPopupRequest::encodeLink(link, LinkTarget::Rule(rule)) + '\n', content,
                  service);
        QTEST(int(target.kind), "kind");
        QTEST(target.where, "where");
    }

    void content_data()
    {
        // The texts below the title bar, in Chinese; none when the popup refuses to show. Type 0:
        // the coupon popup, its content composed from the service's answer in json.
        columns<QByteArray, QStringList, uint>("json", "texts", "type");
        const auto row = [](const char *name, const QByteArray &json, const QStringList &texts,
                            uint type = 1) { QTest::newRow(name) << json << texts << type; };
        // A label would read such a file from disk: a FIFO there would hang the program.
        const QByteArray file = "/tmp/veltro-none", b400(400, 'b');
        const QByteArray table = "<table><tr><td>B</td></tr></table>";
        row("link, 400 characters", "{'title':'T','brief':'" + b400 + "','jmpUrl':'http://a/'}",
            {"T", b400, "查看详情"});
        row("number as link", "{'title':'T','brief':'B','jmpUrl':5}", {"T", "B"});
        row("link with markup", R"({'title':'T','brief':'B','jmpUrl':'\"><i>y</i>'})",
            {"T", "B", "查看详情"});
        row("image from a file", "{'title':'<img src=" + file + ">T','brief':'B'}", {});
        row("style sheet from a file",
            "{'title':'T','brief':'<style>@import url(" + file + ");</style>B'}", {});
        row("table", "{'title':'T','brief':'" + table + "'}", {"T", "\nB\n"});
        row("table in a table",
            "{'title':'T','brief':'<table><tr><td>" + table + "</td></tr></table>'}", {});
        row("401 characters", "{'title':'T','brief':'" + b400 + "b'}", {});
        row("empty title", "{'title':'','brief':'B'}", {});
        row("number as brief", "{'title':'T','brief':7,'jmpUrl':'http://a/'}", {});
        row("update notice", "{}",
            {"您收到了一条消息",
             "您刚刚收到了一条消息，但是因为软件版本过低无法显示。请点击此段文字跳转到官网下载最新"
             "版"
             "本，安装后即可查看此类消息",
             "查看详情"},
            5);
        row("coupon", ServiceAnswers::DueCoupon,
            {"恭喜您获得了一张50元优惠券！",
             "您的LumaviewVIP会员将于3日后到期。为了感谢您的支持，现赠送您一张\"满300减50\"的优惠券"
             "，"
             "可用于VIP续费时满减抵扣，有效期至2017年05月31日，快去使用吧~\n>>点此立即使用",
             "查看我的优惠券"},
            0);
    }

    void content()
    {
        QFETCH(QByteArray, json);
        QFETCH(uint, type);
        QStringList texts;
        const std::optional<CouponOffer> coupon =
            type ? std::nullopt : CouponOffer::evaluate(json, QString(), "http://s/user/index");
        if (const QWidget *popup =
                shown(signedOut, coupon ? coupon->content() : fromJson(json), type))
            for (const QLabel *label : popup->findChildren<QLabel *>().mid(2))
                texts.append(QTextDocumentFragment::fromHtml(label->text()).toPlainText());
        QTEST(texts, "texts");
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
        QWidget *popup = shown(signedOut);
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
        // After its slide-in only the user moves it: the left button drags it by the title bar.
        for (const Qt::MouseButton button : {Qt::RightButton, Qt::LeftButton}) {
            QTest::mousePress(popup->childAt(4, 4), button, {}, QPoint(4, 4));
            QTest::mouseMove(popup->childAt(4, 4), QPoint(-116, -66));
            QTest::mouseRelease(popup->childAt(4, 4), button, {}, QPoint(-116, -66));
        }
        QCOMPARE(popup->geometry().bottomRight(), available.bottomRight() - QPoint(120, 70));
    }
};

QTEST_MAIN(TestPopup)
#include "tst_popup.moc"
