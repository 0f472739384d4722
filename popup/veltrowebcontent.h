#pragma once

#include "popup/veltrowidgetbase.h"
#include "session/linktarget.h"

#include <QEventLoop>
#include <QString>
#include <QUrl>

class QWebEngineView;

// The popup for a web page message: the page at the message's contentUrl fills the body. The
// popup appears only once the page has loaded. It opens nothing itself: a link the user clicks,
// in the page or the "Detail" link, is reported through linkChosen and the popup closes. Title and
// brief are not shown but must be there, as for every message.
class VeltroWebContent : public VeltroWidgetBase
{
    Q_OBJECT

public:
    explicit VeltroWebContent(const UserContext &user, QWidget *parent = nullptr);

    void setContent(const Json::Value &content) override;

signals:
    // To be followed by rule: LinkTarget::Web for a link in the page, Message for "Detail".
    void linkChosen(const QString &link, LinkTarget::Rule rule);

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
    void onJumpURL(QString url) override;
    void onLoadFineshed(bool ok);

private:
    // Runs while popUp waits for the page.
    QEventLoop pageWait;
};
