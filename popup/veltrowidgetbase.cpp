#include "popup/veltrowidgetbase.h"

#include "net/strictjson.h"
#include "popup/popuplog.h"
#include "session/linktarget.h"
#include "session/usercontext.h"

#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char *const LinkStyle = "<style>a{text-decoration:none;color:rgb(0,128,255);}</style>";
const char *const TextFont = "font-family:\"Microsoft YaHei\";font:10pt;";

// A title or brief longer than this cannot fit the 300 x 130 body, whatever its markup.
constexpr int MaxTextLength = 400;
// The document and one level of tables. Each table laid out inside another multiplies the cost
// of its cells: ten levels took 0.1 s, twenty more than two minutes. Within these bounds the
// slowest texts (a table of 100 cells as the title and as the brief) lay out in about 30 ms.
constexpr int MaxFrameDepth = 2;

bool isOwnResource(const QString &name)
{
    return name.startsWith(QLatin1String(":/")) ||
        name.startsWith(QLatin1String("qrc:/"), Qt::CaseInsensitive);
}

// Reads a service text without loading anything it names, noting whether it names a style
// sheet or an image from outside the program. A label would read such a name from disk.
class ServiceText : public QTextDocument
{
public:
    bool namesOutsideResource = false;

protected:
    QVariant loadResource(int, const QUrl &name) override
    {
        namesOutsideResource = namesOutsideResource || !isOwnResource(name.toString());
        return QVariant();
    }
};

int frameDepth(const QTextFrame *frame)
{
    int deepest = 0;
    for (const QTextFrame *child : frame->childFrames())
        deepest = std::max(deepest, frameDepth(child));
    return deepest + 1;
}

bool namesOutsideImage(const QTextDocument &document)
{
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat() && !isOwnResource(format.toImageFormat().name()))
                return true;
        }
    }
    return false;
}

// Whether a label can show this text from the service: small and shallow enough to lay out in
// the body at once, and naming nothing from outside the program that the label would load.
bool isShowable(const QString &text)
{
    if (text.size() > MaxTextLength)
        return false;
    ServiceText document;
    document.setHtml(text);
    return !document.namesOutsideResource && frameDepth(document.rootFrame()) <= MaxFrameDepth &&
        !namesOutsideImage(document);
}

} // namespace

VeltroWidgetBase::VeltroWidgetBase(const UserContext &user, QWidget *parent)
    : QWidget(parent), user(user)
{
    installEventFilter(this);
}

VeltroWidgetBase::~VeltroWidgetBase() = default;

void VeltroWidgetBase::setContent(const Json::Value &content)
{
    title.clear();
    brief.clear();
    jmpUrl.clear();
    try {
        title = StrictJson::textMember(content, "title");
        brief = StrictJson::textMember(content, "brief");
        jmpUrl = StrictJson::textMember(content, "jmpUrl");
    } catch (const StrictJson::TypeError &error) {
        qCDebug(lcPopup) << "message content read in part:" << error.what();
    }
}

bool VeltroWidgetBase::hasContent()
{
    if (title.isEmpty() || brief.isEmpty()) {
        qCDebug(lcPopup) << "nothing to show: the message lacks a title or a brief text";
        return false;
    }
    if (!isShowable(title) || !isShowable(brief)) {
        qCDebug(lcPopup) << "nothing to show: a text is too large or too deeply nested for the "
                            "popup, or names a file or address to load";
        return false;
    }
    return true;
}

bool VeltroWidgetBase::showPopup()
{
    if (!hasContent())
        return false;
    initWindow();
    return popUp();
}

void VeltroWidgetBase::initWindow()
{
    setStyleSheet(QStringLiteral("background-color:rgb(238, 242, 248)"));
    setFixedSize(UserContext::scaledX(300), UserContext::scaledY(200));
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    if (!parentWidget()) {
        // The user is working in the viewer: the popup must not take the keyboard from it, neither
        // when it shows nor when it is clicked.
        setWindowFlags(windowFlags() | Qt::Tool | Qt::WindowDoesNotAcceptFocus);
        setAttribute(Qt::WA_QuitOnClose);
        setAttribute(Qt::WA_DeleteOnClose);
        setAttribute(Qt::WA_ShowWithoutActivating);
    }
    createTitleBar();
    createBody();
    createBottomBar();
}

void VeltroWidgetBase::createTitleBar()
{
    auto *titleBar = new QWidget(this);
    titleBar->setFixedSize(UserContext::scaledX(300), UserContext::scaledY(30));
    titleBar->setStyleSheet(QStringLiteral("background-color: rgb(7,167,237);"));
    auto *layout = new QHBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);

    const QPixmap logo = QPixmap(QStringLiteral(":/Veltro/Images/logo.png"))
                             .scaledToHeight(UserContext::scaledY(24), Qt::FastTransformation);
    auto *logoLabel = new QLabel(titleBar);
    logoLabel->setFixedSize(UserContext::scaledX(24), UserContext::scaledY(24));
    logoLabel->setPixmap(logo);
    logoLabel->setAlignment(Qt::AlignCenter);

    auto *titleLabel = new QLabel(tr("Lumaview"), titleBar);
    titleLabel->setStyleSheet(
        QStringLiteral("font-family:\"Microsoft YaHei\";font:10pt;color:white;"));

    auto *closeButton = new QPushButton(titleBar);
    closeButton->setFixedSize(UserContext::scaledX(24), UserContext::scaledY(24));
    closeButton->setFocusPolicy(Qt::NoFocus);
    closeButton->setToolTip(tr("Close"));
    closeButton->setAccessibleName(tr("Close"));
    closeButton->setStyleSheet(QStringLiteral(
        "QPushButton{border-image:url(:/Veltro/Images/close.png);}"
        "QPushButton:hover:pressed{border-image:url(:/Veltro/Images/close_hover.png);}"
        "QPushButton:hover:!pressed{border-image:url(:/Veltro/Images/close_hover.png);}"));

    layout->addSpacing(UserContext::scaledX(10));
    layout->addWidget(logoLabel);
    layout->addWidget(titleLabel);
    layout->addStretch();
    layout->addWidget(closeButton);
    layout->addSpacing(UserContext::scaledX(3));
    titleBar->setLayout(layout);
    titleBar->move(0, 0);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
}

QString VeltroWidgetBase::linkOpening(const QString &url)
{
    // Escaped so that an address from the service stays inside the attribute and keeps its
    // query as written ("&copy;" must not become a character).
    return QStringLiteral("<a href=\"%1\"").arg(url.toHtmlEscaped());
}

void VeltroWidgetBase::createBody()
{
    bodyWidget = new QWidget(this);
    bodyWidget->setFixedSize(UserContext::scaledX(300), UserContext::scaledY(130));

    QString titleText = title;
    QString briefText = brief;
    if (!jmpUrl.isEmpty()) {
        const QString prefix =
            linkOpening(jmpUrl) + QStringLiteral(" style=\"text-decoration:none;color:black;\">");
        titleText = prefix + title + QStringLiteral("</a>");
        briefText = prefix + brief + QStringLiteral("</a>");
    }

    // The labels leave links alone and pass presses on to the body, which follows the message's
    // link wherever it is pressed.
    auto *titleLabel = new QLabel(titleText, bodyWidget);
    titleLabel->setTextInteractionFlags(Qt::NoTextInteraction);
    titleLabel->setFixedHeight(UserContext::scaledY(30));
    titleLabel->setStyleSheet(QStringLiteral("font-family:\"Microsoft YaHei\";font:12pt;"));
    titleLabel->setAlignment(Qt::AlignCenter);
    titleLabel->setFixedWidth(UserContext::scaledX(300));

    auto *briefLabel = new QLabel(briefText, bodyWidget);
    briefLabel->setTextInteractionFlags(Qt::NoTextInteraction);
    briefLabel->setWordWrap(true);
    briefLabel->setStyleSheet(QString::fromLatin1(TextFont));
    briefLabel->setContentsMargins(UserContext::scaledX(20), 0, UserContext::scaledX(20), 0);
    briefLabel->setAlignment(Qt::AlignTop);
    briefLabel->setFixedWidth(UserContext::scaledX(300));

    auto *layout = new QVBoxLayout(bodyWidget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addSpacing(UserContext::scaledY(5));
    layout->addWidget(titleLabel);
    layout->addSpacing(UserContext::scaledY(5));
    layout->addWidget(briefLabel);
    bodyWidget->move(0, UserContext::scaledY(30));
    bodyWidget->installEventFilter(this);
}

QWidget *VeltroWidgetBase::addBottomBar()
{
    auto *bottomBar = new QWidget(this);
    bottomBar->setFixedSize(UserContext::scaledX(300), UserContext::scaledY(40));
    bottomBar->move(0, UserContext::scaledY(160));
    return bottomBar;
}

QLabel *VeltroWidgetBase::addBottomLink(QWidget *bottomBar, const QString &url, const QString &text)
{
    auto *link = new QLabel(bottomBar);
    link->setText(QString::fromLatin1(LinkStyle) + linkOpening(url) + QStringLiteral(">") + text +
                  QStringLiteral("</a>"));
    link->setStyleSheet(QString::fromLatin1(TextFont));
    link->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    link->setAccessibleName(text);

    auto *layout = new QHBoxLayout;
    layout->setAlignment(Qt::AlignRight);
    layout->addWidget(link);
    bottomBar->setLayout(layout);
    connect(link, &QLabel::linkActivated, this, &VeltroWidgetBase::onJumpURL);
    return link;
}

void VeltroWidgetBase::createBottomBar()
{
    QWidget *bottomBar = addBottomBar();
    if (jmpUrl.isEmpty())
        return;
    addBottomLink(bottomBar, jmpUrl, tr("Detail"))->setFixedWidth(UserContext::scaledX(60));
}

bool VeltroWidgetBase::popUp()
{
    if (parentWidget())
        return true;
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        qCDebug(lcPopup) << "no screen to show the popup on";
        return false;
    }
    // The primary screen alone decides: on a desktop of several screens the popup belongs in the
    // corner of the main one, above its task bar.
    const QRect available = screen->availableGeometry();
    move(available.right() - width() + 1, screen->geometry().bottom() + 1);
    show();

    auto *slideIn = new QPropertyAnimation(this, "geometry", this);
    slideIn->setStartValue(geometry());
    QRect inPlace = geometry();
    inPlace.moveTop(available.bottom() - height() + 1);
    slideIn->setEndValue(inPlace);
    slideIn->setDuration(200);
    slideIn->setEasingCurve(QEasingCurve::Linear);
    // Where it ends up, and the work area it belongs in, tell support whether a task bar hid it.
    connect(slideIn, &QPropertyAnimation::finished, this, [this, available] {
        qCDebug(lcPopup) << "popup in place" << geometry() << "in the work area" << available;
    });
    slideIn->start(QAbstractAnimation::KeepWhenStopped);
    return true;
}

void VeltroWidgetBase::onJumpURL(QString url)
{
    user.open(LinkTarget::of(url, LinkTarget::Message, user.endpoints()));
    close();
}

bool VeltroWidgetBase::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == this) {
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            const auto *press = static_cast<QMouseEvent *>(event);
            const QPoint position = press->position().toPoint();
            if (press->button() == Qt::LeftButton && rect().contains(position)) {
                pressPoint = position;
                dragging = true;
            }
            break;
        }
        case QEvent::MouseMove:
            if (dragging) {
                const QPoint position = static_cast<QMouseEvent *>(event)->position().toPoint();
                move(x() + position.x() - pressPoint.x(), y() + position.y() - pressPoint.y());
            }
            break;
        case QEvent::MouseButtonRelease:
            dragging = false;
            break;
        default:
            break;
        }
    } else if (watched == bodyWidget && event->type() == QEvent::MouseButtonPress) {
        onJumpURL(jmpUrl);
    }
    return QWidget::eventFilter(watched, event);
}
