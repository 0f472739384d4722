#include "app/instanceguard.h"

#include "app/logging.h"

#ifndef Q_OS_WIN
#include <QDir>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN

// The kernel frees the segment with the last process that maps it.
InstanceGuard::InstanceGuard(const QString &key) : m_segment(key) { }

InstanceGuard::~InstanceGuard() = default;

bool InstanceGuard::tryAcquire()
{
    if (m_segment.create(1, QSharedMemory::ReadWrite))
        return true;
    qCDebug(lcApp) << "another copy holds the guard:" << m_segment.errorString();
    return false;
}

#else

// A shared-memory segment outlives a killed process on Unix; an flock() does not.
InstanceGuard::InstanceGuard(const QString &key)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    m_lockPath = folder + QLatin1Char('/') + key + QStringLiteral(".lock");
}

InstanceGuard::~InstanceGuard()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool InstanceGuard::tryAcquire()
{
    m_fd = ::open(QFile::encodeName(m_lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        qCDebug(lcApp) << "cannot open the guard file" << m_lockPath;
        return false;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    qCDebug(lcApp) << "another copy holds the guard" << m_lockPath;
    ::close(m_fd);
    m_fd = -1;
    return false;
}

#endif
