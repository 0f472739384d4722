#pragma once

#include "net/endpoints.h"

#include <json/value.h>

#include <QString>
#include <QStringDecoder>

class LinkTarget;

// Who is signed in to Lumaview, and the opening of the vendor's pages as that user.
class UserContext
{
public:
    explicit UserContext(const Endpoints &endpoints);
    // A user known already.
    UserContext(const Endpoints &endpoints, const QString &userId, const QString &userName);
    virtual ~UserContext() = default;

    // Lumaview's folder inside the user's Documents folder; empty when that is unknown.
    static QString sessionFolder();

    // Reads Lumaview's session file once; a missing file or key leaves the user signed out. A
    // file that is not UTF-8 is read in codePage: Lumaview may write the system's ANSI code page
    // (GBK on a Chinese Windows).
    void loadSession(QStringDecoder codePage = QStringDecoder(QStringDecoder::System));

    const QString &userId() const { return m_userId; }
    const QString &userName() const { return m_userName; }
    const Endpoints &endpoints() const { return m_endpoints; }

    // A temporary session for the signed-in user: null when nobody is signed in, empty when none
    // could be had. Blocks while the service is asked.
    QString requestTempSession(int *status) const;

    // Opens where a link leads: a page of the site signed in, a web address in the browser.
    virtual void open(const LinkTarget &target) const;

    // Opens a page of the site (a path such as "/user/index") in the browser, signed in through a
    // temporary session when one can be had.
    void openSignedIn(const QString &path) const;

    // The address that opens a page of the site signed in through a temporary session.
    QString signedInAddress(const QString &session, const QString &path) const;

    // The session carried by a temporary-session answer; empty for any other answer.
    static QString sessionFromAnswer(const Json::Value &answer);

    static int scaledX(int v);
    static int scaledY(int v);
    static float zoomFactor();

private:
    Endpoints m_endpoints;
    QString m_userId;
    QString m_userName;
};
