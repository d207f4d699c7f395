#pragma once

#include "VNError.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>
#include <optional>
#include <vector>

// One archived object: a class name and typed values under string keys, in
// the order they were encoded. Absent text and empty text stay apart.
class VNArchiveRecord {
public:
    enum class Type { Text, Int64, Int32, Bool };

    explicit VNArchiveRecord(QString className = {});

    const QString &className() const { return m_className; }

    void encodeText(const QString &key, const QString &value);  // a null QString is kept as absent
    void encodeInt64(const QString &key, qint64 value);
    void encodeInt32(const QString &key, qint32 value);
    void encodeBool(const QString &key, bool value);

    bool contains(const QString &key) const;
    QStringList keys() const;

    // Missing keys, and keys of another type, give the zero value (a null
    // QString for text).
    QString decodeText(const QString &key) const;
    qint64 decodeInt64(const QString &key) const;
    qint32 decodeInt32(const QString &key) const;
    bool decodeBool(const QString &key) const;

    struct Field {
        QString key;
        Type type;
        QVariant value;  // invalid for absent text
    };
    const std::vector<Field> &fields() const { return m_fields; }

private:
    const Field *find(const QString &key, Type type) const;
    void put(const QString &key, Type type, QVariant value);

    QString m_className;
    std::vector<Field> m_fields;
};

// A list of records as bytes, and back. The container is CBOR with a format
// name and a version; anything that does not read as such is an error, never
// an empty list.
namespace VNKeyedArchive {

QByteArray archive(const QList<VNArchiveRecord> &records);
std::optional<QList<VNArchiveRecord>> unarchive(const QByteArray &data, VNErrorPtr *error = nullptr);

inline const QString errorDomain = QStringLiteral("VNKeyedArchive");

}  // namespace VNKeyedArchive
