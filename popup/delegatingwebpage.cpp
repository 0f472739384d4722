#include "popup/delegatingwebpage.h"

DelegatingWebPage::DelegatingWebPage(QObject *parent) : QWebEnginePage(parent) { }

DelegatingWebPage::DelegatingWebPage(QWebEngineProfile *profile, DelegatingWebPage *opener)
    : QWebEnginePage(profile, opener), standIn(true)
{
    connect(this, &DelegatingWebPage::linkClicked, opener, &DelegatingWebPage::linkClicked);
}

bool DelegatingWebPage::acceptNavigationRequest(const QUrl &url, NavigationType type,
                                                bool isMainFrame)
{
    // A new window's first address is where the link led, however it was opened.
    if (standIn) {
        emit linkClicked(url);
        deleteLater();
        return false;
    }
    // Also a script's navigation in answer to a click, to any scheme.
    if (type == NavigationTypeLinkClicked) {
        emit linkClicked(url);
        return false;
    }
    return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
}

QWebEnginePage *DelegatingWebPage::createWindow(WebWindowType)
{
    return new DelegatingWebPage(profile(), this);
}
