#include "preview/previewpopupfactory.h"

#include "preview/previewpopup.h"

PreviewPopupFactory::PreviewPopupFactory(const UserContext &user,
                                         const QStringList &helperArguments)
    : windows(user, helperArguments)
{
}

std::unique_ptr<VeltroBase> PreviewPopupFactory::createPopup(uint type)
{
    return wrap(windows.createPopup(type));
}

std::unique_ptr<VeltroBase> PreviewPopupFactory::createCouponPopup()
{
    return wrap(windows.createCouponPopup());
}

std::unique_ptr<VeltroBase> PreviewPopupFactory::wrap(std::unique_ptr<VeltroBase> real)
{
    auto popup = std::make_unique<PreviewPopup>(std::move(real));
    last = popup.get();
    return popup;
}
