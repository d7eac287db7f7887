#include "MapProxyFixture.h"

#include <QFileInfo>

bool MapProxyFixture::start(const QStringList &layers)
{
    // MapProxy's development server (what "mapproxy-util serve-develop" runs),
    // started without its reloader: the reloader forks a child that would
    // outlive the fixture and keep the port.
    const QString python = QStringLiteral("/usr/bin/python3");
    if (!QFileInfo::exists(python)) {
        setError(QStringLiteral("/usr/bin/python3 not found"));
        return false;
    }
    QString layerList;
    for (const QString &name : layers)
        layerList += QStringLiteral("  - name: %1\n    title: %1\n    sources: [debug_src]\n").arg(name);
    const QByteArray config = QStringLiteral(
                                  "services:\n"
                                  "  wms:\n"
                                  "    srs: ['EPSG:4326', 'EPSG:900913', 'EPSG:3857']\n"
                                  "    image_formats: ['image/jpeg', 'image/png']\n"
                                  "layers:\n%1"
                                  "sources:\n"
                                  "  debug_src:\n"
                                  "    type: debug\n"
                                  "globals:\n"
                                  "  cache:\n"
                                  "    base_dir: './cache'\n")
                                  .arg(layerList)
                                  .toUtf8();
    const QString configPath = writeFile(QStringLiteral("mapproxy.yaml"), config);
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = freePort();
        if (startProcess(python,
                         {QStringLiteral("-c"),
                          QStringLiteral("import sys\n"
                                         "from mapproxy.wsgiapp import make_wsgi_app\n"
                                         "from mapproxy.util.ext.serving import run_simple\n"
                                         "run_simple('127.0.0.1', int(sys.argv[2]), make_wsgi_app(sys.argv[1]),\n"
                                         "           use_reloader=False, processes=1, threaded=True)\n"),
                          configPath, QString::number(m_port)},
                         {m_port}, 120000)) // its start takes long on a busy machine
            return true;
    }
    return false;
}

QString MapProxyFixture::url() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}
