#include "desktop/desktopbusycheck.h"
#include "desktop/instanceguard.h"
#include "desktop/platform.h"
#include "desktop/watchdog.h"
#include "manager/msgmanager.h"
#include "net/endpoints.h"
#include "popup/windowpopupfactory.h"
#include "resources/catalogues.h"
#include "session/usercontext.h"

#include <QApplication>
#include <QSettings>
#include <QThread>

int main(int argc, char *argv[])
{
    InstanceGuard guard(QStringLiteral("veltro"));
    if (!guard.tryAcquire())
        return 0;
    // From here until a popup is on screen, or the start ends, nothing may hold the guard for long.
    Watchdog watchdog;

    Platform::prepareDisplay();
    QApplication app(argc, argv);
    Platform::restoreEnvironment();
    Platform::substituteFonts();

    Catalogues::install();

    watchdog.enter("start-up wait");
    QThread::msleep(2000);

    const Endpoints service(Endpoints::builtInBase());
    UserContext user(service);
    user.loadSession();
    WindowPopupFactory popups(user);
    const DesktopBusyCheck desktop;
    MsgManager manager(Platform::openStore(), user, popups, desktop);
    QObject::connect(&manager, &MsgManager::stepStarted, &manager,
                     [&watchdog](const char *step) { watchdog.enter(step); });
    if (!manager.run())
        return 0;
    watchdog.stop();
    return QApplication::exec();
}
