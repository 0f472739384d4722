#pragma once

#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

class TestHome;

// One start of the real program under the virtual X server: a test home, a stand-in for the
// browser first on PATH (it records the address it is given) and the diagnostics turned on.
class VeltroProcess
{
public:
    explicit VeltroProcess(const TestHome &home);
    ~VeltroProcess();

    void start();
    bool waitForExit(int milliseconds);
    int exitCode() const { return m_process.exitCode(); }
    bool crashed() const { return m_process.exitStatus() != QProcess::NormalExit; }
    qint64 pid() const { return m_process.processId(); }
    void kill();
    QString diagnostics();

    // The popup once it is mapped and has stopped moving; an empty rect when none shows up.
    QRect waitForPopup(int milliseconds);
    // Whether any window of this process is on screen.
    bool hasVisibleWindow() const;
    static void click(const QPoint &screenPosition);

    // The addresses handed to the browser, in order.
    QStringList browserLaunches() const;

private:
    QString windowId() const;

    const TestHome &m_home;
    QProcess m_process;
    QByteArray m_diagnostics;
};
