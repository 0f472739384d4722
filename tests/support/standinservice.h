#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>

// The stand-in service as a process of its own, on the address the program under test was
// built for. Routes can change between starts of the program; every request is logged.
class StandInService
{
public:
    explicit StandInService(const QString &folder);
    ~StandInService();

    // The build's service address is a loopback one, so the end-to-end tests can play it.
    static bool canPlayTheService();

    bool start();
    void stop();
    void setRoutes(const QJsonObject &routes);

    // A route answering with this JSON value.
    static QJsonObject jsonRoute(const QJsonValue &json);
    // A route delivering one message; the content travels as JSON text, as the service sends it.
    static QJsonObject messageRoute(const QString &type, const QString &id,
                                    const QJsonObject &content);
    QList<QJsonObject> requests(const QString &path = QString()) const;

private:
    QProcess m_process;
    QString m_scenario;
    QString m_log;
};
