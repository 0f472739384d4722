#include "popup/webpopuprequest.h"

#include "app/usercontext.h"
#include "net/answerbody.h"
#include "net/strictjson.h"
#include "popup/popuplog.h"

#include <json/writer.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <thread>

QByteArray WebPopupRequest::encode(const UserContext &user, const Json::Value &content)
{
    Json::Value request(Json::objectValue);
    request["service"] = user.endpoints().base().toStdString();
    request["userId"] = user.userId().toStdString();
    request["userName"] = user.userName().toStdString();
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
        return WebPopupRequest{Endpoints(StrictJson::textMember(request, "service")),
                               StrictJson::textMember(request, "userId"),
                               StrictJson::textMember(request, "userName"),
                               StrictJson::member(request, "content")};
    } catch (const StrictJson::TypeError &error) {
        qCDebug(lcPopup) << "unusable request:" << error.what();
        return std::nullopt;
    }
}

std::optional<WebPopupRequest> WebPopupRequest::receive(int timeoutMs)
{
    // Content and user fit in twice the largest answer the service may send.
    constexpr qint64 MaxRequestBytes = 2 * MaxAnswerBytes;
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
