#include "net/endpoints.h"

Endpoints::Endpoints() : m_base(builtInBase()) { }

Endpoints::Endpoints(const QString &base) : m_base(base) { }

QString Endpoints::builtInBase()
{
    return QStringLiteral(VELTRO_SERVICE_URL);
}

QStringList Endpoints::scriptHosts()
{
    return QStringLiteral(VELTRO_SCRIPT_HOSTS).split(QLatin1Char(','), Qt::SkipEmptyParts);
}
