#include "session/usercontext.h"

#include "desktop/browser.h"
#include "desktop/desktoplog.h"
#include "desktop/displayscale.h"
#include "desktop/platform.h"
#include "net/jsonrequest.h"
#include "net/strictjson.h"
#include "session/linktarget.h"

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

// The raw bytes of a key of the [usersession] section. Keys and sections match as QSettings
// matches them there, and the last of equal keys counts, as there; lines never join.
QByteArray rawSessionValue(const QByteArray &file, const QByteArray &key)
{
#ifdef Q_OS_WIN
    constexpr Qt::CaseSensitivity Matching = Qt::CaseInsensitive;
#else
    constexpr Qt::CaseSensitivity Matching = Qt::CaseSensitive;
#endif
    QByteArray value;
    bool inSection = false;
    for (const QByteArray &line : file.split('\n')) {
        const QByteArray text = line.trimmed();
        const qsizetype equals = text.indexOf('=');
        if (text.startsWith('['))
            inSection = text.compare("[usersession]", Matching) == 0;
        else if (inSection && equals > 0 && text.left(equals).trimmed().compare(key, Matching) == 0)
            value = text.mid(equals + 1).trimmed();
    }
    return value;
}

bool isUtf8(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8(bytes); // the decoding runs on this conversion
    return !utf8.hasError();
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
    QFile file(folder + QStringLiteral("/usersession.ini"));
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    if (isUtf8(bytes)) {
        const QSettings session(file.fileName(), QSettings::IniFormat);
        m_userId = session.value(QStringLiteral("usersession/uid")).toString();
        m_userName = session.value(QStringLiteral("usersession/accoutName")).toString();
    } else {
        // Lumaview writes the system's code page. A GBK character may end in a backslash, with
        // which QSettings joins the next line to a value: our own reading decides every key.
        const auto read = [&](const QByteArray &key) {
            codePage.resetState();
            return QString(codePage(rawSessionValue(bytes, key)));
        };
        m_userId = read("uid");
        m_userName = read("accoutName");
    }
    if (m_userId.isEmpty())
        qCDebug(lcApp) << "nobody signed in according to" << file.fileName();
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
    Browser::openWebPage(QUrl(signedInAddress(session, path)));
}

QString UserContext::signedInAddress(const QString &session, const QString &path) const
{
    return m_endpoints.userSkip() + QStringLiteral("?tempSession=") + queryValue(session) +
        QStringLiteral("&skipUrl=") + path;
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
