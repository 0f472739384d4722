#include "app/usercontext.h"

#include "app/browser.h"
#include "app/displayscale.h"
#include "app/linktarget.h"
#include "app/logging.h"
#include "app/platform.h"
#include "net/jsonrequest.h"
#include "net/strictjson.h"

#include <QFile>
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

// The raw bytes of a key of the [usersession] section.
QByteArray rawSessionValue(const QByteArray &file, const QByteArray &key)
{
    bool inSection = false;
    for (const QByteArray &line : file.split('\n')) {
        const QByteArray text = line.trimmed();
        const qsizetype equals = text.indexOf('=');
        if (text.startsWith('['))
            inSection = text.compare("[usersession]", Qt::CaseInsensitive) == 0;
        else if (inSection && equals > 0 && text.left(equals).trimmed() == key)
            return text.mid(equals + 1).trimmed();
    }
    return QByteArray();
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

void UserContext::loadSession(QStringDecoder codePage)
{
    const QString folder = sessionFolder();
    if (folder.isEmpty()) {
        qCDebug(lcApp) << "no Documents folder: signed out";
        return;
    }
    const QSettings session(folder + QStringLiteral("/usersession.ini"), QSettings::IniFormat);
    // QSettings reads raw bytes as UTF-8 and replaces what is not.
    const auto read = [&](const QString &key) {
        const QString value = session.value(QStringLiteral("/usersession/") + key).toString();
        if (!value.contains(QChar::ReplacementCharacter))
            return value;
        QFile file(session.fileName());
        file.open(QIODevice::ReadOnly);
        return QString(codePage(rawSessionValue(file.readAll(), key.toLatin1())));
    };
    m_userId = read(QStringLiteral("uid"));
    m_userName = read(QStringLiteral("accoutName"));
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
