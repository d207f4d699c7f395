#include "Formats/DXJsonExtensions.h"

#include "Formats/DXJsonParser.h"
#include "Formats/DXJsonWriter.h"
#include "Platform/VNLog.h"

DXJsonValue JSONValue(const QString &text) {
    DXJsonParser parser;
    DXJsonValue value = parser.objectWithString(text);
    if (value.isUndefined())
        VNLog::log(QStringLiteral("-JSONValue failed. Error trace is: %1").arg(parser.errorTraceDescription()));
    return value;
}

DXJsonValue JSONValue(const QByteArray &utf8) {
    DXJsonParser parser;
    DXJsonValue value = parser.objectWithData(utf8);
    if (value.isUndefined())
        VNLog::log(QStringLiteral("-JSONValue failed. Error trace is: %1").arg(parser.errorTraceDescription()));
    return value;
}

DXJsonValue JSONFragmentValue(const QString &text) {
    DXJsonParser parser;
    DXJsonValue value = parser.fragmentWithString(text);
    if (value.isUndefined())
        VNLog::log(
            QStringLiteral("-JSONFragmentValue failed. Error trace is: %1").arg(parser.errorTraceDescription()));
    return value;
}

QString JSONRepresentation(const DXJsonValue &value) {
    DXJsonWriter writer;
    QString text = writer.stringWithObject(value);
    if (text.isNull())
        VNLog::log(
            QStringLiteral("-JSONRepresentation failed. Error trace is: %1").arg(writer.errorTraceDescription()));
    return text;
}

QByteArray JSONRepresentationData(const DXJsonValue &value) {
    DXJsonWriter writer;
    QByteArray bytes = writer.dataWithObject(value);
    if (bytes.isNull())
        VNLog::log(
            QStringLiteral("-JSONRepresentation failed. Error trace is: %1").arg(writer.errorTraceDescription()));
    return bytes;
}

QString JSONFragment(const DXJsonValue &value) {
    DXJsonWriter writer;
    QString text = writer.stringWithFragment(value);
    if (text.isNull())
        VNLog::log(QStringLiteral("-JSONFragment failed. Error trace is: %1").arg(writer.errorTraceDescription()));
    return text;
}
