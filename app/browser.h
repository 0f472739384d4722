#pragma once

class QUrl;

// Hands web addresses to the user's browser. Addresses that come from the service travel over
// plain HTTP, so only http and https are ever opened: another scheme would hand a remote party
// the desktop's handlers for files, shares or custom protocols.
namespace Browser {

// Whether an address is one the program may open or load: http or https.
bool isWebAddress(const QUrl &url);

// False when the address was refused or the browser could not be started.
bool openWebPage(const QUrl &url);

} // namespace Browser
