#include "VNUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {

constexpr auto kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString defaultFilePath() {
    const QByteArray fromEnv = qgetenv("VARNELLO_DEFAULTS_FILE");
    if (!fromEnv.isEmpty())
        return QString::fromLocal8Bit(fromEnv);
    QString base = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Varnello/defaults.ini");
}

// The file is made owner-only before anything is written to it; the atomic
// save keeps the permissions of the file it replaces.
void prepareFile(const QString &path) {
    const QFileInfo info(path);
    QDir().mkpath(info.absolutePath());
    QFile::setPermissions(info.absolutePath(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!info.exists()) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.close();
    }
    QFile::setPermissions(path, kOwnerOnly);
}

std::mutex &standardMutex() {
    static std::mutex m;
    return m;
}
std::unique_ptr<VNUserDefaults> &standardInstance() {
    static std::unique_ptr<VNUserDefaults> instance;
    return instance;
}

}  // namespace

VNUserDefaults::VNUserDefaults(const QString &filePath) : m_filePath(filePath) {
    prepareFile(filePath);
    m_settings = std::make_unique<QSettings>(filePath, QSettings::IniFormat);
    m_settings->setAtomicSyncRequired(true);
}

VNUserDefaults::~VNUserDefaults() = default;

VNUserDefaults &VNUserDefaults::standard() {
    std::lock_guard lock(standardMutex());
    auto &instance = standardInstance();
    if (!instance)
        instance = std::make_unique<VNUserDefaults>(defaultFilePath());
    return *instance;
}

void VNUserDefaults::setStandardFile(const QString &filePath) {
    std::lock_guard lock(standardMutex());
    standardInstance() = std::make_unique<VNUserDefaults>(filePath);
}

QString VNUserDefaults::filePath() const { return m_filePath; }

QVariant VNUserDefaults::objectForKey(const QString &key) const {
    std::lock_guard lock(m_mutex);
    return m_settings->value(key);
}

QByteArray VNUserDefaults::dataForKey(const QString &key) const {
    const QVariant v = objectForKey(key);
    return v.isValid() ? v.toByteArray() : QByteArray();
}

QString VNUserDefaults::stringForKey(const QString &key) const {
    const QVariant v = objectForKey(key);
    return v.isValid() ? v.toString() : QString();
}

bool VNUserDefaults::boolForKey(const QString &key) const {
    const QVariant v = objectForKey(key);
    return v.isValid() && v.toBool();
}

qint64 VNUserDefaults::integerForKey(const QString &key) const {
    const QVariant v = objectForKey(key);
    return v.isValid() ? v.toLongLong() : 0;
}

bool VNUserDefaults::contains(const QString &key) const {
    std::lock_guard lock(m_mutex);
    return m_settings->contains(key);
}

void VNUserDefaults::setObject(const QVariant &value, const QString &key) {
    std::lock_guard lock(m_mutex);
    if (!value.isValid())
        m_settings->remove(key);
    else
        m_settings->setValue(key, value);
}

void VNUserDefaults::removeObject(const QString &key) {
    std::lock_guard lock(m_mutex);
    m_settings->remove(key);
}

bool VNUserDefaults::synchronize(VNErrorPtr *error) {
    std::lock_guard lock(m_mutex);
    prepareFile(m_filePath);
    m_settings->sync();
    QFile::setPermissions(m_filePath, kOwnerOnly);
    if (m_settings->status() == QSettings::NoError)
        return true;
    if (error)
        *error = VNError::withDescription(QStringLiteral("VNUserDefaults"), m_settings->status(),
                                          QStringLiteral("The settings file %1 could not be written.")
                                              .arg(m_filePath));
    return false;
}
