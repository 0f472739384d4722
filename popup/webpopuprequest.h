#pragma once

#include "net/answerbody.h"
#include "session/linktarget.h"

#include <json/value.h>

#include <QByteArray>
#include <QString>

#include <optional>

class Endpoints;

// What the program hands the web-page helper: the message content. It travels as one JSON
// document on the helper's standard input, never on its command line, which other local users can
// read. The helper answers with one line on its standard output, Shown or Failed, and after Shown
// with one more line when the user chose a link: the program opens it, once it has checked it. On
// Windows a browser that the helper started would belong to the helper's job and die with it.
class WebPopupRequest
{
public:
    // The content fits in twice the largest answer the service may send.
    static constexpr qint64 MaxRequestBytes = 2 * MaxAnswerBytes;

    static constexpr char Shown[] = "shown";
    static constexpr char Failed[] = "failed";
    // A link's line holds a link of the request, percent-encoded, or one as long from its page:
    // no report line of a helper is longer.
    static constexpr qint64 MaxLineBytes = 3 * MaxRequestBytes + 16;

    static QByteArray encode(const Json::Value &content);
    // Nothing when the bytes are no request.
    static std::optional<WebPopupRequest> decode(const QByteArray &bytes);
    // Reads and decodes the helper's standard input; gives up after timeoutMs or past the size
    // of any answer of the service.
    static std::optional<WebPopupRequest> receive(int timeoutMs);

    // The line that reports a link, followed by rule; it holds the link exactly, whatever
    // characters the service put in it.
    static QByteArray encodeLink(const QString &link, LinkTarget::Rule rule);
    // Where a reported link leads: a link in the page must be a web address, the message's link
    // its content's own jmpUrl. Refused when the line reports neither.
    static LinkTarget linkTarget(const QByteArray &line, const Json::Value &content,
                                 const Endpoints &endpoints);

    Json::Value content;
};
