#pragma once

#include <QString>

#include <memory>

class QFile;
class QProcess;
class QSettings;

// What differs between Windows and the other desktops, behind one interface.
namespace Platform {

// Called before the application object exists. The popup scales itself by the display's DPI, so
// Qt's own scaling stays off unless the user asked for it; under Wayland with XWayland at hand,
// xcb is preferred because a Wayland client cannot place its own window.
void prepareDisplay();

// Called once the application object exists, which has read those settings, and before the
// browser starts: takes back what prepareDisplay and shunSessionBus set, so that the browser and
// other programs started from here do not inherit them. The web helper makes the same choices
// for itself.
void restoreEnvironment();

// The session bus took the connection and then stalled. Qt must not wait on it either for the
// rest of the start: its accessibility bridge asks it, without a bound, when a window shows, and
// so would the web helper's. Nothing started from here asks it, until restoreEnvironment.
void shunSessionBus();

// The style sheets name "Microsoft YaHei", a Windows font; where it is missing, on Windows or
// elsewhere, it maps to a font that covers Chinese.
void substituteFonts();

// The program's persistent values: the registry key
// HKCU\Software\Korvane\Lumaview\VeltroPara on Windows, the section [VeltroPara] of
// Korvane/Lumaview.conf in the user's configuration folder elsewhere. No organisation-wide or
// machine-wide values are read.
std::unique_ptr<QSettings> openStore();

// Whether a value written to the store outlives a sudden end of the process only after
// QSettings::sync(): true for a file, false for the Windows registry.
bool storeNeedsSync(const QSettings &store);

// The user's Documents folder; empty when it cannot be determined.
QString documentsFolder();

// Lets the browser that is started next, and any other process, come to the front: the popup
// never becomes the active window, so the browser would otherwise open behind the user's work.
void allowForegroundChange();

// Starts a helper that ends with this process, however this one ends, so that a killed program
// leaves no popup behind. False when it could not be started within timeoutMs.
bool startChild(QProcess &child, int timeoutMs);

// Moves standard output to a channel that no process started from here inherits, and points
// standard output, and standard error unless keepErrors, at the null device. Every process a
// helper starts inherits those two. Null when standard output cannot be moved.
std::unique_ptr<QFile> privateStandardOutput(bool keepErrors);

} // namespace Platform
