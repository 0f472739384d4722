#pragma once

#include <QLoggingCategory>

// What the message manager made of the service's answers; silent unless enabled with
// QT_LOGGING_RULES="veltro.*=true", support's way to see why nothing was shown.
Q_DECLARE_LOGGING_CATEGORY(lcManager)
