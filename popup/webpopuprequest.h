#pragma once

#include "session/linktarget.h"

#include <json/value.h>

#include <QByteArray>
#include <QString>

#include <optional>

class Endpoints;

// What the program hands the web-page helper: the message content. It travels as one JSON
// document on the helper's standard input, never on its command line, which other local users can
// read. The helper answers with one line on its standard output, Shown or Failed, and after Shown
// with one more line when the user chose a link: the program opens it. On Windows a browser that
// the helper started would belong to the helper's job and die with it.
class WebPopupRequest
{
public:
    static constexpr char Shown[] = "shown";
    static constexpr char Failed[] = "failed";

    static QByteArray encode(const Json::Value &content);
    // Nothing when the bytes are no request.
    static std::optional<WebPopupRequest> decode(const QByteArray &bytes);
    // Reads and decodes the helper's standard input; gives up after timeoutMs or past the size
    // of any answer of the service.
    static std::optional<WebPopupRequest> receive(int timeoutMs);

    // The line that reports a link, followed by rule; it holds the link exactly, whatever
    // characters the service put in it.
    static QByteArray encodeLink(const QString &link, LinkTarget::Rule rule);
    // Where a reported link leads; Refused when the line reports none.
    static LinkTarget linkTarget(const QByteArray &line, const Endpoints &endpoints);

    Json::Value content;
};
