#pragma once

#include <json/value.h>

#include <QByteArray>
#include <QString>

#include <stdexcept>
#include <string>

// The service's answers are read with the conversions the service contract was written against:
// comments are allowed, any value may stand at the top level, a number is never text and a text
// is never a number. A read that does not fit throws TypeError; every caller reads an answer
// inside one handler and takes the throw as an unusable answer.
namespace StrictJson {

class TypeError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Parses the text before the first zero byte, after one leading UTF-8 byte-order mark. False (and
// a null root) when it is no JSON, including documents too deeply nested for the parser.
bool parse(const QByteArray &bytes, Json::Value &root);

// A member of an object. Null has only null members; any other kind of value throws.
const Json::Value &member(const Json::Value &object, const char *key);

// Null gives "", a boolean "true" or "false"; a number, array or object throws.
std::string asString(const Json::Value &value);

// asString decoded from UTF-8.
QString asText(const Json::Value &value);

// Null gives 0, a boolean 1 or 0, a real within the int range is cut toward zero;
// a text, array, object or a number outside the int range throws.
int asInt(const Json::Value &value);

// asText of a member.
QString textMember(const Json::Value &object, const char *key);

} // namespace StrictJson
