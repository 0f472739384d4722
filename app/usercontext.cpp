#include "app/usercontext.h"

#include "app/browser.h"
#include "app/displayscale.h"
#include "app/linktarget.h"
#include "app/logging.h"
#include "app/platform.h"
#include "net/jsonrequest.h"
#include "net/strictjson.h"

#include <QSettings>
#include <QUrl>

namespace {

// The popup waits for the temporary session with user input held back: the service gets 4 s of
// silence and 15 s in all, then the plain page opens.
constexpr int SessionSilenceMs = 4000;
constexpr int SessionTotalMs = 15000;

QString queryValue(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

} // namespace

UserContext::UserContext(const Endpoints &endpoints) : m_endpoints(endpoints) { }

UserContext::UserContext(const Endpoints &endpoints, const QString &userId, const QString &userName)
    : m_endpoints(endpoints), m_userId(userId), m_userName(userName)
{
}

QString UserContext::sessionFolder()
{
    const QString documents = Platform::documentsFolder();
    if (documents.isEmpty())
        return QString();
    return documents + QStringLiteral("/Lumaview");
}

void UserContext::loadSession()
{
    const QString folder = sessionFolder();
    if (folder.isEmpty()) {
        qCDebug(lcApp) << "no Documents folder: signed out";
        return;
    }
    const QSettings session(folder + QStringLiteral("/usersession.ini"), QSettings::IniFormat);
    m_userId = session.value(QStringLiteral("/usersession/uid")).toString();
    m_userName = session.value(QStringLiteral("/usersession/accoutName")).toString();
    if (m_userId.isEmpty())
        qCDebug(lcApp) << "nobody signed in according to" << session.fileName();
}

QString UserContext::requestTempSession(int *status) const
{
    if (m_userId.isEmpty() || m_userName.isEmpty()) {
        *status = ReplyOk;
        return QString();
    }
    const QString address = m_endpoints.getTempSession() + QStringLiteral("?userName=") +
        queryValue(m_userName) + QStringLiteral("&userId=") + queryValue(m_userId);
    const Json::Value answer = JsonRequest(address).get(status, SessionSilenceMs, SessionTotalMs);
    if (*status != ReplyOk)
        return QStringLiteral("");
    return sessionFromAnswer(answer);
}

QString UserContext::sessionFromAnswer(const Json::Value &answer)
{
    try {
        StrictJson::textMember(answer, "code");
        return StrictJson::textMember(answer, "tempSession");
    } catch (const StrictJson::TypeError &error) {
        qCDebug(lcApp) << "temporary-session answer unusable:" << error.what();
        return QStringLiteral("");
    }
}

void UserContext::open(const LinkTarget &target) const
{
    switch (target.kind) {
    case LinkTarget::SignedIn:
        openSignedIn(target.where);
        break;
    case LinkTarget::WebAddress:
        Browser::openWebPage(QUrl(target.where));
        break;
    case LinkTarget::Refused:
        qCDebug(lcApp) << "refused to open" << target.where;
        break;
    }
}

void UserContext::openSignedIn(const QString &path) const
{
    int status = ReplyOk;
    const QString session = requestTempSession(&status);
    if (status != ReplyOk || session.isEmpty()) {
        Browser::openWebPage(QUrl(m_endpoints.page(path)));
        return;
    }
    Browser::openWebPage(QUrl(m_endpoints.userSkip() + QStringLiteral("?tempSession=") +
                              queryValue(session) + QStringLiteral("&skipUrl=") + path));
}

int UserContext::scaledX(int v)
{
    return DisplayScale::current().x(v);
}

int UserContext::scaledY(int v)
{
    return DisplayScale::current().y(v);
}

float UserContext::zoomFactor()
{
    return DisplayScale::current().zoom();
}
