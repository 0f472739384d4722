#pragma once

#include "popup/veltrowidgetbase.h"

#include <QEventLoop>
#include <QString>
#include <QUrl>

class QWebEngineView;

// The popup for a web page message: the page at the message's contentUrl fills the body. The
// popup appears only once the page has loaded, and a link the user clicks in the page opens in the
// user's browser instead. Title and brief are not shown but must be there, as for every message.
class VeltroWebContent : public VeltroWidgetBase
{
    Q_OBJECT

public:
    explicit VeltroWebContent(const UserContext &user, QWidget *parent = nullptr);

    void setContent(const Json::Value &content) override;

protected:
    bool popUp() override;
    void createBody() override;
    bool hasContent() override;

    QString contentUrl;
    QWebEngineView *webView = nullptr;
    bool loadFinished = false;
    bool loadOk = false;

protected slots:
    void onWebLinkClick(QUrl url);
    void onLoadFineshed(bool ok);

private:
    // Runs while popUp waits for the page.
    QEventLoop pageWait;
};
