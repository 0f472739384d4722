#include "popup/windowpopupfactory.h"

#include "popup/popuplog.h"
#include "popup/veltrocouponmsg.h"
#include "popup/veltrodefault.h"
#include "popup/veltropagelink.h"
#include "popup/veltrowidgetbase.h"
#include "popup/webpopupprocess.h"

#include <QFileInfo>

WindowPopupFactory::WindowPopupFactory(const UserContext &user, const QStringList &helperArguments)
    : user(user), helperArguments(helperArguments)
{
}

std::unique_ptr<VeltroBase> WindowPopupFactory::createPopup(uint type)
{
    switch (type) {
    case 1:
        return std::make_unique<VeltroWidgetBase>(user);
    case 2:
        if (QFileInfo(WebPopupProcess::helperPath()).isExecutable())
            return std::make_unique<WebPopupProcess>(user, WebPopupProcess::helperPath(),
                                                     WebPopupProcess::ReportBoundMs,
                                                     helperArguments);
        qCDebug(lcPopup) << "no web page helper beside the program: the page shows as a link";
        return std::make_unique<VeltroPageLink>(user);
    default:
        return std::make_unique<VeltroDefault>(user);
    }
}

std::unique_ptr<VeltroBase> WindowPopupFactory::createCouponPopup()
{
    return std::make_unique<VeltroCouponMsg>(user);
}
