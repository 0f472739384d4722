#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The message manager's GET: waits in the event loop without spinning, follows no redirect and
// gives up after TimeoutMs. No value means a network failure (an HTTP error status included).
namespace PolledGet {

constexpr int TimeoutMs = 15000;

std::optional<QByteArray> fetch(const QString &address, int timeoutMs = TimeoutMs);

} // namespace PolledGet
