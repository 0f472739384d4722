#include "popup/veltrocouponmsg.h"

#include "app/usercontext.h"
#include "net/endpoints.h"

#include <QLabel>

VeltroCouponMsg::VeltroCouponMsg(const UserContext &user, QWidget *parent)
    : VeltroWidgetBase(user, parent)
{
}

void VeltroCouponMsg::createBottomBar()
{
    const QString couponPage = user.endpoints().page(Endpoints::couponInfoPath());
    addBottomLink(addBottomBar(), couponPage, tr("View my coupon"))->setAlignment(Qt::AlignRight);
}

void VeltroCouponMsg::onJumpURL(QString url)
{
    // Only the page's own address leads to it; the message's texts may carry any link, and they
    // all lead to the user's page instead of wherever they point.
    const bool couponPage = url == user.endpoints().page(Endpoints::couponInfoPath());
    user.openSignedIn(couponPage ? Endpoints::couponInfoPath() : Endpoints::userIndexPath());
    close();
}
