#pragma once

#include <QLoggingCategory>

// Requests to the service and how they ended; silent unless enabled with
// QT_LOGGING_RULES="veltro.*=true", support's way to see why nothing was shown.
Q_DECLARE_LOGGING_CATEGORY(lcNet)
