#include "net/strictjson.h"

#include <json/reader.h>

#include <limits>

namespace StrictJson {

bool parse(const QByteArray &bytes, Json::Value &root)
{
    // Some servers on Windows start their files with a UTF-8 byte-order mark: it is no part of
    // the document. One is skipped, no more.
    const qsizetype start = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    const qsizetype end = bytes.indexOf('\0');
    const std::string text(bytes.constData() + start, (end < 0 ? bytes.size() : end) - start);
    root = Json::Value();
    try {
        Json::Reader reader;
        if (reader.parse(text, root, true))
            return true;
    } catch (...) {
        // The reader throws for documents nested beyond its limit: that is no usable answer.
    }
    root = Json::Value();
    return false;
}

const Json::Value &member(const Json::Value &object, const char *key)
{
    if (!object.isNull() && !object.isObject())
        throw TypeError("value is not an object");
    return object[key];
}

std::string asString(const Json::Value &value)
{
    switch (value.type()) {
    case Json::nullValue:
        return std::string();
    case Json::stringValue:
        return value.asString();
    case Json::booleanValue:
        return value.asBool() ? "true" : "false";
    default:
        throw TypeError("value is not convertible to text");
    }
}

QString asText(const Json::Value &value)
{
    const std::string text = asString(value);
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

int asInt(const Json::Value &value)
{
    constexpr double lowest = std::numeric_limits<int>::min();
    constexpr double highest = std::numeric_limits<int>::max();
    switch (value.type()) {
    case Json::nullValue:
        return 0;
    case Json::booleanValue:
        return value.asBool() ? 1 : 0;
    case Json::intValue:
    case Json::uintValue:
        if (!value.isInt())
            throw TypeError("integer out of range");
        return value.asInt();
    case Json::realValue:
        if (!(value.asDouble() >= lowest && value.asDouble() <= highest))
            throw TypeError("real out of integer range");
        return static_cast<int>(value.asDouble());
    default:
        throw TypeError("value is not convertible to an integer");
    }
}

QString textMember(const Json::Value &object, const char *key)
{
    return asText(member(object, key));
}

} // namespace StrictJson
