#pragma once

#include <QUrl>
#include <QWebEnginePage>

class QMouseEvent;
class QWebEngineView;

// The page inside a popup. It may come over plain HTTP, so whoever sits on the path writes it: the
// popup shows this one page and nothing else. After its first load it never navigates, it raises
// no dialog and gets no permission, it opens no window, and its script runs only when every hop of
// that load came over https. It never sees a mouse button: a left press and release on the link
// under the pointer is reported through linkClicked and goes no further; Chromium never hands an
// address to the desktop itself.
class DelegatingWebPage : public QWebEnginePage
{
    Q_OBJECT

public:
    // The page of view, whose pointer tells which link the user clicked.
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
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                  int lineNumber, const QString &sourceID) override;

private:
    // Takes the place of the page's own handling of a mouse button.
    void handleButton(const QMouseEvent &event);

    QWebEngineView *const view;
    // The link under the pointer, and the one under the last left press until its release.
    QUrl hoveredLink;
    QUrl pressedLink;
    bool firstLoadDone = false;
    // Whether every hop of the page's load so far came over https.
    bool overHttpsOnly = true;
    int consoleMessages = 0;
};
