#pragma once

#include "popup/veltrowidgetbase.h"

// A web-page message where no helper can show the page (a build without Qt WebEngine, or a helper
// missing from the program's folder): the plain popup with the page's title, brief text and a
// Detail link to the page, so that the message still reaches the user.
class VeltroPageLink : public VeltroWidgetBase
{
    Q_OBJECT

public:
    explicit VeltroPageLink(const UserContext &user, QWidget *parent = nullptr);

    void setContent(const Json::Value &content) override;

protected:
    bool hasContent() override;
};
