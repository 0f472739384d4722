#include "popup/veltrodefault.h"

#include "net/endpoints.h"
#include "session/usercontext.h"

VeltroDefault::VeltroDefault(const UserContext &user, QWidget *parent)
    : VeltroWidgetBase(user, parent)
{
}

void VeltroDefault::setContent(const Json::Value &)
{
    title = QObject::tr("You got a message");
    brief = QObject::tr("Please update to the newest version to read this message");
    jmpUrl = user.endpoints().page(Endpoints::homePath());
}
