#pragma once

#include "popup/veltrobase.h"

#include <QtGlobal>

#include <memory>

// Makes the popup that fits a message type, and the coupon popup.
class PopupFactory
{
public:
    virtual ~PopupFactory() = default;

    // type 1: plain message, 2: web page, any other: the update notice.
    virtual std::unique_ptr<VeltroBase> createPopup(uint type) = 0;
    virtual std::unique_ptr<VeltroBase> createCouponPopup() = 0;
};
