#include "testhome.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace {

const char *const Variables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "XDG_DATA_HOME",
                                 "XDG_CACHE_HOME"};

QString folderFor(const QString &home, const QString &variable)
{
    return variable == "HOME" ? home : home + '/' + variable.toLower();
}

} // namespace

TestHome::TestHome()
{
    for (const char *variable : Variables)
        QDir().mkpath(folderFor(path(), variable));
    QFile::setPermissions(folderFor(path(), "XDG_RUNTIME_DIR"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestHome::activate() const
{
    for (const char *variable : Variables)
        qputenv(variable, QFile::encodeName(folderFor(path(), variable)));
}

QProcessEnvironment TestHome::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *variable : Variables)
        environment.insert(variable, folderFor(path(), variable));
    return environment;
}

void TestHome::signIn(const QString &uid, const QString &accountName) const
{
    QSettings session(sessionFile(), QSettings::IniFormat);
    session.clear();
    if (!uid.isEmpty())
        session.setValue("usersession/uid", uid);
    session.setValue("usersession/accoutName", accountName);
}

QString TestHome::sessionFile() const
{
#ifdef Q_OS_WIN
    // There the shell alone says where Documents is: the tests run in a Wine prefix of their own.
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) +
        "/Lumaview/usersession.ini";
#else
    return path() + "/Documents/Lumaview/usersession.ini";
#endif
}
