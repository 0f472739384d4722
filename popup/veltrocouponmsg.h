#pragma once

#include "popup/veltrowidgetbase.h"

// The popup that tells the signed-in user about a coupon. Every link leads to the user's pages
// on the vendor's site, signed in: the coupon page from "View my coupon", the user's own page
// from anywhere else.
class VeltroCouponMsg : public VeltroWidgetBase
{
    Q_OBJECT

public:
    explicit VeltroCouponMsg(const UserContext &user, QWidget *parent = nullptr);

protected:
    void createBottomBar() override;

protected slots:
    void onJumpURL(QString url) override;
};
