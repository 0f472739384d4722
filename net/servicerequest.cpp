#include "net/servicerequest.h"

#include "net/netlog.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace ServiceRequest {

QNetworkReply *get(QNetworkAccessManager &manager, const QUrl &address)
{
    QNetworkRequest request(address);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    // Qt 6.4 sends these two for AlwaysNetwork as well; set here, they do not hang on that.
    request.setRawHeader("Cache-Control", "no-cache");
    request.setRawHeader("Pragma", "no-cache");
    QNetworkReply *reply = manager.get(request);
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply] {
        qCDebug(lcNet) << "answer: HTTP"
                       << reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt()
                       << "Content-Type"
                       << reply->header(QNetworkRequest::ContentTypeHeader).toString() << "from"
                       << reply->url().toString();
    });
    return reply;
}

} // namespace ServiceRequest
