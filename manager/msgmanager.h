#pragma once

#include "net/polledget.h"

#include <json/value.h>

#include <QDate>
#include <QObject>
#include <QString>

#include <functional>
#include <limits>
#include <memory>
#include <optional>

class BusyCheck;
class PopupFactory;
class QSettings;
class UserContext;
class VeltroBase;

// Decides once per start whether the user sees a popup: the current message, or else a coupon
// due for the signed-in user, within a daily budget kept in the store; nothing while the user is
// busy.
class MsgManager : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDate()>;
    // The body of a successful GET of address; nothing on any network failure.
    using Fetch = std::function<std::optional<QByteArray>(const QString &address)>;

    // "LastId" before any message was shown.
    static constexpr quint32 NoMessage = std::numeric_limits<quint32>::max();

    MsgManager(
        std::unique_ptr<QSettings> settings, const UserContext &user, PopupFactory &popups,
        const BusyCheck &busy, Clock today = &QDate::currentDate,
        Fetch fetch = [](const QString &address) { return PolledGet::fetch(address); },
        QObject *parent = nullptr);
    ~MsgManager() override;

    // True when a popup is now showing and the event loop must run.
    bool run();

signals:
    // The start's next step, which may wait: for the watchdog's diagnostics.
    void stepStarted(const char *step);

private:
    void loadState();
    bool checkMessage();
    bool checkCoupon();
    // Whether a coupon answer calls for a popup; fills content with its record when it does.
    bool evaluateCoupon(const QByteArray &answer, Json::Value &content);
    bool show(std::unique_ptr<VeltroBase> popup, const Json::Value &content);
    void store(const QString &key, const QVariant &value);

    std::unique_ptr<QSettings> settings;
    const UserContext &user;
    PopupFactory &popups;
    const BusyCheck &busy;
    Clock today;
    Fetch fetch;
    QDate date;
    quint32 availableTimes = 0;
    quint32 lastId = NoMessage;
    QString couponId;
    bool couponChecked = false;
    std::unique_ptr<VeltroBase> popup;
};
