#include "app/usercontext.h"
#include "manager/msgmanager.h"
#include "net/chttpreply.h"
#include "popup/popupfactory.h"
#include "popup/veltrowebcontent.h"
#include "scriptedhttpserver.h"
#include "testhome.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QRandomGenerator>
#include <QSettings>
#include <QTest>
#include <QTimer>

Q_DECLARE_METATYPE(ScriptedReply)

namespace {

const QString MessagePath = QStringLiteral("/message/getMessage");
const QString CouponPath = QStringLiteral("/couponActivity/getTimingCoupon");
const QString SessionPath = QStringLiteral("/user/getTempSession");
const QString PagePath = QStringLiteral("/page.html");

// Peak resident memory of this process so far, in KiB.
qint64 peakMemoryKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

// Counts the popups the manager asks for; none may show for a hostile answer.
class CountingFactory : public PopupFactory
{
public:
    std::unique_ptr<VeltroBase> createPopup(uint) override { return counted(); }
    std::unique_ptr<VeltroBase> createCouponPopup() override { return counted(); }

    int created = 0;

private:
    class Popup : public VeltroBase
    {
    public:
        void setContent(const Json::Value &) override { }
        bool showPopup() override { return true; }
    };

    std::unique_ptr<VeltroBase> counted()
    {
        ++created;
        return std::make_unique<Popup>();
    }
};

ScriptedReply endless()
{
    ScriptedReply reply;
    reply.endless = true;
    reply.pieceSize = 64 * 1024;
    reply.pieceIntervalMs = 1;
    return reply;
}

ScriptedReply drip()
{
    ScriptedReply reply = ScriptedReply::json(QByteArray(64, ' ') + "{}");
    reply.pieceSize = 1;
    reply.pieceIntervalMs = 3000;
    return reply;
}

ScriptedReply raw(const QByteArray &bytes)
{
    ScriptedReply reply;
    reply.raw = bytes;
    return reply;
}

QByteArray noise()
{
    QByteArray bytes(4096, Qt::Uninitialized);
    QRandomGenerator generator(5);
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

QByteArray nested()
{
    return QByteArray(100000, '[') + QByteArray(100000, ']');
}

} // namespace

// Whatever the service sends, every request ends within its bound, with bounded memory, and
// nothing is shown that should not be.
class TestHostileService : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void answer_data();
    void answer();
    void dripOnTheBlockingRequest();

private:
    std::unique_ptr<TestHome> home;
    std::unique_ptr<ScriptedHttpServer> server;
};

void TestHostileService::init()
{
    home = std::make_unique<TestHome>();
    QVERIFY(home->isValid());
    home->activate();
    home->signIn(QStringLiteral("42"), QStringLiteral("ann"));
    server = std::make_unique<ScriptedHttpServer>();
    QVERIFY(server->listen());
}

void TestHostileService::cleanup()
{
    server.reset();
    home.reset();
}

void TestHostileService::answer_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<ScriptedReply>("reply");
    QTest::addColumn<bool>("pageShown");

    const QList<QPair<const char *, ScriptedReply>> answers = {
        {"10 MiB", ScriptedReply::json("[\"" + QByteArray(10 * 1024 * 1024, 'x') + "\"]")},
        {"endless stream", endless()},
        {"drip", drip()},
        {"random bytes", raw(noise())},
        {"cut in the headers", raw("HTTP/1.1 200 OK\r\nContent-Ty")},
        {"redirect loop", ScriptedReply::redirect(302, "/loop")},
        {"deep nesting", ScriptedReply::json(nested())},
        {"huge numbers",
         ScriptedReply::json(R"({"ret":1e999,"code":123456789012345678901234567890,)"
                             R"("body":{"type":"1","id":"99999999999999999999"}})")},
    };
    for (const QString &endpoint : {QStringLiteral("message"), QStringLiteral("coupon"),
                                    QStringLiteral("session"), QStringLiteral("page")}) {
        for (const auto &[name, reply] : answers) {
            const QByteArray answerName(name);
            // The blocking request waits as long as data keeps coming: see below.
            if (endpoint == QLatin1String("session") && answerName == "drip")
                continue;
            // To the web engine a large or odd document is still a page, and so is a 200 whose
            // headers end early; the others never load.
            const bool shown = endpoint == QLatin1String("page") &&
                (answerName == "10 MiB" || answerName == "deep nesting" ||
                 answerName == "huge numbers" || answerName == "cut in the headers");
            QTest::addRow("%s: %s", qPrintable(endpoint), name) << endpoint << reply << shown;
        }
    }
}

void TestHostileService::answer()
{
    QFETCH(QString, endpoint);
    QFETCH(ScriptedReply, reply);
    QFETCH(bool, pageShown);

    const QString path = endpoint == QLatin1String("message") ? MessagePath
        : endpoint == QLatin1String("coupon")                 ? CouponPath
        : endpoint == QLatin1String("session")                ? SessionPath
                                                              : PagePath;
    server->setReply(MessagePath, ScriptedReply::json(R"({"ret":0})"));
    server->setReply(path, reply);
    server->setReply(QStringLiteral("/loop"), reply);
    UserContext user(Endpoints(server->baseUrl()));
    user.loadSession();

    const qint64 peakBefore = peakMemoryKiB();
    QElapsedTimer clock;
    clock.start();
    if (endpoint == QLatin1String("session")) {
        int status = -1;
        QVERIFY(user.requestTempSession(&status).isEmpty());
        QVERIFY(clock.elapsed() < 15000);
    } else if (endpoint == QLatin1String("page")) {
        Json::Value content;
        content["title"] = "t";
        content["brief"] = "b";
        content["contentUrl"] = (server->baseUrl() + PagePath).toStdString();
        QPointer<VeltroWebContent> popup = new VeltroWebContent(user);
        popup->setContent(content);
        QCOMPARE(popup->showPopup(), pageShown);
        if (popup)
            popup->close();
        QTRY_VERIFY(popup.isNull());
        QVERIFY(clock.elapsed() < 20000);
    } else {
        auto settings = std::make_unique<QSettings>(home->storeFile(), QSettings::IniFormat);
        CountingFactory popups;
        MsgManager manager(std::move(settings), user, popups);
        QVERIFY(!manager.run());
        QCOMPARE(popups.created, 0);
        // The polled GET gives up after 15 s; the rest is start-up and a loaded machine.
        QVERIFY(clock.elapsed() < 20000);
    }
    if (endpoint != QLatin1String("page")) {
        const qint64 growthKiB = peakMemoryKiB() - peakBefore;
        QVERIFY2(growthKiB < 32 * 1024, qPrintable(QStringLiteral("%1 KiB").arg(growthKiB)));
    }
}

void TestHostileService::dripOnTheBlockingRequest()
{
    // A byte every 3 s never lets the 4 s silence run out; the wait lasts as long as the drip.
    server->setReply(SessionPath, drip());
    UserContext user(Endpoints(server->baseUrl()));
    user.loadSession();
    QTimer::singleShot(7000, this, [this] { server.reset(); });

    QElapsedTimer clock;
    clock.start();
    int status = -1;
    QVERIFY(user.requestTempSession(&status).isEmpty());
    QVERIFY(clock.elapsed() >= 6000);
    QCOMPARE(status, int(ReplyError));
}

QTEST_MAIN(TestHostileService)
#include "tst_hostileservice.moc"
