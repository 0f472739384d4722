#pragma once

#include "popup/popupfactory.h"

#include <QtGlobal>

class UserContext;

// Makes the real popup windows.
class WindowPopupFactory : public PopupFactory
{
public:
    explicit WindowPopupFactory(const UserContext &user);

    std::unique_ptr<VeltroBase> createPopup(uint type) override;
    std::unique_ptr<VeltroBase> createCouponPopup() override;

private:
    const UserContext &user;
};
