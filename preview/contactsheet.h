#pragma once

#include <QImage>
#include <QList>
#include <QString>

// The popup at every DPI side by side, each with its DPI written under it.
class ContactSheet
{
public:
    void add(const QImage &picture, const QString &label);
    QImage draw() const;

private:
    QList<std::pair<QImage, QString>> pictures;
};
