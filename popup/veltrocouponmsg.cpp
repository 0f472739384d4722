#include "popup/veltrocouponmsg.h"

#include "net/endpoints.h"
#include "session/linktarget.h"
#include "session/usercontext.h"

#include <QLabel>

VeltroCouponMsg::VeltroCouponMsg(const UserContext &user, QWidget *parent)
    : VeltroWidgetBase(user, parent)
{
}

void VeltroCouponMsg::createBottomBar()
{
    addBottomLink(addBottomBar(), Endpoints::couponInfoPath(), tr("View my coupon"))
        ->setAlignment(Qt::AlignRight);
}

void VeltroCouponMsg::onJumpURL(QString url)
{
    user.open(LinkTarget::of(url, LinkTarget::Coupon, user.endpoints()));
    close();
}
