#include "preview/previewrun.h"

#include "preview/contactsheet.h"
#include "preview/previewinput.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace {

// A start that takes longer has hung: the program's own bounds are far shorter.
constexpr int StartBoundMs = 60000;

} // namespace

std::optional<QJsonObject> PreviewRun::run(const PreviewInput &input, QString *error)
{
    QTemporaryDir answers;
    if (!QDir().mkpath(input.out)) {
        *error = QStringLiteral("cannot make the folder %1").arg(input.out);
        return std::nullopt;
    }
    const QStringList arguments = input.arguments(answers.path());
    std::vector<std::unique_ptr<QProcess>> starts;
    QStringList pictureFiles;
    for (const int dpi : Dpis) {
        pictureFiles << QDir(input.out).filePath(
            QStringLiteral("veltro-preview-%1dpi.png").arg(dpi));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("QT_FONT_DPI"), QString::number(dpi));
        // The popup scales itself for the DPI: Qt must not scale it again.
        environment.insert(QStringLiteral("QT_ENABLE_HIGHDPI_SCALING"), QStringLiteral("0"));
        // The program's diagnostics are the reasons the verdict gives.
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("veltro.*=true"));
        environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
        auto start = std::make_unique<QProcess>();
        start->setProcessEnvironment(environment);
        start->start(QCoreApplication::applicationFilePath(),
                     arguments + QStringList{QStringLiteral("--picture"), pictureFiles.last()});
        starts.push_back(std::move(start));
    }
    std::optional<QJsonObject> verdict;
    ContactSheet sheet;
    QJsonArray pictures;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        QProcess &start = *starts[i];
        if (!start.waitForFinished(StartBoundMs) || start.exitStatus() != QProcess::NormalExit ||
            start.exitCode() != 0) {
            start.kill();
            *error = QStringLiteral("the start at %1 DPI failed: %2")
                         .arg(Dpis[i])
                         .arg(QString::fromUtf8(start.readAllStandardError()));
            return std::nullopt;
        }
        const QImage drawn(pictureFiles[i]);
        if (!drawn.isNull()) {
            sheet.add(drawn,
                      QStringLiteral("%1 DPI: %2 x %3")
                          .arg(Dpis[i])
                          .arg(drawn.width())
                          .arg(drawn.height()));
            pictures.append(pictureFiles[i]);
        }
        // The verdict and its reasons are those of the first display, 96 DPI.
        if (i > 0)
            continue;
        verdict = QJsonDocument::fromJson(start.readAllStandardOutput()).object();
        QJsonArray reasons;
        for (const QByteArray &line : start.readAllStandardError().split('\n')) {
            if (line.startsWith("veltro."))
                reasons.append(QString::fromUtf8(line));
        }
        (*verdict)["reasons"] = reasons;
    }
    if (!pictures.isEmpty()) {
        const QString sheetFile =
            QDir(input.out).filePath(QStringLiteral("veltro-preview-sheet.png"));
        if (sheet.draw().save(sheetFile, "PNG"))
            pictures.append(sheetFile);
    }
    (*verdict)["pictures"] = pictures;
    return verdict;
}

QString PreviewRun::describe(const QJsonObject &verdict)
{
    QString text = verdict["shown"].toBool()
        ? QStringLiteral("Shown, in %1.\n").arg(verdict["popup"].toString())
        : QStringLiteral("Not shown.\n");
    const auto list = [&text](const char *heading, const QJsonArray &lines) {
        if (lines.isEmpty())
            return;
        text += QLatin1String(heading) + QStringLiteral(":\n");
        for (const QJsonValue &line : lines)
            text += QStringLiteral("  ") + line.toString() + QLatin1Char('\n');
    };
    list("Texts", verdict["texts"].toArray());
    QJsonArray links;
    for (const QJsonValue &link : verdict["links"].toArray()) {
        const QJsonObject entry = link.toObject();
        QString line = entry["from"].toString();
        if (entry.contains("link"))
            line += QStringLiteral(" (") + entry["link"].toString() + QLatin1Char(')');
        line += QStringLiteral(" opens ") + entry["opens"].toString();
        if (entry.contains("address"))
            line += QStringLiteral(": ") + entry["address"].toString();
        if (entry.contains("withoutSession"))
            line += QStringLiteral(" (without a session: ") + entry["withoutSession"].toString() +
                QLatin1Char(')');
        links.append(line);
    }
    list("Links", links);
    list("Why", verdict["reasons"].toArray());
    list("Pictures", verdict["pictures"].toArray());
    return text;
}
