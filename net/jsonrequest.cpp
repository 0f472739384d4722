#include "net/jsonrequest.h"

#include "net/chttpreply.h"
#include "net/netlog.h"
#include "net/servicerequest.h"
#include "net/strictjson.h"
#include "net/webaddress.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QTimer>

#include <algorithm>

namespace {

// What one request of a redirect chain ended with.
struct Hop
{
    int status = ReplyError;
    QString redirectUrl;
    QByteArray body;
};

Hop fetch(const QUrl &address, int silenceMs, const QDeadlineTimer &deadline)
{
    // A manager of its own per request: no connection, cookie or cache is shared between calls.
    QNetworkAccessManager manager;
    QEventLoop loop;
    CHttpReply watcher(ServiceRequest::get(manager, address));
    watcher.setTimeout(silenceMs);
    watcher.start();
    QObject::connect(&watcher, &CHttpReply::done, &loop, &QEventLoop::quit);
    // Data that keeps trickling in never lets the silence run out; this bounds the whole chain.
    QTimer overall;
    overall.setSingleShot(true);
    overall.setTimerType(Qt::PreciseTimer);
    QObject::connect(&overall, &QTimer::timeout, &loop, &QEventLoop::quit);
    overall.start(int(std::max<qint64>(deadline.remainingTime(), 0)));
    loop.exec(QEventLoop::ExcludeUserInputEvents);

    Hop hop;
    if (!overall.isActive()) {
        qCDebug(lcNet) << "request still unanswered when its time ran out:" << address.toString();
        return hop;
    }
    hop.status = watcher.status();
    hop.redirectUrl = watcher.redirectUrl();
    if (hop.status == ReplyOk)
        hop.body = watcher.body();
    return hop;
}

int portOf(const QUrl &url)
{
    return url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
}

// The service may redirect within itself only: the answer decides which page the browser opens
// signed in, and another host, port or kind of address would put a stranger's value there. A move
// from http to https stays on the host, whatever port TLS is served on.
bool isSameService(const QUrl &origin, const QUrl &target)
{
    const bool toTls =
        origin.scheme() == QLatin1String("http") && target.scheme() == QLatin1String("https");
    return Net::isWebAddress(target) && target.host() == origin.host() &&
        (portOf(target) == portOf(origin) || toTls);
}

} // namespace

JsonRequest::JsonRequest(const QString &address) : m_address(address) { }

Json::Value JsonRequest::get(int *status, int silenceMs, int totalMs) const
{
    const QDeadlineTimer deadline(totalMs, Qt::PreciseTimer);
    const QUrl origin(m_address);
    QUrl address = origin;
    Hop hop = fetch(address, silenceMs, deadline);
    for (int redirects = 0; hop.status == ReplyRedirected; ++redirects) {
        address = QUrl(hop.redirectUrl);
        if (redirects == MaxRedirects || !isSameService(origin, address)) {
            qCDebug(lcNet) << "redirect not followed:" << hop.redirectUrl << "after" << redirects
                           << "hops";
            hop.status = ReplyError;
            break;
        }
        hop = fetch(address, silenceMs, deadline);
    }
    *status = hop.status;
    if (hop.status != ReplyOk || hop.body.isEmpty())
        return Json::Value();
    Json::Value root;
    if (!StrictJson::parse(hop.body, root))
        qCDebug(lcNet) << "answer is no JSON:" << address.toString();
    return root;
}
