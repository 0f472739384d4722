// Feeds arbitrary message content to the popups, as the message manager hands it over: the
// first input byte picks the popup (0: the coupon popup, any other: the popup for that message
// type), the rest is the content's JSON text. The popups are made but never shown.

#include "net/strictjson.h"
#include "popup/windowpopupfactory.h"
#include "session/usercontext.h"

#include <QApplication>

#include <cstdint>
#include <memory>

namespace {

const UserContext &signedOut()
{
    static const UserContext user{Endpoints()};
    return user;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    // The popups are widgets; no display is needed to make them. Qt gets no fuzzer options.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int qtArgc = 1;
    static char *qtArgv[] = {(*argv)[0], nullptr};
    static QApplication application(qtArgc, qtArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    Json::Value content;
    if (!StrictJson::parse(
            QByteArray(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1)), content))
        return 0;
    WindowPopupFactory popups(signedOut());
    const std::unique_ptr<VeltroBase> popup =
        data[0] == 0 ? popups.createCouponPopup() : popups.createPopup(data[0]);
    popup->setContent(content);
    return 0;
}
