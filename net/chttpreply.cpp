#include "net/chttpreply.h"

#include "net/netlog.h"

#include <QTimer>

CHttpReply::CHttpReply(QNetworkReply *reply) : m_reply(reply), m_timer(new QTimer)
{
    // A coarse timer may fire up to 5% early: the service gets the whole stretch of silence.
    m_timer->setTimerType(Qt::PreciseTimer);
}

CHttpReply::~CHttpReply()
{
    delete m_timer;
    m_reply->deleteLater();
}

void CHttpReply::setTimeout(int milliseconds)
{
    m_timeoutMs = milliseconds;
}

void CHttpReply::start()
{
    connect(m_reply, &QNetworkReply::finished, this, &CHttpReply::replyfinish);
    connect(m_reply, &QNetworkReply::errorOccurred, this, &CHttpReply::replyerror);
    connect(m_reply, &QNetworkReply::readyRead, this, &CHttpReply::replyreadyread);
    connect(m_timer, &QTimer::timeout, this, &CHttpReply::replytimeout);
    m_timer->start(m_timeoutMs);
}

void CHttpReply::replyfinish()
{
    m_timer->stop();
    const int httpStatus = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (httpStatus == 301 || httpStatus == 302) {
        const QUrl target = m_reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        // An empty target would resolve to this very address and loop.
        if (!target.isEmpty())
            m_redirectUrl = m_reply->url().resolved(target).toString();
        m_status = m_redirectUrl.isEmpty() ? ReplyError : ReplyRedirected;
    } else if (m_reply->error() == QNetworkReply::NoError) {
        m_status = ReplyOk;
    } else {
        m_status =
            m_reply->error() == QNetworkReply::ContentNotFoundError ? ReplyNotFound : ReplyError;
    }
    if (m_status != ReplyOk)
        qCDebug(lcNet) << "request ended with status" << m_status << m_reply->url().toString();
    emit done();
}

void CHttpReply::replyerror(QNetworkReply::NetworkError err)
{
    m_timer->stop();
    m_status = err == QNetworkReply::ContentNotFoundError ? ReplyNotFound : ReplyError;
    qCDebug(lcNet) << "request failed:" << err << m_reply->errorString();
    emit done();
}

void CHttpReply::replyreadyread()
{
    m_timer->stop();
    if (!m_body.read(m_reply)) {
        // Nothing more from this reply may change the outcome.
        disconnect(m_reply, nullptr, this, nullptr);
        m_status = ReplyError;
        emit done();
        return;
    }
    m_timer->start(m_timeoutMs);
}

void CHttpReply::replytimeout()
{
    qCDebug(lcNet) << "no data for" << m_timeoutMs << "ms from" << m_reply->url().toString();
    emit done();
}
