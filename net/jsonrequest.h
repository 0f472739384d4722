#pragma once

#include <json/value.h>

#include <QString>

// A GET that blocks in a local event loop (user input held back) until the answer has ended,
// the request has failed, or nothing has arrived for the given time. 301 and 302 are followed.
class JsonRequest
{
public:
    explicit JsonRequest(const QString &address);

    // Writes a ReplyStatus through status; the parsed body, or null when there is none.
    Json::Value get(int *status, int timeoutMs) const;

    static constexpr int MaxRedirects = 5;

private:
    Json::Value get(int *status, int timeoutMs, int redirectsLeft) const;

    QString m_address;
};
