#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <unistd.h>

// A small tmpfs mounted on a temporary folder for the object's life, so that
// a test can fill a disk; unmounted again when the object goes, also when the
// test fails. Mounting needs root: elsewhere mounted() is false and whyNot()
// says why, for QSKIP.
class SmallTmpfs
{
public:
    // size as mount takes it: "64k", "1m".
    explicit SmallTmpfs(const QString &size)
    {
        if (geteuid() != 0) {
            m_whyNot = QStringLiteral("mounting a small tmpfs needs root");
            return;
        }
        QProcess mount;
        mount.start(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                              QStringLiteral("size=") + size, QStringLiteral("tmpfs"), m_dir.path()});
        if (!mount.waitForFinished(10000) || mount.exitStatus() != QProcess::NormalExit || mount.exitCode() != 0) {
            m_whyNot = QStringLiteral("no tmpfs here: %1").arg(QString::fromLocal8Bit(mount.readAllStandardError()));
            return;
        }
        m_mounted = true;
    }
    ~SmallTmpfs()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {m_dir.path()});
    }

    bool mounted() const { return m_mounted; }
    QString whyNot() const { return m_whyNot; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    QString m_whyNot;

    Q_DISABLE_COPY(SmallTmpfs)
};
