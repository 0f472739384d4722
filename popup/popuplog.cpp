#include "popup/popuplog.h"

Q_LOGGING_CATEGORY(lcPopup, "veltro.popup", QtWarningMsg)
