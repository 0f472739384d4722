#pragma once

#include <QProcessEnvironment>
#include <QTemporaryDir>

// A throw-away home folder: HOME and the XDG folders point into it, so the store, the session
// file and the guard of the code under test never touch the real user's.
class TestHome
{
public:
    TestHome();

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }

    // Points this process at the home folder (for in-process tests).
    void activate() const;
    // The same, for a child process.
    QProcessEnvironment environment() const;

    // Writes Lumaview's session file; an empty uid writes no uid key.
    void signIn(const QString &uid, const QString &accountName) const;
    QString sessionFile() const;
    QString storeFile() const { return path() + "/xdg_config_home/Korvane/Lumaview.conf"; }

private:
    QTemporaryDir m_dir;
};
