#pragma once

#include <json/value.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <optional>

// The decision on an answer of "/couponActivity/getTimingCoupon": whether a coupon popup is due
// and, if so, its title and text in the user's language.
class CouponOffer
{
    // The texts belong to the message manager's part of the catalogue.
    Q_DECLARE_TR_FUNCTIONS(MsgManager)

public:
    // storedCouponId is the coupon last shown; userPage is the link every coupon popup carries.
    // Nothing when no popup is due or the answer cannot be read.
    static std::optional<CouponOffer>
    evaluate(const QByteArray &answer, const QString &storedCouponId, const QString &userPage);

    // The record a popup is given: "title", "brief" and "jmpUrl".
    Json::Value content() const;

    QString couponId;
    QString title;
    QString brief;
    QString jmpUrl;
};
