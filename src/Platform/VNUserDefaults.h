#pragma once

#include "VNError.h"

#include <QString>
#include <QVariant>
#include <memory>
#include <mutex>

class QSettings;

// The user defaults: a small key-value store kept in one file of ours.
// Writes go to the file atomically and the file is readable by its owner
// only (0600): it holds passwords and tokens.
class VNUserDefaults {
public:
    explicit VNUserDefaults(const QString &filePath);
    ~VNUserDefaults();

    // The application's defaults, in the XDG config folder (or the file
    // named by VARNELLO_DEFAULTS_FILE, or the one given to setStandardFile).
    static VNUserDefaults &standard();
    // Points standard() at another file (tests); takes effect at once.
    static void setStandardFile(const QString &filePath);

    QString filePath() const;

    QVariant objectForKey(const QString &key) const;
    QByteArray dataForKey(const QString &key) const;
    QString stringForKey(const QString &key) const;  // null when absent
    bool boolForKey(const QString &key) const;        // false when absent
    qint64 integerForKey(const QString &key) const;   // 0 when absent
    bool contains(const QString &key) const;

    void setObject(const QVariant &value, const QString &key);
    void setBool(bool value, const QString &key) { setObject(value, key); }
    void setInteger(qint64 value, const QString &key) { setObject(value, key); }
    void removeObject(const QString &key);

    // Writes every change to disk now. Returns false and fills the error
    // when the file cannot be written.
    bool synchronize(VNErrorPtr *error = nullptr);

private:
    mutable std::mutex m_mutex;
    std::unique_ptr<QSettings> m_settings;
    QString m_filePath;
};
