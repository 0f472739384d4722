#pragma once

class QNetworkAccessManager;
class QNetworkReply;
class QUrl;

namespace ServiceRequest {

// Starts a GET of address, made as every request to the service is: it follows no redirect by
// itself, and no cache may answer it (a caching proxy would otherwise hand out an old envelope for
// days, and a new message would never show). Support reads each answer's HTTP status and
// Content-Type as its head arrives: an answer the program refuses is known by them.
QNetworkReply *get(QNetworkAccessManager &manager, const QUrl &address);

} // namespace ServiceRequest
