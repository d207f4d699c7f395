#include "DA/JSON/DAJsonWriter.h"

QString DAJsonWriter::stringWithObject(const DXJsonValue &value, VNErrorPtr *error) {
    QString text = stringWithObject(value);
    if (text.isNull() && error && !errorTrace().isEmpty())
        *error = errorTrace().last();
    return text;
}

QString DAJsonWriter::indent() const { return QStringLiteral("\n") + QString(qsizetype(depth()) * 2, QLatin1Char(' ')); }
