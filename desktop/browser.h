#pragma once

class QUrl;

// Hands web addresses to the user's browser: only those Net::isWebAddress accepts.
namespace Browser {

// False when the address was refused or the browser could not be started.
bool openWebPage(const QUrl &url);

} // namespace Browser
