#pragma once

class QUrl;

namespace Net {

// Whether an address is one the program may open, load or follow: http or https. Addresses from
// the service travel over plain HTTP; another scheme would hand a remote party the desktop's
// handlers for files, shares or custom protocols.
bool isWebAddress(const QUrl &url);

} // namespace Net
