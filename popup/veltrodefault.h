#pragma once

#include "popup/veltrowidgetbase.h"

// The popup for a message this version cannot show: whatever the message holds, it asks the
// user to update and links to the vendor's home page.
class VeltroDefault : public VeltroWidgetBase
{
    Q_OBJECT

public:
    explicit VeltroDefault(const UserContext &user, QWidget *parent = nullptr);

    void setContent(const Json::Value &content) override;
};
