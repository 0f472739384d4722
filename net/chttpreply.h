#pragma once

#include <QNetworkReply>
#include <QObject>
#include <QString>

class QBuffer;
class QIODevice;
class QTimer;

enum ReplyStatus {
    ReplyOk = 0,
    ReplyError = 2,
    ReplyTimeout = 3,
    ReplyNotFound = 4,
    ReplyRedirected = 5,
};

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
    QIODevice *buffer() const;

signals:
    void done();

private slots:
    void replyfinish();
    void replyerror(QNetworkReply::NetworkError err);
    void replyreadyread();
    void replytimeout();

private:
    void refuseOversizedAnswer();

    QNetworkReply *m_reply;
    QBuffer *m_buffer = nullptr;
    int m_status = ReplyTimeout;
    QTimer *m_timer;
    int m_timeoutMs = 3000;
    QString m_redirectUrl;
};
