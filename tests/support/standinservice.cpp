#include "standinservice.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>
#include <QUrl>

namespace {

QUrl serviceUrl()
{
    return QUrl(QStringLiteral(VELTRO_SERVICE_URL));
}

} // namespace

StandInService::StandInService(const QString &folder)
    : m_scenario(folder + QStringLiteral("/scenario.json")),
      m_log(folder + QStringLiteral("/requests.log"))
{
    setRoutes(QJsonObject());
}

StandInService::~StandInService()
{
    stop();
}

bool StandInService::canPlayTheService()
{
    const QString host = serviceUrl().host();
    return host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost");
}

bool StandInService::start()
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(VELTRO_STANDIN_EXE),
                    {QStringLiteral("--port"), QString::number(serviceUrl().port(80)),
                     QStringLiteral("--scenario"), m_scenario, QStringLiteral("--log"), m_log});
    const QDeadlineTimer deadline(30000);
    QByteArray output;
    while (!output.contains("listening") && !deadline.hasExpired()) {
        if (!m_process.waitForReadyRead(int(deadline.remainingTime())))
            break;
        output += m_process.readAllStandardOutput();
    }
    return output.contains("listening");
}

void StandInService::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

void StandInService::setRoutes(const QJsonObject &routes)
{
    QFile file(m_scenario);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QJsonDocument(QJsonObject{{QStringLiteral("routes"), routes}}).toJson());
}

QList<QJsonObject> StandInService::requests(const QString &path) const
{
    QList<QJsonObject> requests;
    QFile file(m_log);
    if (!file.open(QIODevice::ReadOnly))
        return requests;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QJsonObject request = QJsonDocument::fromJson(line).object();
        if (!request.isEmpty() &&
            (path.isEmpty() || request.value(QStringLiteral("path")).toString() == path))
            requests.append(request);
    }
    return requests;
}

QJsonObject StandInService::jsonRoute(const QJsonValue &json)
{
    return {{QStringLiteral("json"), json}};
}

QJsonObject StandInService::messageRoute(const QString &type, const QString &id,
                                         const QJsonObject &content)
{
    const QString msgData =
        QString::fromUtf8(QJsonDocument(content).toJson(QJsonDocument::Compact));
    return jsonRoute(QJsonObject{{QStringLiteral("ret"), 1},
                                 {QStringLiteral("body"),
                                  QJsonObject{{QStringLiteral("type"), type},
                                              {QStringLiteral("id"), id},
                                              {QStringLiteral("msgData"), msgData}}}});
}
