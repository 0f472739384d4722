#include "preview/previewinput.h"

#include <QCommandLineParser>
#include <QFile>

namespace {

std::optional<QByteArray> readFile(const QString &name, QString *error)
{
    QFile file;
    const bool opened = name == QLatin1String("-")
        ? file.open(stdin, QIODevice::ReadOnly)
        : (file.setFileName(name), file.open(QIODevice::ReadOnly));
    if (!opened) {
        *error = QStringLiteral("cannot read %1: %2").arg(name, file.errorString());
        return std::nullopt;
    }
    return file.readAll();
}

} // namespace

std::optional<PreviewInput> PreviewInput::parse(const QStringList &arguments, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Shows what Veltro would make of a message before it ships: the verdict, the texts, the "
        "links and the popup drawn at 96, 120, 144 and 168 DPI. Changes nothing: no store, no "
        "budget, no browser, no temporary session."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("A /message/getMessage answer ('-' or none: "
                                                "standard input)."),
                                 QStringLiteral("[file]"));
    const QCommandLineOption live(QStringLiteral("live"),
                                  QStringLiteral("Ask the built-in service once instead."));
    const QCommandLineOption coupon(QStringLiteral("coupon"),
                                    QStringLiteral("A /couponActivity/getTimingCoupon answer."),
                                    QStringLiteral("file"));
    const QCommandLineOption today(QStringLiteral("today"),
                                   QStringLiteral("The day of the start (default: today)."),
                                   QStringLiteral("yyyy-MM-dd"));
    const QCommandLineOption user(QStringLiteral("user"),
                                  QStringLiteral("The signed-in user (default: preview; empty: "
                                                 "nobody)."),
                                  QStringLiteral("name"), QStringLiteral("preview"));
    const QCommandLineOption lastId(QStringLiteral("last-id"),
                                    QStringLiteral("The message the user saw last."),
                                    QStringLiteral("n"));
    const QCommandLineOption couponId(QStringLiteral("coupon-id"),
                                      QStringLiteral("The coupon whose popup the user saw last."),
                                      QStringLiteral("id"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("The verdict as JSON."));
    const QCommandLineOption out(QStringLiteral("out"),
                                 QStringLiteral("Folder for the pictures (default: .)."),
                                 QStringLiteral("folder"), QStringLiteral("."));
    QCommandLineOption picture(QStringLiteral("picture"), QString(), QStringLiteral("png"));
    picture.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({live, coupon, today, user, lastId, couponId, json, out, picture});
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return std::nullopt;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp();

    PreviewInput input;
    input.live = parser.isSet(live);
    input.json = parser.isSet(json);
    input.out = parser.value(out);
    input.picture = parser.value(picture);
    input.user = parser.value(user);
    input.couponId = parser.value(couponId);
    input.today = parser.isSet(today)
        ? QDate::fromString(parser.value(today), QStringLiteral("yyyy-MM-dd"))
        : QDate::currentDate();
    if (!input.today.isValid()) {
        *error = QStringLiteral("--today wants a date as yyyy-MM-dd");
        return std::nullopt;
    }
    if (parser.isSet(lastId)) {
        bool ok = false;
        input.lastId = parser.value(lastId).toUInt(&ok, 10);
        if (!ok) {
            *error = QStringLiteral("--last-id wants a message id");
            return std::nullopt;
        }
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1 || (input.live && !files.isEmpty())) {
        *error = QStringLiteral("one message at a time: a file, standard input or --live");
        return std::nullopt;
    }
    if (parser.isSet(coupon) && !(input.coupon = readFile(parser.value(coupon), error)))
        return std::nullopt;
    // A coupon on its own is previewed on a day without a message.
    if (!input.live && (!files.isEmpty() || !input.coupon)) {
        const std::optional<QByteArray> message = readFile(files.value(0, "-"), error);
        if (!message)
            return std::nullopt;
        input.message = *message;
    } else if (!input.live) {
        input.message = R"({"ret":0})";
    }
    return input;
}

QStringList PreviewInput::arguments(const QString &folder) const
{
    const auto keep = [&folder](const QString &name, const QByteArray &bytes) {
        QFile file(folder + QLatin1Char('/') + name);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()
            ? file.fileName()
            : QString();
    };
    QStringList list{keep(QStringLiteral("message.json"), message),
                     QStringLiteral("--today"),
                     today.toString(Qt::ISODate),
                     QStringLiteral("--user"),
                     user,
                     QStringLiteral("--coupon-id"),
                     couponId};
    if (coupon)
        list << QStringLiteral("--coupon") << keep(QStringLiteral("coupon.json"), *coupon);
    if (lastId)
        list << QStringLiteral("--last-id") << QString::number(*lastId);
    return list;
}
