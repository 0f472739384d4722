#pragma once

#include <QLoggingCategory>

// What the popups showed, refused or opened; silent unless enabled with
// QT_LOGGING_RULES="veltro.*=true", support's way to see why nothing was shown.
Q_DECLARE_LOGGING_CATEGORY(lcPopup)
