#pragma once

#include "ServerFixture.h"

// A real WMS on loopback: MapProxy's development server with a "debug" source
// (images that show their own bounding box) behind the given layer names.
// GetMap answers EPSG:4326 and EPSG:900913/3857 in PNG and JPEG; requests for
// unknown layers get a service exception (XML with status 200).
class MapProxyFixture : public ServerFixture
{
public:
    bool start(const QStringList &layers = {QStringLiteral("esat")});

    QString url() const; // http://127.0.0.1:port, no trailing slash
    quint16 port() const { return m_port; }

private:
    quint16 m_port = 0;
};
