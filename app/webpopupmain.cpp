#include "desktop/platform.h"
#include "net/endpoints.h"
#include "popup/popuplog.h"
#include "popup/veltrowebcontent.h"
#include "popup/webpopuprequest.h"
#include "resources/catalogues.h"
#include "session/usercontext.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QLoggingCategory>
#include <QTimer>

namespace {

// The program hands the request over as soon as the helper runs.
constexpr int RequestBoundMs = 5000;
// The slide into place, and the page's first frames.
constexpr int PictureSettleMs = 600;

} // namespace

// Shows the web-page popup for the program, which starts it with the request on standard input
// and reads the report from what was standard output, and opens the link the user chose.
int main(int argc, char *argv[])
{
    // Before the engine starts a process: each would inherit standard output, the report's
    // channel, and could speak for the user there. Chromium's own log goes to standard error,
    // which reaches the program's only when support asks for its diagnostics.
    const std::unique_ptr<QFile> channel =
        Platform::privateStandardOutput(lcPopup().isDebugEnabled());
    if (!channel)
        return 1;
    const auto report = [&channel](const QByteArray &line) { channel->write(line + '\n'); };

    Platform::prepareDisplay();
    // The engine reports its start-up on stderr; the program writes no log unless asked to,
    // and the user's own QT_LOGGING_RULES still win over this.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    QApplication app(argc, argv);
    Platform::restoreEnvironment();
    Platform::substituteFonts();
    Catalogues::install();
    // For the vendor's preview of a message: the popup is drawn into a file once it has landed,
    // and the helper ends without waiting for the user.
    QCommandLineParser options;
    const QCommandLineOption picture(QStringLiteral("picture"), QString(), QStringLiteral("png"));
    options.addOption(picture);
    options.process(app);

    std::optional<WebPopupRequest> request = WebPopupRequest::receive(RequestBoundMs);
    if (!request) {
        report(WebPopupRequest::Failed);
        return 0;
    }
    // The popup opens nothing itself: it needs no signed-in user.
    const UserContext nobody{Endpoints()};
    auto *popup = new VeltroWebContent(nobody);
    popup->setContent(request->content);
    QObject::connect(popup, &VeltroWebContent::linkChosen,
                     [&report](const QString &link, LinkTarget::Rule rule) {
                         // The click was this process's input: the program and the browser it
                         // starts may come to the front.
                         Platform::allowForegroundChange();
                         report(WebPopupRequest::encodeLink(link, rule));
                     });
    if (!popup->showPopup()) {
        delete popup;
        report(WebPopupRequest::Failed);
        return 0;
    }
    if (options.isSet(picture)) {
        // The page paints its first frames after it has loaded.
        QTimer::singleShot(PictureSettleMs, &app, [&] {
            const bool drawn = popup->grab().save(options.value(picture), "PNG");
            delete popup;
            report(drawn ? WebPopupRequest::Shown : WebPopupRequest::Failed);
            QCoreApplication::exit();
        });
    } else {
        report(WebPopupRequest::Shown);
    }
    return QApplication::exec();
}
