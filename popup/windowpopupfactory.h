#pragma once

#include "popup/popupfactory.h"

#include <QStringList>

class UserContext;

// Makes the real popup windows.
class WindowPopupFactory : public PopupFactory
{
public:
    // helperArguments go to the web page helper.
    explicit WindowPopupFactory(const UserContext &user, const QStringList &helperArguments = {});

    std::unique_ptr<VeltroBase> createPopup(uint type) override;
    std::unique_ptr<VeltroBase> createCouponPopup() override;

private:
    const UserContext &user;
    QStringList helperArguments;
};
