#include "popup/webpopuprequest.h"

#include "net/strictjson.h"
#include "popup/popuplog.h"

#include <json/writer.h>

#include <QUrl>

#include <chrono>
#include <cstdio>
#include <future>
#include <thread>
#include <utility>

namespace {

// The rules by which the program follows the helper's links, as a report names them.
const std::pair<const char *, LinkTarget::Rule> ReportedRules[] = {
    {"web", LinkTarget::Web}, {"message", LinkTarget::Message}};

// The message's own link, as the helper's popup reads it; none when it cannot be read.
QString messageLink(const Json::Value &content)
{
    try {
        return StrictJson::textMember(content, "jmpUrl");
    } catch (const StrictJson::TypeError &) {
        return QString();
    }
}

} // namespace

QByteArray WebPopupRequest::encode(const Json::Value &content)
{
    Json::Value request(Json::objectValue);
    request["content"] = content;
    // On one line a comment of the content would swallow the rest: the helper reads the values
    // alone, as the program read them.
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    writer["commentStyle"] = "None";
    return QByteArray::fromStdString(Json::writeString(writer, request));
}

std::optional<WebPopupRequest> WebPopupRequest::decode(const QByteArray &bytes)
{
    Json::Value request;
    if (!StrictJson::parse(bytes, request) || !request.isObject())
        return std::nullopt;
    try {
        return WebPopupRequest{StrictJson::member(request, "content")};
    } catch (const StrictJson::TypeError &error) {
        qCDebug(lcPopup) << "unusable request:" << error.what();
        return std::nullopt;
    }
}

std::optional<WebPopupRequest> WebPopupRequest::receive(int timeoutMs)
{
    // A blocking read cannot be bounded in time portably; it runs on a thread of its own, left
    // behind when the time is up.
    auto reading = std::make_shared<std::promise<QByteArray>>();
    std::future<QByteArray> input = reading->get_future();
    std::thread([reading] {
        QByteArray bytes;
        char chunk[65536];
        size_t count = 0;
        while (bytes.size() <= MaxRequestBytes &&
               (count = std::fread(chunk, 1, sizeof chunk, stdin)) > 0)
            bytes.append(chunk, qsizetype(count));
        reading->set_value(bytes);
    }).detach();
    if (input.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
        qCDebug(lcPopup) << "no request within" << timeoutMs << "ms";
        return std::nullopt;
    }
    const QByteArray bytes = input.get();
    if (bytes.size() > MaxRequestBytes) {
        qCDebug(lcPopup) << "request larger than" << MaxRequestBytes << "bytes refused";
        return std::nullopt;
    }
    return decode(bytes);
}

QByteArray WebPopupRequest::encodeLink(const QString &link, LinkTarget::Rule rule)
{
    for (const auto &[name, reported] : ReportedRules) {
        if (reported == rule)
            return QByteArray(name) + ' ' + QUrl::toPercentEncoding(link);
    }
    return QByteArray();
}

LinkTarget WebPopupRequest::linkTarget(const QByteArray &line, const Json::Value &content,
                                       const Endpoints &endpoints)
{
    const QByteArray text = line.trimmed();
    const qsizetype space = text.indexOf(' ');
    const QString link = QString::fromUtf8(QByteArray::fromPercentEncoding(text.mid(space + 1)));
    for (const auto &[name, rule] : ReportedRules) {
        if (space <= 0 || text.left(space) != name)
            continue;
        // The helper may say anything: only the message's own link is followed as the message's.
        if (rule == LinkTarget::Message && link != messageLink(content)) {
            qCDebug(lcPopup) << "refused a link reported as the message's own:" << link;
            break;
        }
        return LinkTarget::of(link, rule, endpoints);
    }
    return {LinkTarget::Refused, QString::fromUtf8(text)};
}
