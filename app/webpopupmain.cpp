#include "app/catalogues.h"
#include "app/platform.h"
#include "app/usercontext.h"
#include "popup/veltrowebcontent.h"
#include "popup/webpopuprequest.h"

#include <QApplication>
#include <QLoggingCategory>

#include <cstdio>

namespace {

// The program hands the request over as soon as the helper runs.
constexpr int RequestBoundMs = 5000;

void report(const char *answer)
{
    std::printf("%s\n", answer);
    std::fflush(stdout);
}

} // namespace

// Shows the web-page popup for the program, which starts it with the request on standard input
// and reads the report from standard output.
int main(int argc, char *argv[])
{
    Platform::prepareDisplay();
    // The engine reports its start-up on stderr; the program writes no log unless asked to,
    // and the user's own QT_LOGGING_RULES still win over this.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    QApplication app(argc, argv);
    Platform::restoreEnvironment();
    Platform::substituteFonts();
    Catalogues::install();

    std::optional<WebPopupRequest> request = WebPopupRequest::receive(RequestBoundMs);
    if (!request) {
        report(WebPopupRequest::Failed);
        return 0;
    }
    const UserContext user(request->service, request->userId, request->userName);
    auto *popup = new VeltroWebContent(user);
    popup->setContent(request->content);
    if (!popup->showPopup()) {
        delete popup;
        report(WebPopupRequest::Failed);
        return 0;
    }
    report(WebPopupRequest::Shown);
    return QApplication::exec();
}
