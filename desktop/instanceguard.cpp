#include "desktop/instanceguard.h"

#include "desktop/desktoplog.h"

#ifdef Q_OS_WIN
#include <QCryptographicHash>
#else
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN

namespace {

// The name Qt 4.8 to 6.4 derive from a key (QSharedMemoryPrivate::makePlatformSafeKey): a prefix,
// the key's ASCII letters, the hex SHA-1 of its UTF-8. Qt may change that derivation; copies built
// with another Qt keep each other out only if the name is set. For "veltro" it is
// qipc_sharedmemory_veltro359a0f942a19cad173d97d5a772e40d19d5a0c22.
QString segmentName(const QString &key)
{
    QString name = QStringLiteral("qipc_sharedmemory_");
    for (const QChar c : key) {
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'))
            name += c;
    }
    return name +
        QLatin1String(QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex());
}

} // namespace

// The kernel frees the segment with the last process that maps it.
InstanceGuard::InstanceGuard(const QString &key)
{
    m_segment.setNativeKey(segmentName(key));
}

InstanceGuard::~InstanceGuard() = default;

bool InstanceGuard::tryAcquire()
{
    if (m_segment.create(1, QSharedMemory::ReadWrite))
        return true;
    qCDebug(lcApp) << "another copy holds the guard:" << m_segment.errorString();
    return false;
}

#else

namespace {

constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The folder at an absolute path, opened through no symbolic link in any component; -1 when one
// is a link or missing.
int openWithoutLinks(const QByteArray &path)
{
    int folder = ::open("/", FolderFlags);
    for (const QByteArray &name : path.split('/')) {
        if (name.isEmpty() || folder < 0)
            continue;
        const int next = ::openat(folder, name.constData(), FolderFlags);
        ::close(folder);
        folder = next;
    }
    return folder;
}

// The folder, open, when it is a real folder of this user that no one else may enter: nobody
// else can then have put a file or a link at the guard's name. With repair, a real folder of this
// user's own that others may enter, as a restored backup or a umask leaves it, is closed to them
// first: left so, it would end every start for good. Only a folder reached through no link is
// repaired: a link on the way could lead the repair to any folder of the user's.
int openPrivateFolder(const QByteArray &path, bool repair)
{
    int folder = repair ? openWithoutLinks(path) : -1;
    repair = folder >= 0;
    if (folder < 0)
        folder = ::open(path.constData(), FolderFlags);
    struct stat info;
    if (folder >= 0 && ::fstat(folder, &info) == 0 && info.st_uid == ::getuid() &&
        ((info.st_mode & 0777) == 0700 || (repair && ::fchmod(folder, 0700) == 0)))
        return folder;
    if (folder >= 0)
        ::close(folder);
    return -1;
}

// The session's runtime folder, or else a folder of the program's own in the user's cache. Qt's
// runtime location is not asked: without a private runtime folder it prints warnings and falls
// back to a folder in /tmp that another user may create first.
int openGuardFolder(const QString &key)
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    // The session's folder is the system's to set: one open to others is passed over.
    const int runtimeFolder = runtime.isEmpty() ? -1 : openPrivateFolder(runtime, false);
    if (runtimeFolder >= 0)
        return runtimeFolder;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty() || !QDir().mkpath(cache))
        return -1;
    const QByteArray own = QFile::encodeName(cache + QLatin1Char('/') + key);
    ::mkdir(own.constData(), 0700);
    return openPrivateFolder(own, true);
}

} // namespace

// A shared-memory segment outlives a killed process on Unix; an flock() does not.
InstanceGuard::InstanceGuard(const QString &key) : m_key(key) { }

InstanceGuard::~InstanceGuard()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool InstanceGuard::tryAcquire()
{
    const int folder = openGuardFolder(m_key);
    if (folder < 0) {
        qCDebug(lcApp) << "no private folder for the guard";
        return false;
    }
    const QByteArray name = QFile::encodeName(m_key + QStringLiteral(".lock"));
    m_fd = ::openat(folder, name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    ::close(folder);
    if (m_fd < 0) {
        qCDebug(lcApp) << "cannot open the guard file" << name;
        return false;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    qCDebug(lcApp) << "another copy holds the guard" << name;
    ::close(m_fd);
    m_fd = -1;
    return false;
}

#endif
