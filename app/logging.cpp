#include "app/logging.h"

Q_LOGGING_CATEGORY(lcApp, "veltro.app", QtWarningMsg)
Q_LOGGING_CATEGORY(lcNet, "veltro.net", QtWarningMsg)
Q_LOGGING_CATEGORY(lcManager, "veltro.manager", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPopup, "veltro.popup", QtWarningMsg)
