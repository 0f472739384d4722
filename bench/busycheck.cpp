// Times the busy check as a start makes it: once, in a fresh process that has just connected to
// the display. Prints "<milliseconds> <busy|free>".

#include "desktop/desktopbusycheck.h"

#include <QElapsedTimer>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const DesktopBusyCheck desktop;
    QElapsedTimer clock;
    clock.start();
    const bool busy = desktop.userIsBusy();
    std::printf("%.3f %s\n", double(clock.nsecsElapsed()) / 1e6, busy ? "busy" : "free");
    return 0;
}
