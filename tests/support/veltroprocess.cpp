#include "veltroprocess.h"

#include "testhome.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

namespace {

QByteArray runTool(const QString &program, const QStringList &arguments)
{
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(10000))
        tool.kill();
    return tool.readAllStandardOutput().trimmed();
}

QRect geometryOf(const QString &window)
{
    QRect geometry;
    const QByteArray shell =
        runTool(QStringLiteral("xdotool"),
                {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
    for (const QByteArray &line : shell.split('\n')) {
        const QList<QByteArray> pair = line.split('=');
        if (pair.size() != 2)
            continue;
        const int value = pair.at(1).toInt();
        if (pair.at(0) == "X")
            geometry.moveLeft(value);
        else if (pair.at(0) == "Y")
            geometry.moveTop(value);
        else if (pair.at(0) == "WIDTH")
            geometry.setWidth(value);
        else if (pair.at(0) == "HEIGHT")
            geometry.setHeight(value);
    }
    return geometry;
}

} // namespace

VeltroProcess::VeltroProcess(const TestHome &home) : m_home(home)
{
    const QString bin = home.path() + QStringLiteral("/bin");
    QDir().mkpath(bin);
    QFile browser(bin + QStringLiteral("/xdg-open"));
    if (browser.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        browser.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$HOME/browser.log\"\n");
        browser.close();
        browser.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

VeltroProcess::~VeltroProcess()
{
    kill();
}

void VeltroProcess::start()
{
    QProcessEnvironment environment = m_home.environment();
    environment.insert(QStringLiteral("PATH"),
                       m_home.path() + QStringLiteral("/bin:") + environment.value("PATH"));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("veltro.*=true"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(QStringLiteral(VELTRO_EXE), {});
    m_process.waitForStarted(10000);
}

bool VeltroProcess::waitForExit(int milliseconds)
{
    // waitForFinished() answers false for a process that has already been seen to end.
    const bool finished =
        m_process.state() == QProcess::NotRunning || m_process.waitForFinished(milliseconds);
    m_diagnostics += m_process.readAll();
    return finished;
}

void VeltroProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

QString VeltroProcess::diagnostics()
{
    // Output reaches the buffer only while waiting on the process; nothing here runs a loop.
    while (m_process.waitForReadyRead(100))
        m_diagnostics += m_process.readAll();
    m_diagnostics += m_process.readAll();
    return QString::fromLocal8Bit(m_diagnostics);
}

QString VeltroProcess::windowId() const
{
    // A web page shows in the program's helper process.
    QStringList processes{QString::number(pid())};
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid()));
    if (children.open(QIODevice::ReadOnly))
        processes += QString::fromLatin1(children.readAll()).split(' ', Qt::SkipEmptyParts);
    for (const QString &process : processes) {
        const QByteArray ids = runTool(QStringLiteral("xdotool"),
                                       {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                        QStringLiteral("--pid"), process});
        if (!ids.isEmpty())
            return QString::fromLatin1(ids.split('\n').constFirst());
    }
    return QString();
}

bool VeltroProcess::hasVisibleWindow() const
{
    return !windowId().isEmpty();
}

QRect VeltroProcess::waitForPopup(int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    QRect previous;
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        const QString window = windowId();
        if (!window.isEmpty()) {
            const QRect current = geometryOf(window);
            // The slide-in is over once two looks in a row agree.
            if (current.isValid() && current == previous)
                return current;
            previous = current;
        }
        QThread::msleep(150);
    }
    return QRect();
}

void VeltroProcess::click(const QPoint &screenPosition)
{
    // The server takes the move and the click in order. Waiting for the move instead (--sync)
    // waits for ever when the pointer is already there, as the server keeps it between programs.
    runTool(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QString::number(screenPosition.x()),
             QString::number(screenPosition.y()), QStringLiteral("click"), QStringLiteral("1")});
}

QStringList VeltroProcess::browserLaunches() const
{
    QFile log(m_home.path() + QStringLiteral("/browser.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
