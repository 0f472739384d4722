#pragma once

#include <QNetworkProxy>
#include <QStringList>
#include <QUrl>
#include <QWebEnginePage>

#include <functional>
#include <optional>

class QMouseEvent;
class QWebEngineView;

// The page inside a popup. It may come over plain HTTP, so whoever sits on the path writes it: the
// popup shows this one page and nothing else. After its first load it never navigates, it raises
// no dialog and gets no permission, it opens no window, and its script runs only when every hop of
// that load came over https from one of the vendor's hosts. It sees no button, wheel, pen, touch
// or key: a left press and release on one link, which the program finds under the pointer itself,
// is reported through linkClicked and goes no further. What the page hovers or focuses never
// counts, and Chromium never hands an address to the desktop itself.
class DelegatingWebPage : public QWebEnginePage
{
    Q_OBJECT

public:
    // The page of view, whose pointer tells which link the user clicked. Only https pages of
    // scriptHosts run their script.
    DelegatingWebPage(QWebEngineView *view, const QStringList &scriptHosts);

    // Loads the message's page.
    void loadPage(const QUrl &url);

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
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                  int lineNumber, const QString &sourceID) override;

private:
    // Takes the place of the page's own handling of a mouse button.
    void handleButton(const QMouseEvent &event);
    // Calls found with the address of the link at point of the view, empty where there is none.
    void findLinkAt(QPointF point, const std::function<void(const QUrl &)> &found);

    QWebEngineView *const view;
    const QStringList scriptHosts;
    // The proxy the engine goes through, with the password the setting gives for it.
    QNetworkProxy signInProxy;
    // The left presses so far, and the link under the last one, once found, until its release.
    int presses = 0;
    std::optional<QUrl> pressedLink;
    bool firstLoadDone = false;
    // Whether every hop of the page's load so far came over https from one of scriptHosts.
    bool scriptAllowed = true;
    int consoleMessages = 0;
};
