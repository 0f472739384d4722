#pragma once

#include <QString>
#include <QStringList>

// The addresses of the vendor's web service: one base address (fixed when the program is built)
// followed by a path. Tests hand in a loopback base instead.
class Endpoints
{
public:
    Endpoints();
    explicit Endpoints(const QString &base);

    static QString builtInBase();
    // The hosts whose https pages may run their script in a web-page message, fixed when the
    // program is built.
    static QStringList scriptHosts();

    const QString &base() const { return m_base; }
    QString page(const QString &path) const { return m_base + path; }

    QString getMessage() const { return page(QStringLiteral("/message/getMessage")); }
    QString getTimingCoupon() const
    {
        return page(QStringLiteral("/couponActivity/getTimingCoupon"));
    }
    QString getTempSession() const { return page(QStringLiteral("/user/getTempSession")); }
    QString userSkip() const { return page(QStringLiteral("/user/skip")); }

    static QString userIndexPath() { return QStringLiteral("/user/index"); }
    static QString couponInfoPath() { return QStringLiteral("/mycenter/getCouponInfo"); }
    static QString homePath() { return QStringLiteral("/"); }

private:
    QString m_base;
};
