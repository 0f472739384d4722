#pragma once

#include "popup/veltrobase.h"

#include <QPoint>
#include <QString>
#include <QWidget>

class QLabel;
class UserContext;

// The popup window every message shares: a frameless 300 x 200 window (before display scaling)
// with a title bar, a body and a bottom line, that slides up into the bottom-right corner of the
// primary screen. On its own it is the popup for a plain message: a title, a brief text and a
// link.
class VeltroWidgetBase : public QWidget, public VeltroBase
{
    Q_OBJECT

public:
    explicit VeltroWidgetBase(const UserContext &user, QWidget *parent = nullptr);
    ~VeltroWidgetBase() override;

    void setContent(const Json::Value &content) override;
    bool showPopup() override;
    bool keepByManager() override { return false; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

    virtual void initWindow();
    virtual bool popUp();
    virtual void createTitleBar();
    virtual void createBody();
    virtual void createBottomBar();
    virtual bool hasContent();

    // The bottom line, empty, in its place.
    QWidget *addBottomBar();
    // A link at the right of the bottom line; activating it calls onJumpURL with url.
    QLabel *addBottomLink(QWidget *bottomBar, const QString &url, const QString &text);

    const UserContext &user;
    QString title;
    QString brief;
    QString jmpUrl;
    QWidget *bodyWidget = nullptr;

protected slots:
    virtual void onJumpURL(QString url);

private:
    // The start of a link element to url, open for more attributes.
    static QString linkOpening(const QString &url);

    QPoint pressPoint;
    bool dragging = false;
};
