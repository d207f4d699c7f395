#include "DA/JSON/DAJsonWriter.h"

#include <algorithm>

QString DAJsonWriter::stringWithObject(const DXJsonValue &value, VNErrorPtr *error) {
    QString text = DAJsonWriter::stringWithObject(value);
    if (text.isNull() && error && !errorTrace().isEmpty())
        *error = errorTrace().last();
    return text;
}

QString DAJsonWriter::stringWithObject(const DXJsonValue &value) {
    if (!value.isArray() && !value.isObject())
        return DXJsonWriter::stringWithObject(value);  // "Not valid type for JSON" alone
    clearErrorTrace();
    QString text;
    if (checkNumbers(value, 0))
        text = DXJsonWriter::stringWithObject(value);
    // A dictionary or array that could not be written ends its trace as a
    // value without a JSON form: that outer error is the one handed back.
    if (text.isNull())
        addError(4, QStringLiteral("Not valid type for JSON"));
    return text;
}

bool DAJsonWriter::checkNumbers(const DXJsonValue &value, quint64 depth) {
    if (value.isArray() || value.isObject()) {
        // Too deep: the writer says so itself.
        if ((maxDepth() != 0 && depth + 1 > maxDepth()) || depth + 1 > hardDepthLimit)
            return true;
    }
    if (value.isArray()) {
        for (const DXJsonValue &element : value.toArray())
            if (!checkNumbers(element, depth + 1))
                return false;
        return true;
    }
    if (value.isObject()) {
        QList<const DXJsonObject::Member *> members;
        for (const DXJsonObject::Member &m : value.toObject())
            members.append(&m);
        if (sortKeys())
            std::stable_sort(members.begin(), members.end(), [](const auto *a, const auto *b) {
                return QString::compare(a->key, b->key, Qt::CaseSensitive) < 0;
            });
        for (const DXJsonObject::Member *m : members) {
            if (!checkNumbers(m->value, depth + 1)) {
                addError(1, QStringLiteral("Unsupported value for key %1 in object").arg(m->key));
                return false;
            }
        }
        return true;
    }
    const DXDecimal *number = value.numberIf();
    if (!number || number->isFinite())
        return true;
    addError(1, number->isNaN() ? QStringLiteral("NaN is not a valid number in JSON")
                                : QStringLiteral("Infinity is not a valid number in JSON"));
    return false;
}

QString DAJsonWriter::indent() const { return QStringLiteral("\n") + QString(qsizetype(depth()) * 2, QLatin1Char(' ')); }
