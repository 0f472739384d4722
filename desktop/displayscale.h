#pragma once

#include <QtGlobal>

// Turns popup sizes, written for a 96 DPI display, into device pixels. Displays up to 120 DPI
// keep the written sizes; above that each axis grows by its DPI / 96.
class DisplayScale
{
public:
    DisplayScale(qreal dpiX, qreal dpiY);

    // The primary screen's logical DPI (96 when there is no screen).
    static DisplayScale current();

    int x(int v) const;
    int y(int v) const;
    // Zoom for web content; follows the vertical DPI on both axes.
    float zoom() const;

private:
    bool scaling() const;

    qreal m_dpiX;
    qreal m_dpiY;
};
