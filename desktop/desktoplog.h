#pragma once

#include <QLoggingCategory>

// The program's own category, for its start, the desktop and the signed-in user. Silent unless
// enabled with QT_LOGGING_RULES="veltro.*=true": support's way to see why nothing was shown.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
