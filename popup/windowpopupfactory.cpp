#include "popup/windowpopupfactory.h"

#include "popup/veltrocouponmsg.h"
#include "popup/veltrodefault.h"
#include "popup/veltrowidgetbase.h"
#include "popup/webpopupprocess.h"

WindowPopupFactory::WindowPopupFactory(const UserContext &user) : user(user) { }

std::unique_ptr<VeltroBase> WindowPopupFactory::createPopup(uint type)
{
    switch (type) {
    case 1:
        return std::make_unique<VeltroWidgetBase>(user);
    case 2:
        return std::make_unique<WebPopupProcess>(user);
    default:
        return std::make_unique<VeltroDefault>(user);
    }
}

std::unique_ptr<VeltroBase> WindowPopupFactory::createCouponPopup()
{
    return std::make_unique<VeltroCouponMsg>(user);
}
