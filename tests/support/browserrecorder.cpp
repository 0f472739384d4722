#include "browserrecorder.h"

#include <QDesktopServices>

namespace {

const char *const Schemes[] = {"http", "https", "file", "smb", "javascript", "data", "lumaview"};

} // namespace

BrowserRecorder::BrowserRecorder()
{
    for (const char *scheme : Schemes)
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
}

BrowserRecorder::~BrowserRecorder()
{
    for (const char *scheme : Schemes)
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

void BrowserRecorder::open(const QUrl &url)
{
    opened.append(url);
}
