#include "manager/managerlog.h"

Q_LOGGING_CATEGORY(lcManager, "veltro.manager", QtWarningMsg)
