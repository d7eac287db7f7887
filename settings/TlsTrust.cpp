#include "settings/TlsTrust.h"

#include "settings/AppConfig.h"

#include <QSslCertificate>

namespace TlsTrust {

#ifndef QT_NO_SSL
QSslConfiguration configuration()
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    const QString bundle = AppConfig::instance().caBundle;
    if (!bundle.isEmpty()) {
        QList<QSslCertificate> certificates = config.caCertificates();
        certificates += QSslCertificate::fromPath(bundle, QSsl::Pem);
        config.setCaCertificates(certificates);
    }
    return config;
}
#endif

} // namespace TlsTrust
