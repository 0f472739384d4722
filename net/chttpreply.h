#pragma once

#include "net/answerbody.h"
#include "net/jsonrequest.h"

#include <QNetworkReply>
#include <QObject>
#include <QString>

class QTimer;

// Watches one reply for JsonRequest: collects its body, notes a 301/302 target and gives up
// after a stretch of silence. done() fires once the outcome is known.
class CHttpReply : public QObject
{
    Q_OBJECT

public:
    explicit CHttpReply(QNetworkReply *reply);
    ~CHttpReply() override;

    void setTimeout(int milliseconds);
    void start();

    int status() const { return m_status; }
    QString redirectUrl() const { return m_redirectUrl; }
    const QByteArray &body() const { return m_body.bytes(); }

signals:
    void done();

private slots:
    void replyfinish();
    void replyerror(QNetworkReply::NetworkError err);
    void replyreadyread();
    void replytimeout();

private:
    QNetworkReply *m_reply;
    AnswerBody m_body;
    int m_status = ReplyTimeout;
    QTimer *m_timer;
    int m_timeoutMs = 3000;
    QString m_redirectUrl;
};
