#pragma once

#include "scriptedhttpserver.h"

#include <json/value.h>

// The service's answers as the tests play them.
namespace ServiceAnswers {

// A coupon due: the service's time is 2017-05-01 10:00:00, VIP ends three days later.
inline const QByteArray DueCoupon =
    R"({"code":"0","coupon":{"id":"c1","couponName":"n","couponMoney":"50","thresholdMoney":)"
    R"("300","endDate":"2017-05-31 23:59:59"},"vipEndDate":"2017-05-04 00:00:00",)"
    R"("stime":"2017-05-01 10:00:00"})";

// A message, its content travelling as JSON text inside the envelope.
QByteArray message(const char *type, const char *id,
                   const QByteArray &content = R"({"title":"Hi"})");
QByteArray session(const QByteArray &tempSession);
// Written with ' for " to keep the tables short.
Json::Value fromJson(QByteArray json);
// A JSON body in pieces of pieceSize bytes, intervalMs apart; without a body, an endless one.
ScriptedReply trickle(const QByteArray &body, int pieceSize, int intervalMs);

} // namespace ServiceAnswers
