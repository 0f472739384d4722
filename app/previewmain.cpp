#include "net/endpoints.h"
#include "net/polledget.h"
#include "preview/previewdecision.h"
#include "preview/previewinput.h"
#include "preview/previewrun.h"
#include "resources/catalogues.h"

#include <QApplication>
#include <QJsonDocument>

#include <cstdio>

// Shows the vendor's people what the program would make of a message or a coupon, and changes
// nothing: exit code 0 when it would be shown, 1 when not, 2 when the input is unusable.
int main(int argc, char *argv[])
{
    // Drawn off screen, whatever display the author has.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Catalogues::install();

    QString error;
    std::optional<PreviewInput> input = PreviewInput::parse(QApplication::arguments(), &error);
    if (input && input->live) {
        const std::optional<QByteArray> answer =
            PolledGet::fetch(Endpoints(Endpoints::builtInBase()).getMessage());
        if (answer)
            input->message = *answer;
        else
            error = QStringLiteral("the service gave no answer");
    }
    if (!input || (input->live && input->message.isEmpty())) {
        std::fprintf(stderr, "veltro-preview: %s\n", qPrintable(error));
        return 2;
    }
    if (!input->picture.isEmpty()) {
        std::fputs(QJsonDocument(PreviewDecision::run(*input)).toJson().constData(), stdout);
        return 0;
    }
    const std::optional<QJsonObject> verdict = PreviewRun::run(*input, &error);
    if (!verdict) {
        std::fprintf(stderr, "veltro-preview: %s\n", qPrintable(error));
        return 2;
    }
    const QByteArray output =
        input->json ? QJsonDocument(*verdict).toJson() : PreviewRun::describe(*verdict).toUtf8();
    std::fputs(output.constData(), stdout);
    return (*verdict)["shown"].toBool() ? 0 : 1;
}
