#pragma once

#include <QDesktopServices>
#include <QObject>
#include <QUrl>

// Stands in for the user's browser and for the desktop's handler of every other scheme an address
// from the service might carry, and records what it is handed. Lives for a whole test case.
class BrowserRecorder : public QObject
{
    Q_OBJECT

public:
    BrowserRecorder() { handleSchemes(true); }
    ~BrowserRecorder() override { handleSchemes(false); }

    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened.append(url); }

private:
    void handleSchemes(bool handle)
    {
        for (const char *scheme :
             {"http", "https", "file", "smb", "javascript", "data", "lumaview"})
            handle ? QDesktopServices::setUrlHandler(scheme, this, "open")
                   : QDesktopServices::unsetUrlHandler(scheme);
    }
};
