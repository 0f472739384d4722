#pragma once

#include <QByteArray>

class QNetworkReply;

// No answer of the service comes near this size; a larger one is refused rather than buffered.
constexpr qint64 MaxAnswerBytes = 1024 * 1024;

// The body of one answer as it arrives, for every request to the service: past MaxAnswerBytes
// it is dropped and stays refused.
class AnswerBody
{
public:
    // Takes what the reply has brought so far; false once the answer is refused.
    bool read(QNetworkReply *reply);

    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    bool m_refused = false;
};
