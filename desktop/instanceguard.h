#pragma once

#include <QString>

#ifdef Q_OS_WIN
#include <QSharedMemory>
#endif

// Lets one copy of the program run at a time. The guard is released when its process ends,
// however it ends, so a killed copy never locks the next start out.
class InstanceGuard
{
public:
    explicit InstanceGuard(const QString &key);
    ~InstanceGuard();
    InstanceGuard(const InstanceGuard &) = delete;
    InstanceGuard &operator=(const InstanceGuard &) = delete;

    // True when this copy now holds the guard; false when another copy holds it.
    bool tryAcquire();

private:
#ifdef Q_OS_WIN
    QSharedMemory m_segment;
#else
    QString m_key;
    int m_fd = -1;
#endif
};
