#include "popup/veltrowebcontent.h"

#include "net/endpoints.h"
#include "net/strictjson.h"
#include "net/webaddress.h"
#include "popup/delegatingwebpage.h"
#include "popup/popuplog.h"
#include "session/usercontext.h"

#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

// A page that has not loaded by then is taken as failed: the user would see an empty popup.
constexpr int LoadBoundMs = 15000;

// An HTTP error status fails the load (loadFinished reports false) even when the server sends a
// page of its own; only this report says why.
void logLoadFailure(const QWebEngineLoadingInfo &info)
{
    if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus)
        qCDebug(lcPopup) << "the page failed to load:" << info.url() << info.errorDomain()
                         << info.errorCode();
}

} // namespace

VeltroWebContent::VeltroWebContent(const UserContext &user, QWidget *parent)
    : VeltroWidgetBase(user, parent)
{
}

void VeltroWebContent::setContent(const Json::Value &content)
{
    VeltroWidgetBase::setContent(content);
    contentUrl.clear();
    try {
        contentUrl = StrictJson::textMember(content, "contentUrl");
    } catch (const StrictJson::TypeError &error) {
        qCDebug(lcPopup) << "unusable contentUrl:" << error.what();
    }
}

bool VeltroWebContent::hasContent()
{
    // The page takes the place of the texts: they must be there, but are never laid out.
    if (contentUrl.isEmpty() || title.isEmpty() || brief.isEmpty()) {
        qCDebug(lcPopup) << "nothing to show: the message lacks a title, a brief text or a "
                            "contentUrl";
        return false;
    }
    return true;
}

void VeltroWebContent::createBody()
{
    // Any other scheme would let the service point the engine at local files or at the
    // desktop's handlers; such an address is never handed to Chromium.
    const QUrl address(contentUrl);
    if (!Net::isWebAddress(address)) {
        qCDebug(lcPopup) << "refused to load" << contentUrl << "- not an http or https address";
        onLoadFineshed(false);
        return;
    }

    // The view covers the whole body and bodyWidget stays unset: a press on the page is for the
    // page, not a press on the message's link.
    webView = new QWebEngineView(this);
    auto *page = new DelegatingWebPage(webView, Endpoints::scriptHosts());
    webView->setPage(page);
    webView->move(0, UserContext::scaledY(30));
    webView->setFixedSize(UserContext::scaledX(300), UserContext::scaledY(130));
    webView->setContextMenuPolicy(Qt::NoContextMenu);
    webView->settings()->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    webView->setZoomFactor(UserContext::zoomFactor());

    connect(webView, &QWebEngineView::loadFinished, this, &VeltroWebContent::onLoadFineshed);
    connect(page, &QWebEnginePage::loadingChanged, this, &logLoadFailure);
    connect(page, &DelegatingWebPage::linkClicked, this, &VeltroWebContent::onWebLinkClick);
    // Without its renderer the page is gone: a page still loading has failed, a popup on screen
    // would stay empty and goes as after its close button.
    connect(page, &QWebEnginePage::renderProcessTerminated, this, [this] {
        if (loadFinished)
            close();
        else
            onLoadFineshed(false);
    });
    page->loadPage(address);
}

bool VeltroWebContent::popUp()
{
    hide();
    if (!loadFinished) {
        QTimer bound;
        bound.setSingleShot(true);
        bound.setTimerType(Qt::PreciseTimer);
        connect(&bound, &QTimer::timeout, &pageWait, &QEventLoop::quit);
        bound.start(LoadBoundMs);
        pageWait.exec();
        if (!loadFinished)
            qCDebug(lcPopup) << "the page did not load within" << LoadBoundMs
                             << "ms:" << contentUrl;
    }
    if (loadFinished && loadOk) {
        // The frame places and shows a window itself; a popup inside a parent stays where it is.
        if (parentWidget())
            show();
        return VeltroWidgetBase::popUp();
    }
    if (!parentWidget()) {
        // It was never on screen: its closing is no last window closing, and must not end the
        // application under a popup shown after it.
        setAttribute(Qt::WA_QuitOnClose, false);
        close();
    }
    return false;
}

void VeltroWebContent::onLoadFineshed(bool ok)
{
    loadOk = ok;
    loadFinished = true;
    pageWait.quit();
}

void VeltroWebContent::onWebLinkClick(QUrl url)
{
    // Only the user's click on a page on screen gets here: the page never sees a button.
    emit linkChosen(url.toString(QUrl::FullyEncoded), LinkTarget::Web);
    close();
}

void VeltroWebContent::onJumpURL(QString url)
{
    emit linkChosen(url, LinkTarget::Message);
    close();
}
