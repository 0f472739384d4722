#include "popup/veltropagelink.h"

#include "net/strictjson.h"
#include "net/webaddress.h"
#include "popup/popuplog.h"

#include <QUrl>

VeltroPageLink::VeltroPageLink(const UserContext &user, QWidget *parent)
    : VeltroWidgetBase(user, parent)
{
}

void VeltroPageLink::setContent(const Json::Value &content)
{
    VeltroWidgetBase::setContent(content);
    // The page takes the place of a plain message's link.
    jmpUrl.clear();
    try {
        const QString page = StrictJson::textMember(content, "contentUrl");
        if (Net::isWebAddress(QUrl(page)))
            jmpUrl = page;
    } catch (const StrictJson::TypeError &error) {
        qCDebug(lcPopup) << "unusable web page message:" << error.what();
    }
}

bool VeltroPageLink::hasContent()
{
    // As with the helper: a page message without a page to open shows nothing.
    if (jmpUrl.isEmpty()) {
        qCDebug(lcPopup) << "nothing to show: the web page message lacks an http or https "
                            "contentUrl";
        return false;
    }
    return VeltroWidgetBase::hasContent();
}
