#include "Formats/DXJSON.h"

DXJSON::DXJSON() { setMaxDepth(defaultMaxDepth); }

void DXJSON::setMaxDepth(quint64 maxDepth) {
    DXJsonBase::setMaxDepth(maxDepth);
    m_parser.setMaxDepth(maxDepth);
    m_writer.setMaxDepth(maxDepth);
}

void DXJSON::takeTrace(const DXJsonBase &from, VNErrorPtr *error) {
    m_errorTrace = from.errorTrace();
    if (error)
        *error = m_errorTrace.isEmpty() ? nullptr : m_errorTrace.last();
}

DXJsonValue DXJSON::objectWithString(const QString &text) { return objectWithString(text, false, nullptr); }

DXJsonValue DXJSON::objectWithString(const QString &text, bool allowScalar, VNErrorPtr *error) {
    DXJsonValue value = allowScalar ? m_parser.fragmentWithString(text) : m_parser.objectWithString(text);
    if (value.isUndefined())
        takeTrace(m_parser, error);
    return value;
}

DXJsonValue DXJSON::fragmentWithString(const QString &text, VNErrorPtr *error) {
    return objectWithString(text, true, error);
}

DXJsonValue DXJSON::objectWithString(const QString &text, VNErrorPtr *error) {
    return objectWithString(text, false, error);
}

QString DXJSON::stringWithObject(const DXJsonValue &value) { return stringWithObject(value, false, nullptr); }

QString DXJSON::stringWithObject(const DXJsonValue &value, bool allowScalar, VNErrorPtr *error) {
    QString text = allowScalar ? m_writer.stringWithFragment(value) : m_writer.stringWithObject(value);
    if (text.isNull())
        takeTrace(m_writer, error);
    return text;
}

QString DXJSON::stringWithFragment(const DXJsonValue &value, VNErrorPtr *error) {
    return stringWithObject(value, true, error);
}

QString DXJSON::stringWithObject(const DXJsonValue &value, VNErrorPtr *error) {
    return stringWithObject(value, false, error);
}
