#pragma once

#include "scriptedhttpserver.h"

#include <QString>

// The stand-in service's script, a JSON file:
//   {"routes": {"/path": {route}, ...}}
// A route may hold "status" (default 200), "headers" {name: value}, one body: "json" (any value,
// sent compact, with "Content-Type: application/json" unless the headers name another) or "body"
// (text, sent as UTF-8), and "delayMs" or "silent"; see ScriptedReply for what they do. Unknown
// keys make the file broken, so typos show. The file is read afresh for every request, so a
// script may rewrite it while the service runs.
class Scenario
{
public:
    explicit Scenario(const QString &fileName);

    // 404 for a path the scenario does not list; 500 with the reason as body, also sent to the
    // warning log, when the file is missing or broken.
    ScriptedReply replyFor(const QString &path) const;

private:
    QString m_fileName;
};
