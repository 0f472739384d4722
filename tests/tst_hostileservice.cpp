#include "app/usercontext.h"
#include "popup/veltrowebcontent.h"
#include "scriptedhttpserver.h"
#include "testhome.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QRandomGenerator>
#include <QTest>

Q_DECLARE_METATYPE(ScriptedReply)

namespace {

const QString PagePath = QStringLiteral("/page.html");

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

// Whatever the service sends for a web page, the popup ends within its bound and shows only what
// the web engine takes for a page.
class TestHostileService : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void answer_data();
    void answer();

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
    for (const auto &[name, reply] : answers) {
        // To the web engine a large or odd document is still a page, and so is a 200 whose
        // headers end early; the others never load.
        const QByteArray answerName(name);
        const bool shown = answerName == "10 MiB" || answerName == "deep nesting" ||
            answerName == "huge numbers" || answerName == "cut in the headers";
        QTest::addRow("page: %s", name) << reply << shown;
    }
}

void TestHostileService::answer()
{
    QFETCH(ScriptedReply, reply);
    QFETCH(bool, pageShown);

    server->setReply(PagePath, reply);
    server->setReply(QStringLiteral("/loop"), reply);
    UserContext user(Endpoints(server->baseUrl()));
    user.loadSession();

    QElapsedTimer clock;
    clock.start();
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
}

QTEST_MAIN(TestHostileService)
#include "tst_hostileservice.moc"
