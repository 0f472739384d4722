#pragma once

#include <QLoggingCategory>

// Silent unless enabled with QT_LOGGING_RULES="veltro.*=true": support's way to see why
// nothing was shown.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
