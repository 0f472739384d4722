#include "preview/previewdecision.h"

#include "desktop/busycheck.h"
#include "manager/msgmanager.h"
#include "net/endpoints.h"
#include "net/strictjson.h"
#include "popup/webpopupprocess.h"
#include "popup/webpopuprequest.h"
#include "preview/previewinput.h"
#include "preview/previewpopup.h"
#include "preview/previewpopupfactory.h"
#include "preview/previewuser.h"

#include <QApplication>
#include <QJsonArray>
#include <QLabel>
#include <QMouseEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextDocumentFragment>

namespace {

class NeverBusy : public BusyCheck
{
public:
    bool userIsBusy() const override { return false; }
};

// The first link a label's text holds.
QString linkOf(const QLabel *label)
{
    QTextDocument document;
    document.setHtml(label->text());
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isAnchor())
                return it.fragment().charFormat().anchorHref();
        }
    }
    return QString();
}

// A content's text as the popups read it; empty when it is none.
QString textOf(const Json::Value &content, const char *key)
{
    try {
        return StrictJson::textMember(content, key);
    } catch (const StrictJson::TypeError &) {
        return QString();
    }
}

QJsonObject describe(const QString &from, const QString &link, const LinkTarget &target,
                     const UserContext &user)
{
    QJsonObject entry{{"from", from}};
    if (!link.isEmpty())
        entry["link"] = link;
    switch (target.kind) {
    case LinkTarget::SignedIn:
        entry["opens"] = user.userId().isEmpty() ? "the site's page, nobody being signed in"
                                                 : "signed in through a temporary session";
        entry["address"] = user.userId().isEmpty()
            ? user.endpoints().page(target.where)
            : user.signedInAddress(QStringLiteral("SESSION"), target.where);
        entry["withoutSession"] = user.endpoints().page(target.where);
        break;
    case LinkTarget::WebAddress:
        entry["opens"] = "in the browser as it is";
        entry["address"] = target.where;
        break;
    case LinkTarget::Refused:
        entry["opens"] = "nothing: refused";
        break;
    }
    return entry;
}

} // namespace

QJsonObject PreviewDecision::run(const PreviewInput &input)
{
    // A first start's store, in a folder thrown away after: the manager fills in the day and its
    // full budget itself. Only what the user saw last is the preview's to say.
    QTemporaryDir folder;
    auto settings = std::make_unique<QSettings>(folder.filePath(QStringLiteral("store.ini")),
                                                QSettings::IniFormat);
    settings->setValue(QStringLiteral("CouponId"), input.couponId);
    if (input.lastId)
        settings->setValue(QStringLiteral("LastId"), *input.lastId);

    const PreviewUser user(Endpoints(Endpoints::builtInBase()), input.user, input.user);
    PreviewPopupFactory popups(user, {QStringLiteral("--picture"), input.picture});
    const NeverBusy notBusy;
    const auto answer = [&input, &user](const QString &address) -> std::optional<QByteArray> {
        if (address == user.endpoints().getMessage())
            return input.message;
        return input.coupon;
    };
    MsgManager manager(
        std::move(settings), user, popups, notBusy, [&input] { return input.today; }, answer);
    QJsonObject verdict{{"shown", manager.run()}};
    if (!verdict["shown"].toBool())
        return verdict;

    const PreviewPopup *shown = popups.shown();
    QJsonArray texts, links;
    const auto follow = [&](const QString &from, const QString &link, const auto &activate) {
        const qsizetype before = user.opened.size();
        activate();
        if (user.opened.size() > before)
            links.append(describe(from, link, user.opened.last(), user));
    };
    if (auto *window = qobject_cast<QWidget *>(shown->real())) {
        verdict["popup"] = window->metaObject()->className();
        window->grab().save(input.picture, "PNG");
        // A press in the middle, where the brief is, follows the message's link, as the user's
        // does.
        const QPoint middle = window->rect().center();
        QWidget *pressed = window->childAt(middle);
        const auto *brief = qobject_cast<const QLabel *>(pressed);
        follow(QStringLiteral("the popup's body"), brief ? linkOf(brief) : QString(), [&] {
            const QPointF at = pressed->mapFrom(window, QPointF(middle));
            QMouseEvent press(QEvent::MouseButtonPress, at, pressed->mapToGlobal(at),
                              Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(pressed, &press);
        });
        for (QLabel *label : window->findChildren<QLabel *>()) {
            const QString text = QTextDocumentFragment::fromHtml(label->text()).toPlainText();
            if (text.isEmpty())
                continue;
            texts.append(text);
            const QString link = linkOf(label);
            if (!link.isEmpty())
                follow(text, link, [label, &link] { emit label->linkActivated(link); });
        }
    } else {
        // The helper has drawn the page as the user would see it, and ended.
        verdict["popup"] = "VeltroWebContent";
        const Json::Value &content = shown->content();
        const QString jmpUrl = textOf(content, "jmpUrl");
        if (!jmpUrl.isEmpty())
            follow(QStringLiteral("the Detail link"), jmpUrl, [&] {
                user.open(WebPopupRequest::linkTarget(
                    WebPopupRequest::encodeLink(jmpUrl, LinkTarget::Message) + '\n', content,
                    user.endpoints()));
            });
        links.append(QJsonObject{{"from", "a link in the page"},
                                 {"opens", "in the browser as it is, when http or https"}});
    }
    verdict["texts"] = texts;
    verdict["links"] = links;
    return verdict;
}
