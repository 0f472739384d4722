#include "net/netlog.h"

Q_LOGGING_CATEGORY(lcNet, "veltro.net", QtWarningMsg)
