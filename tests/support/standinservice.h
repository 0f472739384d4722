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
    QList<QJsonObject> requests(const QString &path = QString()) const;

private:
    QProcess m_process;
    QString m_scenario;
    QString m_log;
};
