#pragma once

#include <QSettings>
#include <QString>
#include <QVariant>

// One settings key: its path (group/name), the type it is read as, the value
// a missing key reads as, and the type it is written as (the same unless the
// stored form differs, as for the map zoom).
template <typename T, typename Stored = T>
class SettingKey
{
public:
    SettingKey(const char *path, T missing) : keyPath(QString::fromLatin1(path)), missingValue(missing) {}
    SettingKey(QString path, T missing) : keyPath(std::move(path)), missingValue(std::move(missing)) {}

    const QString &path() const { return keyPath; }
    const T &missing() const { return missingValue; }

    T read(const QSettings &store) const
    {
        const QVariant value = store.value(keyPath);
        return value.isValid() ? value.value<T>() : missingValue;
    }
    void write(QSettings &store, const Stored &value) const { store.setValue(keyPath, QVariant::fromValue(value)); }
    bool isStored(const QSettings &store) const { return store.contains(keyPath); }

private:
    QString keyPath;
    T missingValue;
};
