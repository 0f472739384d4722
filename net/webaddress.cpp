#include "net/webaddress.h"

#include <QUrl>

namespace Net {

bool isWebAddress(const QUrl &url)
{
    return url.isValid() &&
        (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

} // namespace Net
