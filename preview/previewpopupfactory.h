#pragma once

#include "popup/windowpopupfactory.h"

class PreviewPopup;

// Makes the program's own popups, each wrapped for the preview to read.
class PreviewPopupFactory : public PopupFactory
{
public:
    PreviewPopupFactory(const UserContext &user, const QStringList &helperArguments);

    std::unique_ptr<VeltroBase> createPopup(uint type) override;
    std::unique_ptr<VeltroBase> createCouponPopup() override;

    // The popup that the manager's run showed, while the manager keeps it: of all popups made, it
    // is the last.
    PreviewPopup *shown() const { return last; }

private:
    std::unique_ptr<VeltroBase> wrap(std::unique_ptr<VeltroBase> real);

    WindowPopupFactory windows;
    PreviewPopup *last = nullptr;
};
