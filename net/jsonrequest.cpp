#include "net/jsonrequest.h"

#include "app/logging.h"
#include "net/chttpreply.h"
#include "net/strictjson.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

JsonRequest::JsonRequest(const QString &address) : m_address(address) { }

Json::Value JsonRequest::get(int *status, int timeoutMs) const
{
    return get(status, timeoutMs, MaxRedirects);
}

Json::Value JsonRequest::get(int *status, int timeoutMs, int redirectsLeft) const
{
    // A manager of its own per call: no connection, cookie or cache is shared between calls.
    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(m_address)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QEventLoop loop;
    CHttpReply watcher(manager.get(request));
    watcher.setTimeout(timeoutMs);
    watcher.start();
    QObject::connect(&watcher, &CHttpReply::done, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);

    *status = watcher.status();
    if (*status == ReplyRedirected) {
        if (redirectsLeft == 0) {
            qCDebug(lcNet) << "redirect chain longer than" << MaxRedirects << "hops";
            *status = ReplyError;
            return Json::Value();
        }
        return JsonRequest(watcher.redirectUrl()).get(status, 4000, redirectsLeft - 1);
    }
    if (*status != ReplyOk || !watcher.buffer())
        return Json::Value();

    QIODevice *buffer = watcher.buffer();
    if (buffer->isOpen())
        buffer->close();
    buffer->open(QIODevice::ReadOnly);
    Json::Value root;
    if (!StrictJson::parse(buffer->readAll(), root))
        qCDebug(lcNet) << "answer is no JSON:" << m_address;
    return root;
}
