#pragma once

#include "session/linktarget.h"
#include "session/usercontext.h"

#include <QList>

// The signed-in user of a preview: where each link would lead is noted, and nothing is opened and
// no temporary session asked.
class PreviewUser : public UserContext
{
public:
    using UserContext::UserContext;

    void open(const LinkTarget &target) const override { opened.append(target); }

    mutable QList<LinkTarget> opened;
};
