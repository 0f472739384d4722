#include "net/strictjson.h"

#include <json/writer.h>

#include <QTest>

Q_DECLARE_METATYPE(Json::Value)

// The conversions every reader of the service's answers relies on.
class TestStrictJson : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void text_data();
    void text();
    void integer_data();
    void integer();
    void member();
};

void TestStrictJson::parse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QByteArray>("expectedCompact");

    QTest::newRow("object") << QByteArray(R"({"a":1})") << true << QByteArray(R"({"a":1})");
    QTest::newRow("comments") << QByteArray("// note\n{\"a\": /* one */ 1}") << true
                              << QByteArray(R"({"a":1})");
    QTest::newRow("bare number") << QByteArray("42") << true << QByteArray("42");
    QTest::newRow("bare string") << QByteArray("\"x\"") << true << QByteArray("\"x\"");
    QTest::newRow("zero byte ends the text")
        << QByteArray("{\"a\":1}\0garbage", 15) << true << QByteArray(R"({"a":1})");
    QTest::newRow("zero byte inside cuts it")
        << QByteArray("{\"a\"\0:1}", 8) << false << QByteArray("null");
    QTest::newRow("empty") << QByteArray() << false << QByteArray("null");
    QTest::newRow("not JSON") << QByteArray("<html>") << false << QByteArray("null");
    QTest::newRow("trailing comma") << QByteArray("[1,]") << false << QByteArray("null");
    QTest::newRow("deep nesting") << QByteArray(100000, '[') + QByteArray(100000, ']') << false
                                  << QByteArray("null");
}

void TestStrictJson::parse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, parsed);
    QFETCH(QByteArray, expectedCompact);

    Json::Value root(Json::objectValue);
    QCOMPARE(StrictJson::parse(bytes, root), parsed);
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["commentStyle"] = "None";
    QCOMPARE(QByteArray::fromStdString(Json::writeString(builder, root)), expectedCompact);
}

void TestStrictJson::text_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QString>("text");

    QTest::newRow("string") << QByteArray(R"("abc")") << true << QStringLiteral("abc");
    QTest::newRow("utf-8") << QByteArray(R"("优惠券")") << true << QStringLiteral("优惠券");
    QTest::newRow("null") << QByteArray("null") << true << QString();
    QTest::newRow("true") << QByteArray("true") << true << QStringLiteral("true");
    QTest::newRow("false") << QByteArray("false") << true << QStringLiteral("false");
    QTest::newRow("integer") << QByteArray("1") << false << QString();
    QTest::newRow("real") << QByteArray("1.5") << false << QString();
    QTest::newRow("array") << QByteArray("[]") << false << QString();
    QTest::newRow("object") << QByteArray("{}") << false << QString();
}

void TestStrictJson::text()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, readable);
    QFETCH(QString, text);

    Json::Value value;
    QVERIFY(StrictJson::parse(json, value));
    if (readable)
        QCOMPARE(StrictJson::asText(value), text);
    else
        QVERIFY_THROWS_EXCEPTION(StrictJson::TypeError, StrictJson::asText(value));
}

void TestStrictJson::integer_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<int>("number");

    QTest::newRow("one") << QByteArray("1") << true << 1;
    QTest::newRow("negative") << QByteArray("-7") << true << -7;
    QTest::newRow("real 1.0") << QByteArray("1.0") << true << 1;
    QTest::newRow("real 1.5 cut") << QByteArray("1.5") << true << 1;
    QTest::newRow("real -1.5 cut") << QByteArray("-1.5") << true << -1;
    QTest::newRow("true") << QByteArray("true") << true << 1;
    QTest::newRow("false") << QByteArray("false") << true << 0;
    QTest::newRow("null") << QByteArray("null") << true << 0;
    QTest::newRow("int max") << QByteArray("2147483647") << true << 2147483647;
    QTest::newRow("above int") << QByteArray("2147483648") << false << 0;
    QTest::newRow("huge") << QByteArray("123456789012345678901234567890") << false << 0;
    QTest::newRow("huge real") << QByteArray("1e300") << false << 0;
    QTest::newRow("string") << QByteArray(R"("1")") << false << 0;
    QTest::newRow("array") << QByteArray("[1]") << false << 0;
    QTest::newRow("object") << QByteArray("{}") << false << 0;
}

void TestStrictJson::integer()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, readable);
    QFETCH(int, number);

    Json::Value value;
    QVERIFY(StrictJson::parse(json, value));
    if (readable)
        QCOMPARE(StrictJson::asInt(value), number);
    else
        QVERIFY_THROWS_EXCEPTION(StrictJson::TypeError, StrictJson::asInt(value));
}

void TestStrictJson::member()
{
    Json::Value object;
    QVERIFY(StrictJson::parse(R"({"a":"x"})", object));
    QCOMPARE(StrictJson::textMember(object, "a"), QStringLiteral("x"));
    QCOMPARE(StrictJson::textMember(object, "missing"), QString());
    QCOMPARE(StrictJson::textMember(Json::Value(), "a"), QString());

    Json::Value array;
    QVERIFY(StrictJson::parse("[1]", array));
    QVERIFY_THROWS_EXCEPTION(StrictJson::TypeError, StrictJson::member(array, "a"));
    QVERIFY_THROWS_EXCEPTION(StrictJson::TypeError, StrictJson::member(Json::Value(3), "a"));
}

QTEST_APPLESS_MAIN(TestStrictJson)
#include "tst_strictjson.moc"
