#include "desktop/displayscale.h"

#include <QGuiApplication>
#include <QScreen>

DisplayScale::DisplayScale(qreal dpiX, qreal dpiY) : m_dpiX(dpiX), m_dpiY(dpiY) { }

DisplayScale DisplayScale::current()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return DisplayScale(96, 96);
    return DisplayScale(screen->logicalDotsPerInchX(), screen->logicalDotsPerInchY());
}

bool DisplayScale::scaling() const
{
    return m_dpiX > 120 || m_dpiY > 120;
}

int DisplayScale::x(int v) const
{
    return scaling() ? int(m_dpiX / 96.0 * v) : v;
}

int DisplayScale::y(int v) const
{
    return scaling() ? int(m_dpiY / 96.0 * v) : v;
}

float DisplayScale::zoom() const
{
    return scaling() ? float(m_dpiY / 96.0) : 1.0f;
}
