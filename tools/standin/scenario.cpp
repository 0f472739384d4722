#include "scenario.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStringList>
#include <QtDebug>

#include <cmath>
#include <limits>
#include <stdexcept>

namespace {

const QStringList RouteKeys = {
    "status",    "headers",  "json",    "body",   "bodyBase64", "bodyRepeat",      "raw",
    "rawBase64", "redirect", "delayMs", "silent", "pieceSize",  "pieceIntervalMs", "endless",
};
constexpr int Unbounded = std::numeric_limits<int>::max();
// The keys that give what is sent after the head, or instead of an answer; at most one may be used.
const QStringList ContentKeys = {"json", "body", "bodyBase64", "bodyRepeat", "raw", "rawBase64"};

[[noreturn]] void fail(const QString &why)
{
    throw std::runtime_error(why.toStdString());
}

int integer(const QJsonObject &object, const QString &key, int min, int max)
{
    const QJsonValue value = object.value(key);
    const double number = value.toDouble();
    if (!value.isDouble() || std::floor(number) != number || number < min || number > max)
        fail(QStringLiteral("\"%1\" must be a whole number from %2 to %3")
                 .arg(key)
                 .arg(min)
                 .arg(max));
    return int(number);
}

bool boolean(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (!value.isBool())
        fail(QStringLiteral("\"%1\" must be true or false").arg(key));
    return value.toBool();
}

QString text(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        fail(QStringLiteral("\"%1\" must be a string").arg(key));
    return value.toString();
}

QJsonObject object(const QJsonValue &value, const QString &what)
{
    if (!value.isObject())
        fail(QStringLiteral("%1 must be an object").arg(what));
    return value.toObject();
}

QByteArray base64(const QJsonObject &object, const QString &key)
{
    const auto decoded = QByteArray::fromBase64Encoding(text(object, key).toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        fail(QStringLiteral("\"%1\" is not valid base64").arg(key));
    return *decoded;
}

// QJsonDocument holds only objects and arrays, so any other value is written inside an array
// and the brackets are cut off.
QByteArray compactJson(const QJsonValue &value)
{
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

// The bytes of a body source or of a raw answer.
QByteArray contentOf(const QJsonObject &route, const QString &key)
{
    if (key == "json")
        return compactJson(route.value(key));
    if (key == "body" || key == "raw")
        return text(route, key).toUtf8();
    if (key == "bodyBase64" || key == "rawBase64")
        return base64(route, key);
    const QJsonObject repeat = object(route.value(key), "\"bodyRepeat\"");
    return text(repeat, "text").toUtf8().repeated(integer(repeat, "count", 0, 1 << 30));
}

HttpHeaders headersOf(const QJsonObject &route)
{
    HttpHeaders headers;
    if (!route.contains("headers"))
        return headers;
    const QJsonObject given = object(route.value("headers"), "\"headers\"");
    for (auto it = given.begin(); it != given.end(); ++it) {
        if (!it.value().isString())
            fail(QStringLiteral("header \"%1\" must be a string").arg(it.key()));
        headers.append({it.key().toUtf8(), it.value().toString().toUtf8()});
    }
    return headers;
}

bool hasContentType(const HttpHeaders &headers)
{
    for (const auto &header : headers) {
        if (header.first.compare("Content-Type", Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

ScriptedReply parseRoute(const QJsonObject &route)
{
    QStringList contentKeys;
    for (auto it = route.begin(); it != route.end(); ++it) {
        if (!RouteKeys.contains(it.key()))
            fail(QStringLiteral("unknown key \"%1\"").arg(it.key()));
        if (ContentKeys.contains(it.key()))
            contentKeys.append(it.key());
    }
    if (contentKeys.size() > 1)
        fail(QStringLiteral("only one of %1 may be given").arg(contentKeys.join(", ")));

    ScriptedReply reply;
    reply.headers = headersOf(route);
    if (route.contains("redirect")) {
        reply.status = 302;
        reply.headers.append({"Location", text(route, "redirect").toUtf8()});
    }
    if (route.contains("status"))
        reply.status = integer(route, "status", 100, 599);

    const QString contentKey = contentKeys.value(0);
    if (contentKey.startsWith("raw")) {
        reply.raw = contentOf(route, contentKey);
        if (reply.raw.isEmpty())
            fail(QStringLiteral("\"%1\" must not be empty").arg(contentKey));
    } else if (!contentKey.isEmpty()) {
        reply.body = contentOf(route, contentKey);
    }
    if (contentKey == "json" && !hasContentType(reply.headers))
        reply.headers.append({QByteArray("Content-Type"), QByteArray("application/json")});

    if (route.contains("delayMs"))
        reply.delayMs = integer(route, "delayMs", 0, Unbounded);
    if (route.contains("silent"))
        reply.silent = boolean(route, "silent");
    if (route.contains("pieceSize"))
        reply.pieceSize = integer(route, "pieceSize", 0, Unbounded);
    if (route.contains("pieceIntervalMs"))
        reply.pieceIntervalMs = integer(route, "pieceIntervalMs", 0, Unbounded);
    if (route.contains("endless"))
        reply.endless = boolean(route, "endless");
    return reply;
}

QJsonObject readRoutes(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read: %1").arg(file.errorString()));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError)
        fail(
            QStringLiteral("not JSON: %1 at offset %2").arg(error.errorString()).arg(error.offset));
    if (!document.isObject() || document.object().keys() != QStringList{"routes"})
        fail(QStringLiteral("the whole file must be {\"routes\": {...}}"));
    return object(document.object().value("routes"), "\"routes\"");
}

} // namespace

Scenario::Scenario(const QString &fileName) : m_fileName(fileName) { }

ScriptedReply Scenario::replyFor(const QString &path) const
{
    QString where = QStringLiteral("scenario %1").arg(m_fileName);
    try {
        const QJsonObject routes = readRoutes(m_fileName);
        if (!routes.contains(path)) {
            ScriptedReply notFound;
            notFound.status = 404;
            return notFound;
        }
        where += QStringLiteral(", route \"%1\"").arg(path);
        return parseRoute(object(routes.value(path), "the route"));
    } catch (const std::runtime_error &error) {
        const QString why = where + ": " + QString::fromUtf8(error.what());
        qWarning().noquote() << why;
        ScriptedReply broken;
        broken.status = 500;
        broken.headers = {{"Content-Type", "text/plain; charset=utf-8"}};
        broken.body = why.toUtf8();
        return broken;
    }
}
