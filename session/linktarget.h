#pragma once

#include <QString>

class Endpoints;

// Where a link in a popup leads: a page of the site, opened signed in; a web address, opened as it
// is; or nowhere. Links come from the service over plain HTTP, so only http and https addresses
// ever reach the browser.
class LinkTarget
{
public:
    enum Kind { Refused, SignedIn, WebAddress };

    // Each popup follows its links by a rule of its own.
    enum Rule {
        // A link in a web page: opened as it is.
        Web,
        // A message's link: the user's own page, wherever the address points, opens signed in.
        Message,
        // The coupon popup's links never leave the user's pages: the coupon page's own path or
        // address leads to it, any other link to the user's page.
        Coupon
    };

    static LinkTarget of(const QString &link, Rule rule, const Endpoints &endpoints);

    Kind kind = Refused;
    // The site's path when SignedIn, the address when WebAddress, the link itself when Refused.
    QString where;
};
