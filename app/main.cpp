#include "app/instanceguard.h"
#include "app/logging.h"
#include "app/platform.h"
#include "app/usercontext.h"
#include "manager/msgmanager.h"
#include "popup/windowpopupfactory.h"

#include <QApplication>
#include <QSettings>
#include <QThread>
#include <QTranslator>

int main(int argc, char *argv[])
{
    InstanceGuard guard(QStringLiteral("veltro"));
    if (!guard.tryAcquire())
        return 0;

    Platform::prepareDisplay();
    QApplication app(argc, argv);
    Platform::substituteFonts();

    QTranslator qtTexts;
    if (!qtTexts.load(QCoreApplication::applicationDirPath() + QStringLiteral("/qt_zh_CN.qm")))
        qCDebug(lcApp) << "Qt's Chinese catalogue is missing";
    QCoreApplication::installTranslator(&qtTexts);
    QTranslator ownTexts;
    if (!ownTexts.load(QStringLiteral(":/Veltro/veltro_zh.qm")))
        qCDebug(lcApp) << "the program's catalogue is missing";
    QCoreApplication::installTranslator(&ownTexts);

    QThread::msleep(2000);

    UserContext user;
    user.loadSession();
    WindowPopupFactory popups(user);
    MsgManager manager(Platform::openStore(), user, popups);
    if (!manager.run())
        return 0;
    return QApplication::exec();
}
