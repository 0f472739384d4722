#include "desktop/browser.h"

#include "desktop/desktoplog.h"
#include "desktop/platform.h"
#include "net/webaddress.h"

#include <QDesktopServices>
#include <QUrl>

namespace Browser {

bool openWebPage(const QUrl &url)
{
    if (!Net::isWebAddress(url)) {
        qCDebug(lcApp) << "refused to open" << url.toString();
        return false;
    }
    qCDebug(lcApp) << "opening" << url.toString();
    // The browser gets the user's own environment, whatever this start changed.
    Platform::restoreEnvironment();
    Platform::allowForegroundChange();
    return QDesktopServices::openUrl(url);
}

} // namespace Browser
