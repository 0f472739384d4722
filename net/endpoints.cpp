#include "net/endpoints.h"

Endpoints::Endpoints() : m_base(builtInBase()) { }

Endpoints::Endpoints(const QString &base) : m_base(base) { }

QString Endpoints::builtInBase()
{
    return QStringLiteral(VELTRO_SERVICE_URL);
}
