#include "manager/msgmanager.h"

#include "desktop/busycheck.h"
#include "desktop/platform.h"
#include "manager/couponoffer.h"
#include "manager/managerlog.h"
#include "manager/messageenvelope.h"
#include "net/strictjson.h"
#include "popup/popupfactory.h"
#include "session/usercontext.h"

#include <QSettings>
#include <QUrl>

namespace {

const QString DateFormat = QStringLiteral("yyyy-MM-dd");
constexpr quint32 DailyBudget = 2;

} // namespace

MsgManager::MsgManager(std::unique_ptr<QSettings> settings, const UserContext &user,
                       PopupFactory &popups, const BusyCheck &busy, Clock today, Fetch fetch,
                       QObject *parent)
    : QObject(parent),
      settings(std::move(settings)),
      user(user),
      popups(popups),
      busy(busy),
      today(std::move(today)),
      fetch(std::move(fetch))
{
    loadState();
}

MsgManager::~MsgManager() = default;

void MsgManager::loadState()
{
    date = QDate::fromString(settings->value(QStringLiteral("Date"), QString()).toString(),
                             DateFormat);
    if (!date.isValid()) {
        date = today();
        store(QStringLiteral("Date"), date.toString(DateFormat));
    }
    availableTimes = settings->value(QStringLiteral("AvaTimes"), NoMessage).toUInt();
    if (availableTimes > DailyBudget) {
        availableTimes = DailyBudget;
        store(QStringLiteral("AvaTimes"), availableTimes);
    }
    lastId = settings->value(QStringLiteral("LastId"), NoMessage).toUInt();
    if (lastId == NoMessage)
        store(QStringLiteral("LastId"), lastId);
    const quint32 checked = settings->value(QStringLiteral("CouponChecked"), NoMessage).toUInt();
    couponChecked = checked != NoMessage && checked != 0;
    if (checked == NoMessage)
        store(QStringLiteral("CouponChecked"), 0);
    couponId = settings->value(QStringLiteral("CouponId"), QString()).toString();
    if (couponId.isEmpty())
        store(QStringLiteral("CouponId"), QString());
}

bool MsgManager::run()
{
    const QDate now = today();
    if (now != date) {
        date = now;
        availableTimes = DailyBudget;
        couponChecked = false;
        store(QStringLiteral("AvaTimes"), availableTimes);
        store(QStringLiteral("Date"), date.toString(DateFormat));
        store(QStringLiteral("CouponChecked"), 0);
    }
    if (availableTimes == 0) {
        qCDebug(lcManager) << "daily budget spent: nothing asked until tomorrow";
        return false;
    }
    emit stepStarted("busy check");
    if (busy.userIsBusy()) {
        qCDebug(lcManager) << "the user is busy: nothing asked, the budget kept for a later start";
        return false;
    }
    return checkMessage() || checkCoupon();
}

bool MsgManager::checkMessage()
{
    emit stepStarted("message request");
    const std::optional<QByteArray> answer = fetch(user.endpoints().getMessage());
    if (!answer) {
        qCDebug(lcManager) << "message request failed; the budget is kept";
        return false;
    }
    qCDebug(lcManager) << "message answer arrived";
    --availableTimes;
    store(QStringLiteral("AvaTimes"), availableTimes);

    const std::optional<MessageEnvelope> envelope = MessageEnvelope::read(*answer);
    if (!envelope)
        return false;
    if (envelope->id == lastId) {
        qCDebug(lcManager) << "message" << envelope->id << "was shown already";
        return false;
    }
    Json::Value content;
    if (!StrictJson::parse(envelope->msgData, content)) {
        qCDebug(lcManager) << "message content is no JSON";
        return false;
    }
    emit stepStarted("message popup");
    if (!show(popups.createPopup(envelope->type), content))
        return false;
    lastId = envelope->id;
    store(QStringLiteral("LastId"), lastId);
    return true;
}

bool MsgManager::checkCoupon()
{
    if (couponChecked || user.userId().isEmpty()) {
        qCDebug(lcManager) << "coupon check skipped:"
                           << (couponChecked ? "made today already" : "nobody signed in");
        return false;
    }
    const QString address = user.endpoints().getTimingCoupon() + QStringLiteral("?userId=") +
        QString::fromLatin1(QUrl::toPercentEncoding(user.userId()));
    emit stepStarted("coupon request");
    const std::optional<QByteArray> answer = fetch(address);
    if (!answer) {
        qCDebug(lcManager) << "coupon request failed; asking again at a later start";
        return false;
    }
    // Any answer uses up the day's check, whatever it says.
    couponChecked = true;
    store(QStringLiteral("CouponChecked"), 1);

    Json::Value content;
    if (!evaluateCoupon(*answer, content))
        return false;
    emit stepStarted("coupon popup");
    if (!show(popups.createCouponPopup(), content))
        return false;
    store(QStringLiteral("CouponId"), couponId);
    return true;
}

bool MsgManager::evaluateCoupon(const QByteArray &answer, Json::Value &content)
{
    const std::optional<CouponOffer> offer =
        CouponOffer::evaluate(answer, couponId, user.endpoints().page(Endpoints::userIndexPath()));
    if (!offer)
        return false;
    content = offer->content();
    couponId = offer->couponId;
    return true;
}

bool MsgManager::show(std::unique_ptr<VeltroBase> created, const Json::Value &content)
{
    created->setContent(content);
    if (!created->showPopup()) {
        qCDebug(lcManager) << "the popup refused to show";
        return false;
    }
    if (created->keepByManager())
        popup = std::move(created);
    else
        created.release(); // a window deletes itself when it closes
    return true;
}

void MsgManager::store(const QString &key, const QVariant &value)
{
    settings->setValue(key, value);
    // The process may end right after this write.
    if (Platform::storeNeedsSync(*settings))
        settings->sync();
    if (settings->status() != QSettings::NoError)
        qCDebug(lcManager) << "store not written:" << key << settings->fileName();
}
