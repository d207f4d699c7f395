#include "VNKeyedArchive.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>

namespace {

const QString kFormat = QStringLiteral("varnello-keyed-archive");
constexpr qint64 kVersion = 1;

QString typeTag(VNArchiveRecord::Type type) {
    switch (type) {
    case VNArchiveRecord::Type::Text: return QStringLiteral("s");
    case VNArchiveRecord::Type::Int64: return QStringLiteral("q");
    case VNArchiveRecord::Type::Int32: return QStringLiteral("i");
    case VNArchiveRecord::Type::Bool: return QStringLiteral("b");
    }
    return {};
}

std::optional<VNArchiveRecord::Type> typeFromTag(const QString &tag) {
    if (tag == QLatin1String("s")) return VNArchiveRecord::Type::Text;
    if (tag == QLatin1String("q")) return VNArchiveRecord::Type::Int64;
    if (tag == QLatin1String("i")) return VNArchiveRecord::Type::Int32;
    if (tag == QLatin1String("b")) return VNArchiveRecord::Type::Bool;
    return std::nullopt;
}

VNErrorPtr damaged(const QString &why) {
    return VNError::withDescription(VNKeyedArchive::errorDomain, 1,
                                    QStringLiteral("The archive is damaged: %1.").arg(why));
}

}  // namespace

VNArchiveRecord::VNArchiveRecord(QString className) : m_className(std::move(className)) {}

void VNArchiveRecord::put(const QString &key, Type type, QVariant value) {
    for (auto &f : m_fields) {
        if (f.key == key) {
            f.type = type;
            f.value = std::move(value);
            return;
        }
    }
    m_fields.push_back({key, type, std::move(value)});
}

void VNArchiveRecord::encodeText(const QString &key, const QString &value) {
    put(key, Type::Text, value.isNull() ? QVariant() : QVariant(value));
}
void VNArchiveRecord::encodeInt64(const QString &key, qint64 value) { put(key, Type::Int64, value); }
void VNArchiveRecord::encodeInt32(const QString &key, qint32 value) { put(key, Type::Int32, value); }
void VNArchiveRecord::encodeBool(const QString &key, bool value) { put(key, Type::Bool, value); }

bool VNArchiveRecord::contains(const QString &key) const {
    for (const auto &f : m_fields)
        if (f.key == key)
            return true;
    return false;
}

QStringList VNArchiveRecord::keys() const {
    QStringList out;
    for (const auto &f : m_fields)
        out << f.key;
    return out;
}

const VNArchiveRecord::Field *VNArchiveRecord::find(const QString &key, Type type) const {
    for (const auto &f : m_fields)
        if (f.key == key)
            return f.type == type ? &f : nullptr;
    return nullptr;
}

QString VNArchiveRecord::decodeText(const QString &key) const {
    const Field *f = find(key, Type::Text);
    return (f && f->value.isValid()) ? f->value.toString() : QString();
}
qint64 VNArchiveRecord::decodeInt64(const QString &key) const {
    const Field *f = find(key, Type::Int64);
    return f ? f->value.toLongLong() : 0;
}
qint32 VNArchiveRecord::decodeInt32(const QString &key) const {
    const Field *f = find(key, Type::Int32);
    return f ? f->value.toInt() : 0;
}
bool VNArchiveRecord::decodeBool(const QString &key) const {
    const Field *f = find(key, Type::Bool);
    return f && f->value.toBool();
}

namespace VNKeyedArchive {

QByteArray archive(const QList<VNArchiveRecord> &records) {
    QCborArray list;
    for (const auto &record : records) {
        QCborArray fields;
        for (const auto &f : record.fields()) {
            QCborValue value;
            switch (f.type) {
            case VNArchiveRecord::Type::Text:
                value = f.value.isValid() ? QCborValue(f.value.toString()) : QCborValue(QCborValue::Null);
                break;
            case VNArchiveRecord::Type::Int64:
            case VNArchiveRecord::Type::Int32: value = QCborValue(f.value.toLongLong()); break;
            case VNArchiveRecord::Type::Bool: value = QCborValue(f.value.toBool()); break;
            }
            fields.append(QCborArray{f.key, typeTag(f.type), value});
        }
        QCborMap entry;
        entry.insert(QStringLiteral("class"), record.className());
        entry.insert(QStringLiteral("fields"), fields);
        list.append(entry);
    }
    QCborMap top;
    top.insert(QStringLiteral("format"), kFormat);
    top.insert(QStringLiteral("version"), kVersion);
    top.insert(QStringLiteral("records"), list);
    return QCborValue(top).toCbor();
}

std::optional<QList<VNArchiveRecord>> unarchive(const QByteArray &data, VNErrorPtr *error) {
    auto fail = [error](const QString &why) -> std::optional<QList<VNArchiveRecord>> {
        if (error)
            *error = damaged(why);
        return std::nullopt;
    };
    QCborParserError parseError;
    const QCborValue root = QCborValue::fromCbor(data, &parseError);
    if (parseError.error != QCborError::NoError)
        return fail(parseError.errorString());
    if (!root.isMap())
        return fail(QStringLiteral("no archive header"));
    const QCborMap top = root.toMap();
    if (top.value(QStringLiteral("format")).toString() != kFormat)
        return fail(QStringLiteral("unknown format"));
    const qint64 version = top.value(QStringLiteral("version")).toInteger(-1);
    if (version < 1 || version > kVersion)
        return fail(QStringLiteral("unsupported version %1").arg(version));
    const QCborValue recordsValue = top.value(QStringLiteral("records"));
    if (!recordsValue.isArray())
        return fail(QStringLiteral("no record list"));

    QList<VNArchiveRecord> out;
    for (const QCborValue &entryValue : recordsValue.toArray()) {
        if (!entryValue.isMap())
            return fail(QStringLiteral("a record is not a map"));
        const QCborMap entry = entryValue.toMap();
        if (!entry.value(QStringLiteral("class")).isString() || !entry.value(QStringLiteral("fields")).isArray())
            return fail(QStringLiteral("a record lacks its class or fields"));
        VNArchiveRecord record(entry.value(QStringLiteral("class")).toString());
        for (const QCborValue &fieldValue : entry.value(QStringLiteral("fields")).toArray()) {
            const QCborArray field = fieldValue.toArray();
            if (!fieldValue.isArray() || field.size() != 3 || !field.at(0).isString() || !field.at(1).isString())
                return fail(QStringLiteral("a field is malformed"));
            const QString key = field.at(0).toString();
            const auto type = typeFromTag(field.at(1).toString());
            const QCborValue value = field.at(2);
            if (!type)
                continue;  // a type a newer version wrote: ignored like an unknown key
            switch (*type) {
            case VNArchiveRecord::Type::Text:
                if (value.isNull())
                    record.encodeText(key, QString());
                else if (value.isString())
                    record.encodeText(key, value.toString().isNull() ? QStringLiteral("") : value.toString());
                else
                    return fail(QStringLiteral("field %1 is not text").arg(key));
                break;
            case VNArchiveRecord::Type::Int64:
                if (!value.isInteger())
                    return fail(QStringLiteral("field %1 is not an integer").arg(key));
                record.encodeInt64(key, value.toInteger());
                break;
            case VNArchiveRecord::Type::Int32:
                if (!value.isInteger())
                    return fail(QStringLiteral("field %1 is not an integer").arg(key));
                record.encodeInt32(key, static_cast<qint32>(value.toInteger()));
                break;
            case VNArchiveRecord::Type::Bool:
                if (!value.isBool())
                    return fail(QStringLiteral("field %1 is not a boolean").arg(key));
                record.encodeBool(key, value.toBool());
                break;
            }
        }
        out.append(record);
    }
    return out;
}

}  // namespace VNKeyedArchive
