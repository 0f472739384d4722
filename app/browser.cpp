#include "app/browser.h"

#include "app/logging.h"

#include <QDesktopServices>
#include <QUrl>

namespace Browser {

bool openWebPage(const QUrl &url)
{
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        qCDebug(lcApp) << "refused to open" << url.toString();
        return false;
    }
    qCDebug(lcApp) << "opening" << url.toString();
    return QDesktopServices::openUrl(url);
}

} // namespace Browser
