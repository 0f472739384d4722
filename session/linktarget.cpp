#include "session/linktarget.h"

#include "net/endpoints.h"
#include "net/webaddress.h"

#include <QUrl>

LinkTarget LinkTarget::of(const QString &link, Rule rule, const Endpoints &endpoints)
{
    const QString userPage = Endpoints::userIndexPath();
    switch (rule) {
    case Coupon: {
        const QString couponPage = Endpoints::couponInfoPath();
        const bool toCoupons = link == couponPage || link == endpoints.page(couponPage);
        return {SignedIn, toCoupons ? couponPage : userPage};
    }
    case Message:
        // Case-sensitive, on any host: the path is what names the user's page.
        if (link.endsWith(userPage))
            return {SignedIn, userPage};
        break;
    case Web:
        break;
    }
    if (Net::isWebAddress(QUrl(link)))
        return {WebAddress, link};
    return {Refused, link};
}
