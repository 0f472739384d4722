#include "app/platform.h"

#include <QFont>
#include <QSettings>
#include <QStandardPaths>

namespace Platform {

void prepareDisplay()
{
    if (!qEnvironmentVariableIsSet("QT_ENABLE_HIGHDPI_SCALING"))
        qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
#ifndef Q_OS_WIN
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && qEnvironmentVariableIsSet("DISPLAY") &&
        (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
         qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland"))) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
#endif
}

void substituteFonts()
{
    QFont::insertSubstitutions(QStringLiteral("Microsoft YaHei"),
                               {QStringLiteral("WenQuanYi Micro Hei"),
                                QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans SC"),
                                QStringLiteral("Source Han Sans SC"),
                                QStringLiteral("Droid Sans Fallback")});
}

std::unique_ptr<QSettings> openStore()
{
    auto store = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             QStringLiteral("Korvane"), QStringLiteral("Lumaview"));
    store->beginGroup(QStringLiteral("VeltroPara"));
    return store;
}

QString documentsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

} // namespace Platform
