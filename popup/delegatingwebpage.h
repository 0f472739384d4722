#pragma once

#include <QElapsedTimer>
#include <QUrl>
#include <QWebEnginePage>

class QWebEngineProfile;
class QWebEngineView;

// The page inside a popup. It comes over plain HTTP, so whoever sits on the path writes it: the
// popup shows this one page and nothing else. After its first load it never navigates, it raises
// no dialog and gets no permission, and it opens no window. A link the user clicked, in the page
// or into a new window, is reported through linkClicked and goes no further; Chromium never hands
// an address to the desktop itself.
class DelegatingWebPage : public QWebEnginePage
{
    Q_OBJECT

public:
    // The page of view, whose presses tell a click by the user from the page's own navigation.
    explicit DelegatingWebPage(QWebEngineView *view);

signals:
    void linkClicked(const QUrl &url);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList &oldFiles,
                            const QStringList &acceptedMimeTypes) override;
    void javaScriptAlert(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptConfirm(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptPrompt(const QUrl &securityOrigin, const QString &msg,
                          const QString &defaultValue, QString *result) override;

private:
    // A stand-in for a window the page asked for; it lives until its first navigation.
    DelegatingWebPage(QWebEngineProfile *profile, DelegatingWebPage *opener);

    // Whether the user clicked in the view just before: a navigation without that is the page's.
    bool userJustClicked() const;
    // Reports url when the user clicked it.
    void followLink(const QUrl &url);

    QWebEngineView *const view = nullptr;
    // Set for a stand-in only.
    DelegatingWebPage *const opener = nullptr;
    // Since the user last pressed or released a button on the page.
    QElapsedTimer sinceClick;
    bool firstLoadDone = false;
};
