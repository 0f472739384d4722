#pragma once

#include <QUrl>
#include <QWebEnginePage>

class QWebEngineProfile;

// The page inside a popup. The popup shows the message's page and nothing else: every link the
// user follows, in the page or into a new window, is reported through linkClicked and goes no
// further, so the page never changes and Chromium never hands an address to the desktop itself.
class DelegatingWebPage : public QWebEnginePage
{
    Q_OBJECT

public:
    explicit DelegatingWebPage(QObject *parent = nullptr);

signals:
    void linkClicked(const QUrl &url);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;

private:
    // A stand-in for a window the page asked for; it lives until its first navigation.
    DelegatingWebPage(QWebEngineProfile *profile, DelegatingWebPage *opener);

    bool standIn = false;
};
