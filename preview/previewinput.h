#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

// What a preview is asked: the service's answers, and the user and day they are judged for.
class PreviewInput
{
public:
    // Reads the command line and the files it names; error tells why when nothing comes back.
    static std::optional<PreviewInput> parse(const QStringList &arguments, QString *error);
    // The same preview for another process, with the answers in files of folder.
    QStringList arguments(const QString &folder) const;

    // The getMessage answer; empty with --live until the service was asked.
    QByteArray message;
    // The getTimingCoupon answer; none: that request fails.
    std::optional<QByteArray> coupon;
    QDate today;
    QString user;
    std::optional<quint32> lastId;
    QString couponId;
    bool live = false;
    bool json = false;
    QString out;
    // Drawn into this file, by a process of the preview's own.
    QString picture;
};
