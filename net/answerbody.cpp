#include "net/answerbody.h"

#include "net/netlog.h"

#include <QNetworkReply>

bool AnswerBody::read(QNetworkReply *reply)
{
    if (m_refused)
        return false;
    // One byte past the cap is enough to refuse; the rest is never copied.
    m_bytes += reply->read(MaxAnswerBytes + 1 - m_bytes.size());
    if (m_bytes.size() <= MaxAnswerBytes)
        return true;
    qCDebug(lcNet) << "answer larger than" << MaxAnswerBytes << "bytes refused from"
                   << reply->url().toString();
    m_bytes = QByteArray();
    m_refused = true;
    return false;
}
