#pragma once

// Whether the user is in the middle of something that a popup must not interrupt.
class BusyCheck
{
public:
    virtual ~BusyCheck() = default;

    virtual bool userIsBusy() const = 0;
};
