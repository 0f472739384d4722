#include "desktop/platform.h"

#include "desktop/desktoplog.h"

#include <QByteArray>
#include <QFile>
#include <QFont>
#include <QList>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>

#include <optional>
#include <utility>

#ifdef Q_OS_WIN
#include <qt_windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>
#endif

namespace Platform {

namespace {

// The variables set here, each with the value the user gave it, if any.
QList<std::pair<const char *, std::optional<QByteArray>>> &ownVariables()
{
    static QList<std::pair<const char *, std::optional<QByteArray>>> variables;
    return variables;
}

void setOwn(const char *variable, const char *value)
{
    ownVariables().append(
        {variable,
         qEnvironmentVariableIsSet(variable) ? std::optional(qgetenv(variable)) : std::nullopt});
    qputenv(variable, value);
}

} // namespace

void prepareDisplay()
{
    if (!qEnvironmentVariableIsSet("QT_ENABLE_HIGHDPI_SCALING"))
        setOwn("QT_ENABLE_HIGHDPI_SCALING", "0");
#ifndef Q_OS_WIN
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && qEnvironmentVariableIsSet("DISPLAY") &&
        (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
         qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland"))) {
        setOwn("QT_QPA_PLATFORM", "xcb");
    }
#endif
}

void restoreEnvironment()
{
    // Latest first: a variable set twice gets the user's value back.
    for (auto own = ownVariables().crbegin(); own != ownVariables().crend(); ++own)
        own->second ? qputenv(own->first, *own->second) : qunsetenv(own->first);
    ownVariables().clear();
}

void shunSessionBus()
{
    // An address of no transport: every client of the bus fails at once.
    setOwn("DBUS_SESSION_BUS_ADDRESS", "disabled:");
}

void substituteFonts()
{
    // On a Windows without it: its UI face, or SimSun, which any Windows with Chinese support has.
    QFont::insertSubstitutions(QStringLiteral("Microsoft YaHei"),
                               {QStringLiteral("Microsoft YaHei UI"), QStringLiteral("SimSun"),
                                QStringLiteral("WenQuanYi Micro Hei"),
                                QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans SC"),
                                QStringLiteral("Source Han Sans SC"),
                                QStringLiteral("Droid Sans Fallback")});
}

std::unique_ptr<QSettings> openStore()
{
    auto store = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             QStringLiteral("Korvane"), QStringLiteral("Lumaview"));
    // Only the user's own values count: an organisation-wide or machine-wide file could otherwise
    // spend or reset every user's budget.
    store->setFallbacksEnabled(false);
    store->beginGroup(QStringLiteral("VeltroPara"));
    return store;
}

bool storeNeedsSync(const QSettings &store)
{
#ifdef Q_OS_WIN
    // There the native store is the registry, which keeps a written value without a flush, while
    // sync() is RegFlushKey: it holds the user's whole hive until the disk has it.
    return store.format() != QSettings::NativeFormat;
#else
    Q_UNUSED(store);
    return true;
#endif
}

QString documentsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

void allowForegroundChange()
{
#ifdef Q_OS_WIN
    // Only the process that received the last input, the click on the popup, may hand this on.
    if (!AllowSetForegroundWindow(ASFW_ANY))
        qCDebug(lcApp) << "the browser may open behind other windows:" << GetLastError();
#endif
}

bool startChild(QProcess &child, int timeoutMs)
{
#ifdef Q_OS_WIN
    // The job's last handle closes with this process, and the job then kills every process in it.
    // The child is added before it is handed its input, so the processes it starts for the page
    // come after and belong to the job too. The browser is started by this process, outside it.
    static const HANDLE job = [] {
        const HANDLE created = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (created &&
            !SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits,
                                     sizeof limits))
            qCDebug(lcApp) << "the job would not end the helper with the program:"
                           << GetLastError();
        return created;
    }();
    child.start();
    if (!child.waitForStarted(timeoutMs))
        return false;
    const HANDLE process =
        OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(child.processId()));
    if (!job || !process || !AssignProcessToJobObject(job, process))
        qCDebug(lcApp) << "the helper does not end with the program:" << GetLastError();
    if (process)
        CloseHandle(process);
    return true;
#else
    // Set in the child between fork and exec: the kernel ends it when its parent dies.
    child.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    child.start();
    return child.waitForStarted(timeoutMs);
#endif
}

std::unique_ptr<QFile> privateStandardOutput(bool keepErrors)
{
    auto channel = std::make_unique<QFile>();
#ifdef Q_OS_WIN
    // A handle that is not inheritable; the CRT's descriptor 1 and the process's standard handle
    // then name the null device, which the engine's processes may inherit.
    HANDLE own = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_OUTPUT_HANDLE), GetCurrentProcess(),
                         &own, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    const int descriptor = _open_osfhandle(intptr_t(own), _O_WRONLY | _O_BINARY);
    if (!std::freopen("NUL", "w", stdout) || (!keepErrors && !std::freopen("NUL", "w", stderr)))
        return nullptr;
    SetStdHandle(STD_OUTPUT_HANDLE, HANDLE(_get_osfhandle(_fileno(stdout))));
    if (!keepErrors)
        SetStdHandle(STD_ERROR_HANDLE, HANDLE(_get_osfhandle(_fileno(stderr))));
#else
    const int descriptor = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (descriptor < 0 || null < 0 || ::dup2(null, STDOUT_FILENO) < 0 ||
        (!keepErrors && ::dup2(null, STDERR_FILENO) < 0))
        return nullptr;
    ::close(null);
#endif
    if (descriptor < 0 ||
        !channel->open(descriptor, QIODevice::WriteOnly | QIODevice::Unbuffered,
                       QFileDevice::AutoCloseHandle))
        return nullptr;
    return channel;
}

} // namespace Platform
