#include "manager/couponoffer.h"

#include "manager/managerlog.h"
#include "net/strictjson.h"

#include <QDateTime>

namespace {

// An id is kept in the user's settings until the next coupon; a longer one is no real coupon's.
constexpr int MaxCouponIdBytes = 256;

QDateTime serviceTime(const QString &text)
{
    return QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

struct Answer
{
    QString id;
    QString couponMoney;
    QString thresholdMoney;
    QDateTime endDate;
    QDateTime vipEndDate;
    QDateTime stime;
};

std::optional<Answer> readAnswer(const QByteArray &bytes)
{
    Json::Value root;
    if (!StrictJson::parse(bytes, root)) {
        qCDebug(lcManager) << "coupon answer is no JSON";
        return std::nullopt;
    }
    Answer answer;
    QString endDate;
    QString vipEndDate;
    QString stime;
    try {
        const QString code = StrictJson::textMember(root, "code");
        if (code != QLatin1String("0")) {
            qCDebug(lcManager) << "no coupon: code" << code;
            return std::nullopt;
        }
        const Json::Value &coupon = StrictJson::member(root, "coupon");
        answer.id = StrictJson::textMember(coupon, "id");
        StrictJson::textMember(coupon, "couponName");
        answer.couponMoney = StrictJson::textMember(coupon, "couponMoney");
        answer.thresholdMoney = StrictJson::textMember(coupon, "thresholdMoney");
        endDate = StrictJson::textMember(coupon, "endDate");
        vipEndDate = StrictJson::textMember(root, "vipEndDate");
        stime = StrictJson::textMember(root, "stime");
    } catch (const StrictJson::TypeError &error) {
        qCDebug(lcManager) << "coupon answer unreadable:" << error.what();
        return std::nullopt;
    }
    if (answer.id.toUtf8().size() > MaxCouponIdBytes) {
        qCDebug(lcManager) << "no coupon: its id is over" << MaxCouponIdBytes << "bytes";
        return std::nullopt;
    }
    answer.endDate = serviceTime(endDate);
    answer.vipEndDate = serviceTime(vipEndDate);
    answer.stime = serviceTime(stime);
    // Every decision below compares these three; without them there is nothing to decide.
    if (!answer.endDate.isValid() || !answer.vipEndDate.isValid() || !answer.stime.isValid()) {
        qCDebug(lcManager) << "coupon answer has unreadable times:" << endDate << vipEndDate
                           << stime;
        return std::nullopt;
    }
    return answer;
}

} // namespace

std::optional<CouponOffer> CouponOffer::evaluate(const QByteArray &bytes,
                                                 const QString &storedCouponId,
                                                 const QString &userPage)
{
    const std::optional<Answer> answer = readAnswer(bytes);
    if (!answer)
        return std::nullopt;

    const qint64 vipDays = answer->stime.daysTo(answer->vipEndDate);
    if (vipDays < -8 || vipDays > 8) {
        qCDebug(lcManager) << "no coupon: VIP ends" << vipDays << "days away";
        return std::nullopt;
    }
    // The texts are rich text: the service's amounts go in as values, never as markup.
    const QString couponMoney = answer->couponMoney.toHtmlEscaped();
    const QString thresholdMoney = answer->thresholdMoney.toHtmlEscaped();
    const QString dateFormat = tr("yyyy-MM-dd");
    const QString endDate = answer->endDate.toString(dateFormat);
    const QString couponPhrase = tr("%1 coupon").arg(couponMoney);
    const bool vipEnded = answer->vipEndDate < answer->stime;
    const bool sameCoupon = answer->id == storedCouponId;

    QString vipPhrase;
    if (vipDays == 0)
        vipPhrase = tr("today(%1)").arg(answer->stime.toString(dateFormat));
    else if (vipEnded)
        vipPhrase = tr("%1 days before").arg(qAbs(vipDays));
    else
        vipPhrase = tr("after %1 days").arg(vipDays);

    CouponOffer offer;
    const char *wording = nullptr; // for the diagnostics
    if (!vipEnded) {
        wording = sameCoupon ? "VIP unused" : "VIP new";
        offer.title =
            sameCoupon ? tr("You have unused coupon!") : tr("You have got a %1!").arg(couponPhrase);
        offer.brief = (sameCoupon ? tr("coupon_vip_unused%1%2%3%4") : tr("coupon_vip_new%1%2%3%4"))
                          .arg(vipPhrase, thresholdMoney, couponMoney, endDate);
    } else {
        const qint64 couponDays = answer->stime.daysTo(answer->endDate);
        if (couponDays >= 1) {
            wording = sameCoupon ? "not-VIP not-new" : "not-VIP new";
            offer.title = sameCoupon ? tr("You have unused coupon!")
                                     : tr("You have got a %1!").arg(couponPhrase);
            offer.brief = (sameCoupon ? tr("coupon_not_vip_not_new%1%2%3%4")
                                      : tr("coupon_not_vip_new%1%2%3%4"))
                              .arg(vipPhrase, thresholdMoney, couponMoney, endDate);
        } else if (couponDays == 0 && answer->stime < answer->endDate) {
            wording = "not-VIP last day";
            offer.title = tr("Coupon will expire!");
            offer.brief = tr("coupon_not_vip_last%1%2%3%4")
                              .arg(vipPhrase, couponPhrase, thresholdMoney, couponMoney);
        } else {
            qCDebug(lcManager) << "no coupon: VIP and coupon have both ended";
            return std::nullopt;
        }
    }
    qCDebug(lcManager) << "coupon popup due, worded for" << wording;
    offer.couponId = answer->id;
    offer.jmpUrl = userPage;
    return offer;
}

Json::Value CouponOffer::content() const
{
    Json::Value record(Json::objectValue);
    record["title"] = title.toStdString();
    record["brief"] = brief.toStdString();
    record["jmpUrl"] = jmpUrl.toStdString();
    return record;
}
