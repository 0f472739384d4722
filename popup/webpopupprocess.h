#pragma once

#include "popup/veltrobase.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

class UserContext;

// The web-page popup as the message manager sees it. The page is shown by a helper program
// beside this one, which alone loads the web engine; this object checks the content, hands it
// over and waits for the helper's report. While the page is up, the program's event loop runs:
// it opens the link the helper reports, signed in where the link leads to the user's pages, and
// ends when the helper has ended and the link is open.
class WebPopupProcess : public QObject, public VeltroBase
{
    Q_OBJECT

public:
    // The helper's own start-up comes on top of the page's 15 s to load.
    static constexpr int ReportBoundMs = 25000;

    explicit WebPopupProcess(const UserContext &user, const QString &helper = helperPath(),
                             int reportBoundMs = ReportBoundMs,
                             const QStringList &helperArguments = {});

    // The helper installed beside this program.
    static QString helperPath();

    void setContent(const Json::Value &content) override;
    bool showPopup() override;

private:
    bool hasContent() const;
    // Whether a whole line of the helper's report, or more than any line holds, has come.
    bool reportLineDone();
    void followHelper();

    const UserContext &user;
    QString helper;
    QStringList helperArguments;
    int reportBoundMs;
    Json::Value content;
    QProcess process;
    bool opening = false;
    // The helper reports one link at most: what follows is no click of the user's.
    bool linkTaken = false;
};
