#pragma once

#include <json/value.h>

// What the message manager asks of every popup.
class VeltroBase
{
public:
    virtual ~VeltroBase() = default;

    virtual void setContent(const Json::Value &content) = 0;
    // True when the popup is now showing.
    virtual bool showPopup() = 0;
    // True when the manager must keep the object and delete it later; windows delete themselves.
    virtual bool keepByManager() { return true; }
};
