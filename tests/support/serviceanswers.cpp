#include "serviceanswers.h"

#include "net/strictjson.h"

#include <json/writer.h>

namespace ServiceAnswers {

QByteArray message(const char *type, const char *id, const QByteArray &content)
{
    return R"({"ret":1,"body":{"type":")" + QByteArray(type) + R"(","id":")" + id +
        R"(","msgData":)" +
        QByteArray::fromStdString(Json::valueToQuotedString(content.constData())) + "}}";
}

QByteArray session(const QByteArray &tempSession)
{
    return R"({"code":"0","tempSession":")" + tempSession + "\"}";
}

Json::Value fromJson(QByteArray json)
{
    Json::Value value;
    StrictJson::parse(json.replace('\'', '"'), value);
    return value;
}

ScriptedReply trickle(const QByteArray &body, int pieceSize, int intervalMs)
{
    ScriptedReply reply = ScriptedReply::json(body);
    reply.pieceSize = pieceSize;
    reply.pieceIntervalMs = intervalMs;
    reply.endless = body.isEmpty();
    return reply;
}

} // namespace ServiceAnswers
