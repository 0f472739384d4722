#include "popup/webpopupprocess.h"

#include "desktop/platform.h"
#include "net/strictjson.h"
#include "net/webaddress.h"
#include "popup/popuplog.h"
#include "popup/webpopuprequest.h"
#include "session/usercontext.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QUrl>

WebPopupProcess::WebPopupProcess(const UserContext &user, const QString &helper, int reportBoundMs,
                                 const QStringList &helperArguments)
    : user(user), helper(helper), helperArguments(helperArguments), reportBoundMs(reportBoundMs)
{
}

QString WebPopupProcess::helperPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/" VELTRO_HELPER);
}

void WebPopupProcess::setContent(const Json::Value &content)
{
    this->content = content;
}

bool WebPopupProcess::hasContent() const
{
    try {
        const QUrl page(StrictJson::textMember(content, "contentUrl"));
        if (StrictJson::textMember(content, "title").isEmpty() ||
            StrictJson::textMember(content, "brief").isEmpty() || !Net::isWebAddress(page)) {
            qCDebug(lcPopup) << "nothing to show: the web page message lacks a title, a brief "
                                "text or an http or https contentUrl";
            return false;
        }
    } catch (const StrictJson::TypeError &error) {
        qCDebug(lcPopup) << "nothing to show: unusable web page message:" << error.what();
        return false;
    }
    return true;
}

bool WebPopupProcess::showPopup()
{
    if (!hasContent())
        return false;
    process.setProgram(helper);
    process.setArguments(helperArguments);
    // The helper's diagnostics are the program's own.
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);

    QEventLoop wait;
    QTimer bound;
    bound.setSingleShot(true);
    bound.setTimerType(Qt::PreciseTimer);
    connect(&bound, &QTimer::timeout, &wait, &QEventLoop::quit);
    connect(&process, &QProcess::readyReadStandardOutput, &wait, [&] {
        if (reportLineDone())
            wait.quit();
    });
    connect(&process, &QProcess::finished, &wait, &QEventLoop::quit);
    bound.start(reportBoundMs);

    if (!Platform::startChild(process, reportBoundMs)) {
        qCDebug(lcPopup) << "the web page helper did not start:" << helper << process.errorString();
        return false;
    }
    process.write(WebPopupRequest::encode(content));
    process.closeWriteChannel();
    if (!reportLineDone() && process.state() == QProcess::Running)
        wait.exec();

    const QByteArray answer = process.canReadLine()
        ? process.readLine(WebPopupRequest::MaxLineBytes).trimmed()
        : QByteArray();
    if (answer == WebPopupRequest::Shown) {
        // Its link and its end may have come already, before the program's event loop runs.
        connect(&process, &QProcess::readyReadStandardOutput, this, &WebPopupProcess::followHelper);
        connect(&process, &QProcess::finished, this, &WebPopupProcess::followHelper);
        QTimer::singleShot(0, this, &WebPopupProcess::followHelper);
        return true;
    }
    if (answer == WebPopupRequest::Failed)
        qCDebug(lcPopup) << "the web page helper could not show the page";
    else
        qCDebug(lcPopup) << "the web page helper gave no usable report:" << answer
                         << process.errorString();
    process.kill();
    process.waitForFinished(5000);
    return false;
}

bool WebPopupProcess::reportLineDone()
{
    return process.canReadLine() || process.bytesAvailable() > WebPopupRequest::MaxLineBytes;
}

void WebPopupProcess::followHelper()
{
    // Opening may wait for a temporary session in an event loop of its own, which quit() would end
    // as well: the helper's end is taken up once the link is open.
    if (opening)
        return;
    if (!linkTaken && reportLineDone()) {
        linkTaken = true;
        const QByteArray line = process.readLine(WebPopupRequest::MaxLineBytes);
        // Nothing more is kept, whatever the helper goes on writing.
        process.closeReadChannel(QProcess::StandardOutput);
        if (!line.endsWith('\n')) {
            qCDebug(lcPopup) << "refused a report line of more than"
                             << WebPopupRequest::MaxLineBytes << "bytes: the helper is ended";
            process.kill();
        } else {
            opening = true;
            user.open(WebPopupRequest::linkTarget(line, content, user.endpoints()));
            opening = false;
        }
    }
    // Whenever and however the helper ends, the user is done with the popup.
    if (process.state() == QProcess::NotRunning)
        QCoreApplication::quit();
}
