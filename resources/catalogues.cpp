#include "resources/catalogues.h"

#include "desktop/desktoplog.h"

#include <QCoreApplication>
#include <QTranslator>

namespace Catalogues {

void install()
{
    auto *qtTexts = new QTranslator(QCoreApplication::instance());
    if (!qtTexts->load(QCoreApplication::applicationDirPath() + QStringLiteral("/qt_zh_CN.qm")))
        qCDebug(lcApp) << "Qt's Chinese catalogue is missing";
    QCoreApplication::installTranslator(qtTexts);
    auto *ownTexts = new QTranslator(QCoreApplication::instance());
    if (!ownTexts->load(QStringLiteral(":/Veltro/veltro_zh.qm")))
        qCDebug(lcApp) << "the program's catalogue is missing";
    QCoreApplication::installTranslator(ownTexts);
}

} // namespace Catalogues
