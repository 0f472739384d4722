#include "net/polledget.h"

#include "net/answerbody.h"
#include "net/netlog.h"
#include "net/servicerequest.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace PolledGet {

std::optional<QByteArray> fetch(const QString &address, int timeoutMs)
{
    QNetworkAccessManager manager;
    QNetworkReply *reply = ServiceRequest::get(manager, QUrl(address));

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    // A coarse timer may fire up to 5% early: the service gets the whole time to answer.
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);

    AnswerBody body;
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        if (!body.read(reply)) {
            reply->disconnect(&loop);
            loop.quit();
        }
    });

    deadline.start(timeoutMs);
    loop.exec();

    if (!body.read(reply))
        return std::nullopt;
    if (!reply->isFinished()) {
        qCDebug(lcNet) << "no answer within" << timeoutMs << "ms:" << address;
        return std::nullopt;
    }
    if (reply->error() != QNetworkReply::NoError) {
        qCDebug(lcNet) << "request failed:" << reply->errorString() << address;
        return std::nullopt;
    }
    return body.bytes();
}

} // namespace PolledGet
