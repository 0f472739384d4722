#include "scenario.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStringList>
#include <QtDebug>

#include <stdexcept>

namespace {

const QStringList RouteKeys = {"status", "headers", "json", "body", "delayMs", "silent"};

[[noreturn]] void fail(const QString &why)
{
    throw std::runtime_error(why.toStdString());
}

int integer(const QJsonObject &route, const QString &key, int min, int max)
{
    const QJsonValue value = route.value(key);
    if (!value.isDouble() || value.toDouble() != value.toInt() || value.toInt() < min ||
        value.toInt() > max)
        fail(QStringLiteral("\"%1\" must be a whole number from %2 to %3")
                 .arg(key)
                 .arg(min)
                 .arg(max));
    return value.toInt();
}

QJsonObject object(const QJsonValue &value, const QString &what)
{
    if (!value.isObject())
        fail(QStringLiteral("%1 must be an object").arg(what));
    return value.toObject();
}

// QJsonDocument holds only objects and arrays, so any other value is written inside an array
// and the brackets are cut off.
QByteArray compactJson(const QJsonValue &value)
{
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

ScriptedReply parseRoute(const QJsonObject &route)
{
    for (const QString &key : route.keys()) {
        if (!RouteKeys.contains(key))
            fail(QStringLiteral("unknown key \"%1\"").arg(key));
    }
    if (route.contains("json") && route.contains("body"))
        fail(QStringLiteral("only one of \"json\" and \"body\" may be given"));

    ScriptedReply reply;
    const QJsonObject headers =
        route.contains("headers") ? object(route.value("headers"), "\"headers\"") : QJsonObject();
    for (auto it = headers.begin(); it != headers.end(); ++it) {
        if (!it.value().isString())
            fail(QStringLiteral("header \"%1\" must be a string").arg(it.key()));
        reply.headers.append({it.key().toUtf8(), it.value().toString().toUtf8()});
    }
    if (route.contains("status"))
        reply.status = integer(route, "status", 100, 599);
    if (route.contains("json")) {
        reply.body = compactJson(route.value("json"));
        if (!headers.keys().contains("Content-Type", Qt::CaseInsensitive))
            reply.headers.append({QByteArray("Content-Type"), QByteArray("application/json")});
    } else if (route.contains("body")) {
        if (!route.value("body").isString())
            fail(QStringLiteral("\"body\" must be a string"));
        reply.body = route.value("body").toString().toUtf8();
    }
    if (route.contains("delayMs"))
        reply.delayMs = integer(route, "delayMs", 0, 600000);
    if (route.contains("silent")) {
        if (!route.value("silent").isBool())
            fail(QStringLiteral("\"silent\" must be true or false"));
        reply.silent = route.value("silent").toBool();
    }
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
