#include "app/displayscale.h"
#include "app/usercontext.h"
#include "browserrecorder.h"
#include "net/endpoints.h"
#include "net/strictjson.h"
#include "popup/veltrocouponmsg.h"
#include "popup/veltrodefault.h"
#include "popup/veltrowidgetbase.h"
#include "popup/webpopupprocess.h"
#include "popup/windowpopupfactory.h"
#include "scriptedhttpserver.h"
#include "testhome.h"

#include <QApplication>
#include <QLabel>
#include <QLoggingCategory>
#include <QPointer>
#include <QProcess>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTextStream>
#include <QTimer>
#include <QTranslator>

#include <algorithm>
#include <memory>

#include <sys/stat.h>

namespace {

// Signed-out users open pages without asking the service, so nothing needs to listen here.
const QString Base = QStringLiteral("http://127.0.0.1:9");
const QString SessionPath = QStringLiteral("/user/getTempSession");

// Set in the environment of a copy of this program that lays out one popup and reports it: the
// display (DPI, screens) is fixed when the application starts, so every display needs a process.
const char *const LayoutReportVariable = "VELTRO_TST_POPUP_LAYOUT";

// What the user does with a popup.
enum class Gesture {
    PressTitle,
    PressBrief,
    RightPressBody,
    ClickBriefText,
    ClickDetail,
    ClickCoupon,
    ClickClose
};

// Points of the body in popup pixels at 96 DPI: on the title line and on the brief text.
const QPoint TitlePoint(150, 50);
const QPoint BriefPoint(150, 110);

Json::Value message(const QString &title, const QString &brief, const QString &jmpUrl)
{
    Json::Value content(Json::objectValue);
    content["title"] = title.toStdString();
    content["brief"] = brief.toStdString();
    content["jmpUrl"] = jmpUrl.toStdString();
    return content;
}

// Builds a popup of the given kind and shows it; null when it refused to show.
template<class Popup>
QPointer<VeltroWidgetBase> showPopup(const UserContext &user, const Json::Value &content)
{
    auto *popup = new Popup(user);
    popup->setContent(content);
    if (!popup->showPopup()) {
        delete popup;
        return nullptr;
    }
    return popup;
}

QString plainText(const QLabel *label)
{
    QTextDocument document;
    document.setHtml(label->text());
    return document.toPlainText();
}

QStringList labelTexts(const QWidget *popup)
{
    QStringList texts;
    for (const QLabel *label : popup->findChildren<QLabel *>())
        texts.append(plainText(label));
    return texts;
}

bool showsAnyLink(const QWidget *popup)
{
    const QList<QLabel *> labels = popup->findChildren<QLabel *>();
    return std::any_of(labels.begin(), labels.end(), [](const QLabel *label) {
        return label->text().contains(QLatin1String("href"));
    });
}

QLabel *labelNamed(const QWidget *popup, const QString &accessibleName)
{
    for (QLabel *label : popup->findChildren<QLabel *>()) {
        if (label->accessibleName() == accessibleName)
            return label;
    }
    return nullptr;
}

// The widget the window system hands a press at this point of the popup.
QWidget *widgetAt(QWidget *popup, const QPoint &point)
{
    QWidget *child = popup->childAt(point);
    return child ? child : popup;
}

void clickAt(QWidget *popup, const QPoint &point, Qt::MouseButton button)
{
    QWidget *target = widgetAt(popup, point);
    QTest::mouseClick(target, button, {}, target->mapFrom(popup, point));
}

// Clicks the middle of a label's text, which must be one short line (a link, as a rule).
bool clickText(QLabel *label)
{
    if (!label)
        return false;
    const QFontMetrics metrics(label->font());
    const int half = metrics.horizontalAdvance(plainText(label)) / 2;
    const QRect area = label->contentsRect();
    const int x = label->alignment() & Qt::AlignRight ? area.right() - half : area.left() + half;
    const int y = label->alignment() & Qt::AlignVCenter ? area.center().y()
                                                        : area.top() + metrics.height() / 2;
    QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(x, y));
    return true;
}

// False when the popup lacks what the gesture needs.
bool perform(QWidget *popup, Gesture gesture)
{
    switch (gesture) {
    case Gesture::PressTitle:
        clickAt(popup, TitlePoint, Qt::LeftButton);
        return true;
    case Gesture::PressBrief:
        clickAt(popup, BriefPoint, Qt::LeftButton);
        return true;
    case Gesture::RightPressBody:
        clickAt(popup, BriefPoint, Qt::RightButton);
        return true;
    case Gesture::ClickBriefText:
        return clickText(qobject_cast<QLabel *>(popup->childAt(BriefPoint)));
    case Gesture::ClickDetail:
        return clickText(labelNamed(popup, QStringLiteral("Detail")));
    case Gesture::ClickCoupon:
        return clickText(labelNamed(popup, QStringLiteral("View my coupon")));
    case Gesture::ClickClose:
        if (auto *button = popup->findChild<QPushButton *>()) {
            QTest::mouseClick(button, Qt::LeftButton);
            return true;
        }
        return false;
    }
    return false;
}

// Waits for the end of the slide-in, after which nothing but the user moves the popup.
bool slidIn(const QWidget *popup)
{
    const auto *slide = popup->findChild<QPropertyAnimation *>();
    return slide &&
        QTest::qWaitFor([slide] { return slide->state() == QAbstractAnimation::Stopped; }, 60000);
}

QString rectText(const QRect &rect)
{
    return QStringLiteral("%1,%2 %3x%4")
        .arg(rect.x())
        .arg(rect.y())
        .arg(rect.width())
        .arg(rect.height());
}

QRect devicePixels(const QRect &rect, qreal ratio)
{
    return QRect((QPointF(rect.topLeft()) * ratio).toPoint(),
                 (QSizeF(rect.size()) * ratio).toSize());
}

// Set in the copy once the popup reports that it has come to rest.
bool placed = false;

// The copy's side: shows a message popup and reports, one "key value" line each, the DPI, the
// popup and its parts (title bar, body, bottom line) in device pixels, where the slide-in
// started and where the popup came to rest.
int reportLayout()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context, const QString &text) {
        if (qstrcmp(context.category, "veltro.popup") == 0 &&
            text == QLatin1String("popup in place"))
            placed = true;
    });
    QLoggingCategory::setFilterRules(QStringLiteral("veltro.popup.debug=true"));

    const UserContext user{Endpoints(Base)};
    VeltroWidgetBase popup(user);
    popup.setContent(message(QStringLiteral("Title"), QStringLiteral("Brief"),
                             QStringLiteral("http://a.example/")));
    if (!popup.showPopup())
        return 1;

    QTextStream out(stdout);
    const QScreen *screen = QGuiApplication::primaryScreen();
    out << "dpi " << screen->logicalDotsPerInchX() << 'x' << screen->logicalDotsPerInchY() << '\n';
    out << "start " << popup.x() << ',' << popup.y() << '\n';
    const qreal ratio = popup.devicePixelRatioF();
    out << "window " << rectText(devicePixels(popup.rect(), ratio)).section(' ', 1) << '\n';
    QStringList parts;
    for (const QWidget *part : popup.findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        parts.append(rectText(devicePixels(part->geometry(), ratio)));
    out << "parts " << parts.join(QStringLiteral("; ")) << '\n';
    if (QTest::qWaitFor([] { return placed; }, 60000))
        out << "end " << rectText(popup.geometry()) << '\n';
    return 0;
}

} // namespace

Q_DECLARE_METATYPE(Gesture)

class TestPopup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void displayScale_data();
    void displayScale();
    void sizesAtDpi_data();
    void sizesAtDpi();
    void placementOnScreens_data();
    void placementOnScreens();
    void slideIn();
    void texts_data();
    void texts();
    void content_data();
    void content();
    void follow_data();
    void follow();
    void updateNotice_data();
    void updateNotice();
    void dragging_data();
    void dragging();
    void couponSignedOut_data();
    void couponSignedOut();
    void signedIn_data();
    void signedIn();
    void factory_data();
    void factory();
    void webPageHelper_data();
    void webPageHelper();
    void artwork_data();
    void artwork();

private:
    QMap<QString, QString> layoutReport(const QProcessEnvironment &display);

    BrowserRecorder browser;
    TestHome home;
    const UserContext signedOut{Endpoints(Base)};
    std::unique_ptr<QTranslator> translator;
};

void TestPopup::initTestCase()
{
    QVERIFY2(DisplayScale::current().y(200) == 200,
             "the cases run in this process are written for an unscaled display");
    QVERIFY(home.isValid());
    home.activate();
    QLoggingCategory::setFilterRules(QStringLiteral("veltro.popup.debug=true"));
}

void TestPopup::cleanup()
{
    qDeleteAll(QApplication::topLevelWidgets());
    browser.opened.clear();
    if (translator) {
        QCoreApplication::removeTranslator(translator.get());
        translator.reset();
    }
}

QMap<QString, QString> TestPopup::layoutReport(const QProcessEnvironment &display)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(LayoutReportVariable), QStringLiteral("1"));
    environment.insert(QStringLiteral("QT_ENABLE_HIGHDPI_SCALING"), QStringLiteral("0"));
    environment.remove(QStringLiteral("QT_FONT_DPI"));
    environment.insert(display);

    QProcess copy;
    copy.setProcessEnvironment(environment);
    copy.start(QCoreApplication::applicationFilePath(), QStringList());
    QMap<QString, QString> report;
    if (!copy.waitForFinished(-1) || copy.exitStatus() != QProcess::NormalExit ||
        copy.exitCode() != 0) {
        qWarning().noquote() << "the layout report failed:" << copy.readAllStandardError();
        return report;
    }
    const QStringList lines =
        QString::fromUtf8(copy.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    for (const QString &line : lines)
        report.insert(line.section(' ', 0, 0), line.section(' ', 1));
    return report;
}

void TestPopup::displayScale_data()
{
    QTest::addColumn<qreal>("dpiX");
    QTest::addColumn<qreal>("dpiY");
    QTest::addColumn<QSize>("window");
    QTest::addColumn<int>("titleBarHeight");

    QTest::newRow("96") << 96.0 << 96.0 << QSize(300, 200) << 30;
    QTest::newRow("120") << 120.0 << 120.0 << QSize(300, 200) << 30;
    QTest::newRow("144") << 144.0 << 144.0 << QSize(450, 300) << 45;
    QTest::newRow("168, cut toward zero") << 168.0 << 168.0 << QSize(525, 350) << 52;
    QTest::newRow("96 wide, 144 high") << 96.0 << 144.0 << QSize(300, 300) << 45;
    QTest::newRow("144 wide, 96 high") << 144.0 << 96.0 << QSize(450, 200) << 30;
    QTest::newRow("121 wide, 120 high") << 121.0 << 120.0 << QSize(378, 250) << 37;
}

void TestPopup::displayScale()
{
    QFETCH(qreal, dpiX);
    QFETCH(qreal, dpiY);
    QFETCH(QSize, window);
    QFETCH(int, titleBarHeight);

    const DisplayScale scale(dpiX, dpiY);
    QCOMPARE(QSize(scale.x(300), scale.y(200)), window);
    QCOMPARE(scale.y(30), titleBarHeight);
}

void TestPopup::sizesAtDpi_data()
{
    QTest::addColumn<int>("dpi");
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("parts");

    const QString unscaled = QStringLiteral("0,0 300x30; 0,30 300x130; 0,160 300x40");
    QTest::newRow("96") << 96 << "300x200" << unscaled;
    QTest::newRow("120") << 120 << "300x200" << unscaled;
    QTest::newRow("144") << 144 << "450x300"
                         << "0,0 450x45; 0,45 450x195; 0,240 450x60";
    QTest::newRow("168") << 168 << "525x350"
                         << "0,0 525x52; 0,52 525x227; 0,280 525x70";
}

void TestPopup::sizesAtDpi()
{
    QFETCH(int, dpi);
    QFETCH(QString, window);
    QFETCH(QString, parts);

    QProcessEnvironment display;
    display.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    display.insert(QStringLiteral("QT_FONT_DPI"), QString::number(dpi));
    const QMap<QString, QString> report = layoutReport(display);
    QCOMPARE(report.value(QStringLiteral("dpi")), QStringLiteral("%1x%1").arg(dpi));
    QCOMPARE(report.value(QStringLiteral("window")), window);
    QCOMPARE(report.value(QStringLiteral("parts")), parts);
}

void TestPopup::placementOnScreens_data()
{
    QTest::addColumn<QByteArray>("screens");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");

    QTest::newRow("one screen") << QByteArray(R"([{"name":"main","width":1024,"height":768}])")
                                << "724,768"
                                << "724,568 300x200";
    QTest::newRow("a larger screen right of the primary")
        << QByteArray(R"([{"name":"main","width":800,"height":600},
                      {"name":"side","x":800,"y":-100,"width":1280,"height":1024}])")
        << "500,600"
        << "500,400 300x200";
    QTest::newRow("a taller screen left of the primary")
        << QByteArray(R"([{"name":"main","x":1280,"width":1024,"height":768},
                      {"name":"side","width":1280,"height":1024}])")
        << "2004,768"
        << "2004,568 300x200";
    QTest::newRow("primary left of and below the origin")
        << QByteArray(R"([{"name":"main","x":-1024,"y":300,"width":1024,"height":768},
                      {"name":"side","width":1920,"height":1080}])")
        << "-300,1068"
        << "-300,868 300x200";
}

void TestPopup::placementOnScreens()
{
    QFETCH(QByteArray, screens);
    QFETCH(QString, start);
    QFETCH(QString, end);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QFile config(folder.filePath(QStringLiteral("screens.json")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("{\"screens\":" + screens + '}');
    config.close();

    QProcessEnvironment display;
    display.insert(QStringLiteral("QT_QPA_PLATFORM"),
                   QStringLiteral("offscreen:configfile=") + config.fileName());
    const QMap<QString, QString> report = layoutReport(display);
    QCOMPARE(report.value(QStringLiteral("start")), start);
    QCOMPARE(report.value(QStringLiteral("end")), end);
}

void TestPopup::slideIn()
{
    QTest::ignoreMessage(QtDebugMsg, "popup in place");
    const QPointer<VeltroWidgetBase> popup = showPopup<VeltroWidgetBase>(
        signedOut, message(QStringLiteral("T"), QStringLiteral("B"), QString()));
    QVERIFY(popup);

    const QScreen *screen = QGuiApplication::primaryScreen();
    QCOMPARE(popup->geometry().top(), screen->geometry().bottom() + 1);
    QCOMPARE(popup->geometry().right(), screen->availableGeometry().right());
    QTRY_COMPARE(popup->geometry().bottomRight(), screen->availableGeometry().bottomRight());
    QCOMPARE(popup->size(), QSize(300, 200));
    QVERIFY(slidIn(popup));
}

void TestPopup::texts_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QString>("close");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("coupon");
    QTest::addColumn<QString>("noticeTitle");
    QTest::addColumn<QString>("noticeBrief");

    QTest::newRow("English") << false << "Close"
                             << "Detail"
                             << "View my coupon"
                             << "You got a message"
                             << "Please update to the newest version to read this message";
    QTest::newRow("Chinese") << true << "关闭"
                             << "查看详情"
                             << "查看我的优惠券"
                             << "您收到了一条消息"
                             << "您刚刚收到了一条消息，但是因为软件版本过低无法显示。"
                                "请点击此段文字跳转到官网下载最新版本，安装后即可查看此类消息";
}

void TestPopup::texts()
{
    QFETCH(bool, chinese);
    QFETCH(QString, close);
    QFETCH(QString, detail);
    QFETCH(QString, coupon);
    QFETCH(QString, noticeTitle);
    QFETCH(QString, noticeBrief);

    if (chinese) {
        translator = std::make_unique<QTranslator>();
        QVERIFY(translator->load(QStringLiteral(":/Veltro/veltro_zh.qm")));
        QVERIFY(QCoreApplication::installTranslator(translator.get()));
    }
    const Json::Value content = message(QStringLiteral("Title"), QStringLiteral("Brief"),
                                        QStringLiteral("http://a.example/"));

    const QPointer<VeltroWidgetBase> plain = showPopup<VeltroWidgetBase>(signedOut, content);
    QVERIFY(plain);
    QVERIFY(labelTexts(plain).contains(QStringLiteral("Lumaview")));
    const auto *closeButton = plain->findChild<QPushButton *>();
    QVERIFY(closeButton);
    QCOMPARE(closeButton->toolTip(), close);
    QCOMPARE(closeButton->accessibleName(), close);
    const QLabel *detailLink = labelNamed(plain, detail);
    QVERIFY(detailLink);
    QCOMPARE(plainText(detailLink), detail);

    const QPointer<VeltroWidgetBase> notice = showPopup<VeltroDefault>(signedOut, content);
    QVERIFY(notice);
    QVERIFY(labelTexts(notice).contains(noticeTitle));
    QVERIFY(labelTexts(notice).contains(noticeBrief));
    QVERIFY(labelNamed(notice, detail));

    const QPointer<VeltroWidgetBase> couponPopup = showPopup<VeltroCouponMsg>(signedOut, content);
    QVERIFY(couponPopup);
    const QLabel *couponLink = labelNamed(couponPopup, coupon);
    QVERIFY(couponLink);
    QCOMPARE(plainText(couponLink), coupon);
    QVERIFY(!labelNamed(couponPopup, detail));
}

void TestPopup::content_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("brief");
    QTest::addColumn<bool>("detail");

    QTest::newRow("complete")
        << QByteArray(
               R"({"title":"New release","brief":"Version 5 is out","jmpUrl":"http://a.example/5"})")
        << true << "New release"
        << "Version 5 is out" << true;
    QTest::newRow("no address") << QByteArray(R"({"title":"T","brief":"B"})") << true << "T"
                                << "B" << false;
    QTest::newRow("null address") << QByteArray(R"({"title":"T","brief":"B","jmpUrl":null})")
                                  << true << "T"
                                  << "B" << false;
    QTest::newRow("number as address")
        << QByteArray(R"({"title":"T","brief":"B","jmpUrl":5})") << true << "T"
        << "B" << false;
    QTest::newRow("object as address")
        << QByteArray(R"({"title":"T","brief":"B","jmpUrl":{}})") << true << "T"
        << "B" << false;
    QTest::newRow("boolean title") << QByteArray(R"({"title":true,"brief":"B"})") << true << "true"
                                   << "B" << false;
    QTest::newRow("rich text") << QByteArray(R"({"title":"<b>Big</b> news","brief":"B"})") << true
                               << "Big news"
                               << "B" << false;
    QTest::newRow("address with quotes and markup")
        << QByteArray(R"({"title":"T","brief":"B","jmpUrl":"http://a.example/?q=\"><i>x</i>"})")
        << true << "T"
        << "B" << true;
    // Whoever opens a FIFO to read it waits for a writer: the popup must not even try.
    static const QTemporaryDir scratch;
    const QByteArray fifo = QFile::encodeName(scratch.path() + QStringLiteral("/fifo"));
    QVERIFY(::mkfifo(fifo.constData(), 0600) == 0 || errno == EEXIST);
    QTest::newRow("image from a file")
        << R"({"title":"<img src=\")" + fifo + R"(\">T","brief":"B"})" << false << ""
        << "" << false;
    QTest::newRow("style sheet from a file")
        << R"({"title":"T","brief":"<style>@import url()" + fifo + R"();</style>B"})" << false << ""
        << "" << false;
    QTest::newRow("image of the program's own")
        << QByteArray(R"({"title":"<img src=\":/Veltro/Images/logo.png\">T","brief":"B"})") << true
        << QString(QChar::ObjectReplacementCharacter) + "T"
        << "B" << false;
    const QByteArray table = "<table><tr><td>B</td></tr></table>";
    QTest::newRow("table") << R"({"title":"T","brief":")" + table + "\"}" << true << "T"
                           << "\nB\n"
                           << false;
    QTest::newRow("table in a table")
        << R"({"title":"T","brief":"<table><tr><td>)" + table + "</td></tr></table>\"}" << false
        << ""
        << "" << false;
    QTest::newRow("brief of 400 characters")
        << R"({"title":"T","brief":")" + QByteArray(400, 'b') + "\"}" << true << "T"
        << QString(400, 'b') << false;
    QTest::newRow("brief of 401 characters")
        << R"({"title":"T","brief":")" + QByteArray(401, 'b') + "\"}" << false << ""
        << "" << false;
    QTest::newRow("title only") << QByteArray(R"({"title":"T"})") << false << ""
                                << "" << false;
    QTest::newRow("brief only") << QByteArray(R"({"brief":"B"})") << false << ""
                                << "" << false;
    QTest::newRow("empty title") << QByteArray(R"({"title":"","brief":"B"})") << false << ""
                                 << "" << false;
    QTest::newRow("number as brief")
        << QByteArray(R"({"title":"T","brief":7,"jmpUrl":"http://a.example/"})") << false << ""
        << "" << false;
    QTest::newRow("array") << QByteArray(R"([{"title":"T","brief":"B"}])") << false << ""
                           << "" << false;
    QTest::newRow("text") << QByteArray(R"("T")") << false << ""
                          << "" << false;
    QTest::newRow("null") << QByteArray("null") << false << ""
                          << "" << false;
}

void TestPopup::content()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, shown);
    QFETCH(QString, title);
    QFETCH(QString, brief);
    QFETCH(bool, detail);

    Json::Value content;
    QVERIFY(StrictJson::parse(json, content));
    const QPointer<VeltroWidgetBase> popup = new VeltroWidgetBase(signedOut);
    popup->setContent(content);
    QCOMPARE(popup->showPopup(), shown);
    if (!shown) {
        QVERIFY(!popup->isVisible());
        QVERIFY(popup->findChildren<QObject *>().isEmpty());
        return;
    }
    QVERIFY(popup->isVisible());
    const QStringList texts = labelTexts(popup);
    QVERIFY2(texts.contains(title), qPrintable(texts.join(QLatin1Char('|'))));
    QVERIFY2(texts.contains(brief), qPrintable(texts.join(QLatin1Char('|'))));
    QCOMPARE(labelNamed(popup, QStringLiteral("Detail")) != nullptr, detail);
    QCOMPARE(showsAnyLink(popup), detail);
}

void TestPopup::follow_data()
{
    QTest::addColumn<QString>("jmpUrl");
    QTest::addColumn<Gesture>("gesture");
    QTest::addColumn<QList<QUrl>>("opened");

    const QString news = QStringLiteral("http://a.example/news?id=7");
    const QList<QUrl> newsPage{QUrl(news)};
    const QList<QUrl> nothing;
    const QList<QUrl> userPage{QUrl(Base + QStringLiteral("/user/index"))};
    const auto given = [](const char *address) { return QList<QUrl>{QUrl(address)}; };

    QTest::newRow("press on the title") << news << Gesture::PressTitle << newsPage;
    QTest::newRow("press on the brief") << news << Gesture::PressBrief << newsPage;
    QTest::newRow("right press on the body") << news << Gesture::RightPressBody << newsPage;
    QTest::newRow("click on the brief's text") << news << Gesture::ClickBriefText << newsPage;
    QTest::newRow("detail") << news << Gesture::ClickDetail << newsPage;
    QTest::newRow("detail, query with an entity name")
        << "http://a.example/list?page=2&copy;=1" << Gesture::ClickDetail
        << given("http://a.example/list?page=2&copy;=1");
    QTest::newRow("detail, quotes and markup")
        << "http://a.example/find?q=\"><b>x</b>" << Gesture::ClickDetail
        << given("http://a.example/find?q=\"><b>x</b>");
    QTest::newRow("https") << "https://a.example/" << Gesture::PressBrief
                           << given("https://a.example/");
    QTest::newRow("file") << "file:///etc/passwd" << Gesture::PressTitle << nothing;
    QTest::newRow("file, detail") << "file:///etc/passwd" << Gesture::ClickDetail << nothing;
    QTest::newRow("javascript") << "javascript:alert(1)" << Gesture::ClickDetail << nothing;
    QTest::newRow("smb") << "smb://host/share" << Gesture::PressBrief << nothing;
    QTest::newRow("data") << "data:text/html,<b>x</b>" << Gesture::PressTitle << nothing;
    QTest::newRow("custom scheme") << "lumaview://open?file=x" << Gesture::ClickDetail << nothing;
    QTest::newRow("no address") << "" << Gesture::PressBrief << nothing;
    QTest::newRow("user page on another host")
        << "http://elsewhere.example/user/index" << Gesture::PressTitle << userPage;
    QTest::newRow("user page, detail") << Base + "/user/index" << Gesture::ClickDetail << userPage;
    QTest::newRow("user page in upper case")
        << "http://elsewhere.example/USER/INDEX" << Gesture::PressTitle
        << given("http://elsewhere.example/USER/INDEX");
    QTest::newRow("user page with a trailing slash")
        << "http://elsewhere.example/user/index/" << Gesture::ClickDetail
        << given("http://elsewhere.example/user/index/");
    QTest::newRow("close button") << news << Gesture::ClickClose << nothing;
}

void TestPopup::follow()
{
    QFETCH(QString, jmpUrl);
    QFETCH(Gesture, gesture);
    QFETCH(QList<QUrl>, opened);

    const QPointer<VeltroWidgetBase> popup = showPopup<VeltroWidgetBase>(
        signedOut, message(QStringLiteral("Title"), QStringLiteral("Brief"), jmpUrl));
    QVERIFY(popup);

    // The popup is the program's only window: every way of leaving it ends the program.
    bool performed = false;
    QTimer::singleShot(0, popup, [&] { performed = perform(popup, gesture); });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    giveUp.start(60000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(performed);
    QCOMPARE(browser.opened, opened);
    QTRY_VERIFY(popup.isNull());
}

void TestPopup::updateNotice_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<Gesture>("gesture");

    const QByteArray own = R"({"title":"T","brief":"B","jmpUrl":"http://a.example/own"})";
    QTest::newRow("message of its own, press") << own << Gesture::PressBrief;
    QTest::newRow("message of its own, detail") << own << Gesture::ClickDetail;
    QTest::newRow("array") << QByteArray("[1,2]") << Gesture::PressTitle;
    QTest::newRow("null") << QByteArray("null") << Gesture::ClickDetail;
}

void TestPopup::updateNotice()
{
    QFETCH(QByteArray, json);
    QFETCH(Gesture, gesture);

    Json::Value content;
    QVERIFY(StrictJson::parse(json, content));
    const QPointer<VeltroWidgetBase> popup = showPopup<VeltroDefault>(signedOut, content);
    QVERIFY(popup);
    const QStringList texts = labelTexts(popup);
    QVERIFY(texts.contains(QStringLiteral("You got a message")));
    QVERIFY(
        texts.contains(QStringLiteral("Please update to the newest version to read this message")));
    QVERIFY(perform(popup, gesture));
    QCOMPARE(browser.opened, QList<QUrl>{QUrl(Base + QStringLiteral("/"))});
    QTRY_VERIFY(popup.isNull());
}

void TestPopup::dragging_data()
{
    QTest::addColumn<QPoint>("pressAt");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<bool>("moves");

    QTest::newRow("left, title bar") << QPoint(100, 15) << Qt::LeftButton << true;
    QTest::newRow("left, title bar beside the logo") << QPoint(4, 4) << Qt::LeftButton << true;
    QTest::newRow("left, bottom line") << QPoint(150, 185) << Qt::LeftButton << true;
    QTest::newRow("right, title bar") << QPoint(100, 15) << Qt::RightButton << false;
    QTest::newRow("middle, title bar") << QPoint(100, 15) << Qt::MiddleButton << false;
}

void TestPopup::dragging()
{
    QFETCH(QPoint, pressAt);
    QFETCH(Qt::MouseButton, button);
    QFETCH(bool, moves);

    const QPointer<VeltroWidgetBase> popup = showPopup<VeltroWidgetBase>(
        signedOut, message(QStringLiteral("T"), QStringLiteral("B"), QString()));
    QVERIFY(popup);
    QVERIFY(slidIn(popup));

    const QPoint start = popup->pos();
    const QPoint offset(-120, -70);
    QWidget *target = widgetAt(popup, pressAt);
    const QPoint pointer = popup->mapToGlobal(pressAt);
    QTest::mousePress(target, button, {}, target->mapFromGlobal(pointer));
    QTest::mouseMove(target, target->mapFromGlobal(pointer + offset / 2));
    QTest::mouseMove(target, target->mapFromGlobal(pointer + offset));
    QTest::mouseRelease(target, button, {}, target->mapFromGlobal(pointer + offset));
    const QPoint dropped = moves ? start + offset : start;
    QCOMPARE(popup->pos(), dropped);

    // Once released, the popup stays put when the pointer moves with another button held.
    const QPoint later = popup->mapToGlobal(pressAt);
    QTest::mousePress(target, Qt::RightButton, {}, target->mapFromGlobal(later));
    QTest::mouseMove(target, target->mapFromGlobal(later + QPoint(40, 30)));
    QTest::mouseRelease(target, Qt::RightButton, {}, target->mapFromGlobal(later + QPoint(40, 30)));
    QCOMPARE(popup->pos(), dropped);
    QVERIFY(popup->isVisible());
    QVERIFY(browser.opened.isEmpty());
}

void TestPopup::couponSignedOut_data()
{
    QTest::addColumn<QString>("jmpUrl");
    QTest::addColumn<Gesture>("gesture");
    QTest::addColumn<QString>("path");

    const QString couponPage = QStringLiteral("/mycenter/getCouponInfo");
    const QString userPage = QStringLiteral("/user/index");
    QTest::newRow("view my coupon") << Base + userPage << Gesture::ClickCoupon << couponPage;
    QTest::newRow("view my coupon, no address") << "" << Gesture::ClickCoupon << couponPage;
    QTest::newRow("press, user page") << Base + userPage << Gesture::PressBrief << userPage;
    QTest::newRow("press, coupon page") << Base + couponPage << Gesture::PressTitle << couponPage;
    QTest::newRow("right press, no address") << "" << Gesture::RightPressBody << userPage;
    QTest::newRow("press, coupon page in other case")
        << Base + "/MyCenter/getCouponInfo" << Gesture::PressTitle << userPage;
    QTest::newRow("press, coupon page with a trailing slash")
        << Base + couponPage + "/" << Gesture::PressBrief << userPage;
    QTest::newRow("press, coupon page on another host")
        << "http://elsewhere.example" + couponPage << Gesture::PressTitle << userPage;
    QTest::newRow("press, foreign address")
        << "https://elsewhere.example/promo" << Gesture::PressBrief << userPage;
}

void TestPopup::couponSignedOut()
{
    QFETCH(QString, jmpUrl);
    QFETCH(Gesture, gesture);
    QFETCH(QString, path);

    const QPointer<VeltroWidgetBase> popup = showPopup<VeltroCouponMsg>(
        signedOut,
        message(QStringLiteral("Coupon will expire!"),
                QStringLiteral("Your <b>coupon</b> ends today.<br><a href=\"#\">Use it</a>"),
                jmpUrl));
    QVERIFY(popup);
    QVERIFY(perform(popup, gesture));
    QCOMPARE(browser.opened, QList<QUrl>{QUrl(Base + path)});
    QTRY_VERIFY(popup.isNull());
}

void TestPopup::signedIn_data()
{
    QTest::addColumn<bool>("coupon");
    QTest::addColumn<QString>("jmpPath");
    QTest::addColumn<Gesture>("gesture");
    QTest::addColumn<QString>("skipUrl");

    QTest::newRow("coupon, view my coupon")
        << true << "/user/index" << Gesture::ClickCoupon << "/mycenter/getCouponInfo";
    QTest::newRow("coupon, press") << true << "/user/index" << Gesture::PressBrief << "/user/index";
    QTest::newRow("message, user page")
        << false << "/user/index" << Gesture::ClickDetail << "/user/index";
}

void TestPopup::signedIn()
{
    QFETCH(bool, coupon);
    QFETCH(QString, jmpPath);
    QFETCH(Gesture, gesture);
    QFETCH(QString, skipUrl);

    ScriptedHttpServer server;
    QVERIFY(server.listen());
    server.setReply(SessionPath, ScriptedReply::json(R"({"code":"0","tempSession":"t-7"})"));
    home.signIn(QStringLiteral("42"), QStringLiteral("ann"));
    UserContext user{Endpoints(server.baseUrl())};
    user.loadSession();

    const Json::Value content =
        message(QStringLiteral("Title"), QStringLiteral("Brief"), server.baseUrl() + jmpPath);
    const QPointer<VeltroWidgetBase> popup = coupon ? showPopup<VeltroCouponMsg>(user, content)
                                                    : showPopup<VeltroWidgetBase>(user, content);
    QVERIFY(popup);
    QVERIFY(perform(popup, gesture));
    QCOMPARE(server.requestsTo(SessionPath).size(), 1);
    QCOMPARE(browser.opened,
             QList<QUrl>{QUrl(server.baseUrl() + "/user/skip?tempSession=t-7&skipUrl=" + skipUrl)});
    QTRY_VERIFY(popup.isNull());
}

void TestPopup::factory_data()
{
    QTest::addColumn<bool>("coupon");
    QTest::addColumn<uint>("type");
    QTest::addColumn<QByteArray>("className");

    QTest::newRow("plain message") << false << 1u << QByteArray("VeltroWidgetBase");
    QTest::newRow("web page") << false << 2u << QByteArray("WebPopupProcess");
    QTest::newRow("type 0") << false << 0u << QByteArray("VeltroDefault");
    QTest::newRow("type 3") << false << 3u << QByteArray("VeltroDefault");
    QTest::newRow("largest type") << false << 0xffffffffu << QByteArray("VeltroDefault");
    QTest::newRow("coupon") << true << 0u << QByteArray("VeltroCouponMsg");
}

void TestPopup::factory()
{
    QFETCH(bool, coupon);
    QFETCH(uint, type);
    QFETCH(QByteArray, className);

    WindowPopupFactory factory(signedOut);
    const std::unique_ptr<VeltroBase> popup =
        coupon ? factory.createCouponPopup() : factory.createPopup(type);
    const auto *object = dynamic_cast<const QObject *>(popup.get());
    QVERIFY(object);
    QCOMPARE(QByteArray(object->metaObject()->className()), className);
    // Windows delete themselves; the manager keeps the web page's helper until the end.
    const auto *window = qobject_cast<const QWidget *>(object);
    QCOMPARE(popup->keepByManager(), !window);
    QVERIFY(!window || !window->parentWidget());
}

void TestPopup::webPageHelper_data()
{
    QTest::addColumn<QString>("helper");
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("shown");

    const auto script = [this](const char *name, const QByteArray &body) {
        QFile file(home.path() + QLatin1Char('/') + QLatin1String(name));
        if (file.open(QIODevice::WriteOnly))
            file.write("#!/bin/sh\n" + body + "\n");
        file.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        return file.fileName();
    };
    const QString real = QStringLiteral(VELTRO_WEBPOPUP_EXE);
    QTest::newRow("missing") << home.path() + QStringLiteral("/no-helper") << "/page" << false;
    QTest::newRow("ends before it reports") << "/bin/true"
                                            << "/page" << false;
    QTest::newRow("crashes before it reports")
        << script("crashing", "kill -SEGV $$") << "/page" << false;
    QTest::newRow("reports nonsense") << script("talking", "echo shown.") << "/page" << false;
    QTest::newRow("page loaded") << real << "/page" << true;
    QTest::newRow("page missing") << real << "/missing" << false;
}

void TestPopup::webPageHelper()
{
    QFETCH(QString, helper);
    QFETCH(QString, page);
    QFETCH(bool, shown);

    ScriptedHttpServer server;
    QVERIFY(server.listen());
    ScriptedReply html;
    html.headers = {{"Content-Type", "text/html"}};
    html.body = "<html><body>Lumaview 2027</body></html>";
    server.setReply(QStringLiteral("/page"), html);
    html.status = 404;
    server.setReply(QStringLiteral("/missing"), html);

    // The page takes the place of the texts: a brief too long for a label keeps nothing away.
    Json::Value content = message(QStringLiteral("T"), QString(1000, QLatin1Char('b')), QString());
    content["contentUrl"] = (server.baseUrl() + page).toStdString();
    WebPopupProcess popup(signedOut, helper);
    popup.setContent(content);
    QCOMPARE(popup.showPopup(), shown);
    QCOMPARE(server.requestsTo(page).isEmpty(), helper != QLatin1String(VELTRO_WEBPOPUP_EXE));
}

void TestPopup::artwork_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("nearEdge");
    QTest::addColumn<bool>("opaqueNearEdge");

    QTest::newRow("logo") << ":/Veltro/Images/logo.png" << QSize(58, 58) << QPoint(4, 29) << true;
    QTest::newRow("close") << ":/Veltro/Images/close.png" << QSize(30, 30) << QPoint(4, 15)
                           << false;
    QTest::newRow("close, hovered")
        << ":/Veltro/Images/close_hover.png" << QSize(30, 30) << QPoint(4, 15) << true;
}

void TestPopup::artwork()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(QPoint, nearEdge);
    QFETCH(bool, opaqueNearEdge);

    const QImage image(path);
    QCOMPARE(image.size(), size);
    QVERIFY(image.hasAlphaChannel());
    // Every image is rounded or free-standing, so its corners let the title bar show through.
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(nearEdge)) == 255, opaqueNearEdge);
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(LayoutReportVariable))
        return reportLayout();
    TestPopup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_popup.moc"
