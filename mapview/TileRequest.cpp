#include "mapview/TileRequest.h"

#include <QUrl>

namespace TileRequest {

QNetworkRequest tileRequest(const QUrl &url, const QByteArray &userAgent)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, true);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    request.setRawHeader(QByteArrayLiteral("User-Agent"), userAgent);
    return request;
}

} // namespace TileRequest
