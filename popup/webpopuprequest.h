#pragma once

#include "net/endpoints.h"

#include <json/value.h>

#include <QByteArray>
#include <QString>

#include <optional>

class UserContext;

// What the program hands the web-page helper: the message content, and the service and the
// signed-in user that the popup's "Detail" link needs. It travels as one JSON document on the
// helper's standard input, never on its command line, which other local users can read. The
// helper answers with one line on its standard output: Shown or Failed.
class WebPopupRequest
{
public:
    static constexpr char Shown[] = "shown";
    static constexpr char Failed[] = "failed";

    static QByteArray encode(const UserContext &user, const Json::Value &content);
    // Nothing when the bytes are no request.
    static std::optional<WebPopupRequest> decode(const QByteArray &bytes);
    // Reads and decodes the helper's standard input; gives up after timeoutMs or past the size
    // of any answer of the service.
    static std::optional<WebPopupRequest> receive(int timeoutMs);

    Endpoints service;
    QString userId;
    QString userName;
    Json::Value content;
};
