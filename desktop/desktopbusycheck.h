#pragma once

#include "desktop/busycheck.h"

// Asks the desktop. Busy on Windows whenever the shell would hold its own notifications back
// (a locked screen or screen saver, a full-screen application, presentation settings, a Windows
// Store app, the first hour after a user's first sign-in or after a system upgrade). Busy under X11
// when the active window is full screen or covers its screen, or when the session's screen saver
// or lock is on. Anything the desktop cannot say counts as free; a session bus that stalls is
// shunned for the rest of the start (Platform::shunSessionBus).
class DesktopBusyCheck : public BusyCheck
{
public:
    bool userIsBusy() const override;
};
