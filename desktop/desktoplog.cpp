#include "desktop/desktoplog.h"

Q_LOGGING_CATEGORY(lcApp, "veltro.app", QtWarningMsg)
