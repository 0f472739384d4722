#include "manager/messageenvelope.h"

#include "manager/managerlog.h"
#include "net/strictjson.h"

std::optional<MessageEnvelope> MessageEnvelope::read(const QByteArray &answer)
{
    Json::Value root;
    if (!StrictJson::parse(answer, root)) {
        qCDebug(lcManager) << "message answer is no JSON";
        return std::nullopt;
    }
    QString type;
    QString id;
    MessageEnvelope envelope;
    try {
        if (StrictJson::asInt(StrictJson::member(root, "ret")) == 1) {
            const Json::Value &body = StrictJson::member(root, "body");
            type = StrictJson::textMember(body, "type");
            id = StrictJson::textMember(body, "id");
            const std::string data = StrictJson::asString(StrictJson::member(body, "msgData"));
            envelope.msgData = QByteArray(data.data(), qsizetype(data.size()));
        }
    } catch (const StrictJson::TypeError &error) {
        qCDebug(lcManager) << "message answer unreadable:" << error.what();
        return std::nullopt;
    }
    bool ok = false;
    envelope.type = type.toUInt(&ok, 10);
    if (!ok || envelope.type == 0) {
        qCDebug(lcManager) << "no message to show: type" << type;
        return std::nullopt;
    }
    envelope.id = id.toUInt(&ok, 10);
    if (!ok) {
        qCDebug(lcManager) << "message id is no number:" << id;
        return std::nullopt;
    }
    return envelope;
}
