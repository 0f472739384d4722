// Draws the popup's artwork at build time, so that every image the program shows is its own.
// Only paths are drawn: no text, hence no fonts and no application object.

#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QString>

#include <cstdio>

namespace {

constexpr int LogoSize = 58;
constexpr int CloseSize = 30;

QImage transparentImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A deep blue tile, darker than the title bar it sits on so that it stands out, carrying a white
// lens with an "L" for Lumaview inside it. The strokes are thick because the title bar shows the
// logo at less than half its size without smoothing.
QImage drawLogo()
{
    QImage image = transparentImage(LogoSize);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient tile(0, 0, 0, LogoSize);
    tile.setColorAt(0, QColor(22, 104, 196));
    tile.setColorAt(1, QColor(10, 58, 138));
    painter.setPen(Qt::NoPen);
    painter.setBrush(tile);
    painter.drawRoundedRect(QRectF(1, 1, LogoSize - 2, LogoSize - 2), 13, 13);

    QPen stroke(Qt::white, 5.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(stroke);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(26, 26), 15, 15);

    QPainterPath letter;
    letter.moveTo(21, 18);
    letter.lineTo(21, 32);
    letter.lineTo(31, 32);
    stroke.setWidthF(5);
    painter.setPen(stroke);
    painter.drawPath(letter);

    // The lens's handle, pointing to the corner the popup slides into.
    stroke.setWidthF(7);
    painter.setPen(stroke);
    painter.drawLine(QPointF(38, 38), QPointF(46, 46));
    return image;
}

// The cross of the close button; on hover it sits on a red rounded tile.
QImage drawClose(bool hover)
{
    QImage image = transparentImage(CloseSize);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    if (hover) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(222, 64, 56));
        painter.drawRoundedRect(QRectF(1, 1, CloseSize - 2, CloseSize - 2), 5, 5);
    }
    painter.setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(10, 10), QPointF(20, 20));
    painter.drawLine(QPointF(20, 10), QPointF(10, 20));
    return image;
}

bool save(const QImage &image, const QDir &folder, const char *name)
{
    const QString path = folder.filePath(QString::fromLatin1(name));
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    const bool written = save(drawLogo(), folder, "logo.png") &&
        save(drawClose(false), folder, "close.png") &&
        save(drawClose(true), folder, "close_hover.png");
    return written ? 0 : 1;
}
