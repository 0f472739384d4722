#pragma once

#include <QByteArray>

#include <optional>

// The usable part of an answer of "/message/getMessage".
class MessageEnvelope
{
public:
    // Nothing when the answer delivers no message or cannot be read: not JSON, "ret" other than
    // 1, a value of the wrong JSON type, or a "type" or "id" that is no decimal number (type 0
    // included).
    static std::optional<MessageEnvelope> read(const QByteArray &answer);

    uint type = 0;
    uint id = 0;
    QByteArray msgData; // JSON text, UTF-8
};
