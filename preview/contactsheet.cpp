#include "preview/contactsheet.h"

#include <QPainter>

#include <algorithm>

namespace {

constexpr int Margin = 16;
constexpr int LabelHeight = 28;

} // namespace

void ContactSheet::add(const QImage &picture, const QString &label)
{
    pictures.append({picture, label});
}

QImage ContactSheet::draw() const
{
    int width = Margin;
    int height = 0;
    for (const auto &[picture, label] : pictures) {
        width += picture.width() + Margin;
        height = std::max(height, picture.height());
    }
    QImage sheet(width, Margin + height + LabelHeight, QImage::Format_RGB32);
    sheet.fill(QColor(96, 96, 96));
    QPainter painter(&sheet);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(14);
    painter.setFont(font);
    int x = Margin;
    for (const auto &[picture, label] : pictures) {
        painter.drawImage(x, Margin, picture);
        painter.drawText(QRect(x, Margin + height, picture.width(), LabelHeight), Qt::AlignCenter,
                         label);
        x += picture.width() + Margin;
    }
    return sheet;
}
