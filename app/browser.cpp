#include "app/browser.h"

#include "app/logging.h"

#include <QDesktopServices>
#include <QUrl>

namespace Browser {

bool isWebAddress(const QUrl &url)
{
    return url.isValid() &&
        (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

bool openWebPage(const QUrl &url)
{
    if (!isWebAddress(url)) {
        qCDebug(lcApp) << "refused to open" << url.toString();
        return false;
    }
    qCDebug(lcApp) << "opening" << url.toString();
    return QDesktopServices::openUrl(url);
}

} // namespace Browser
