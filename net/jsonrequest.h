#pragma once

#include <json/value.h>

#include <QString>

// How a JsonRequest ended.
enum ReplyStatus {
    ReplyOk = 0,
    ReplyError = 2,
    ReplyTimeout = 3,
    ReplyNotFound = 4,
    ReplyRedirected = 5,
};

// A GET that blocks in a local event loop (user input held back) until the answer has ended,
// the request has failed, nothing has arrived for silenceMs, or totalMs have passed since the
// call. 301 and 302 are followed only to http or https on the first address's host and port,
// or from http to https on that host at any port.
class JsonRequest
{
public:
    explicit JsonRequest(const QString &address);

    // Writes a ReplyStatus through status; the parsed body, or null when there is none.
    Json::Value get(int *status, int silenceMs, int totalMs) const;

    static constexpr int MaxRedirects = 5;

private:
    QString m_address;
};
