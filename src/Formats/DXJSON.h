#pragma once

#include "Formats/DXJsonBase.h"
#include "Formats/DXJsonParser.h"
#include "Formats/DXJsonWriter.h"

// Parser and writer behind one object. Failures copy the trace of the part
// that failed into this object's trace.
class DXJSON : public DXJsonBase {
public:
    DXJSON();

    void setMaxDepth(quint64 maxDepth) override;
    // maxDepth() gives the parser's limit.

    DXJsonValue objectWithString(const QString &text);
    // allowScalar: any kind of value, else only objects and arrays. On
    // failure *error (when given) is the last (outermost) error of the trace.
    DXJsonValue objectWithString(const QString &text, bool allowScalar, VNErrorPtr *error);
    DXJsonValue fragmentWithString(const QString &text, VNErrorPtr *error);
    DXJsonValue objectWithString(const QString &text, VNErrorPtr *error);

    QString stringWithObject(const DXJsonValue &value);
    QString stringWithObject(const DXJsonValue &value, bool allowScalar, VNErrorPtr *error);
    QString stringWithFragment(const DXJsonValue &value, VNErrorPtr *error);
    QString stringWithObject(const DXJsonValue &value, VNErrorPtr *error);

    bool humanReadable() const { return m_writer.humanReadable(); }
    void setHumanReadable(bool on) { m_writer.setHumanReadable(on); }
    bool sortKeys() const { return m_writer.sortKeys(); }
    void setSortKeys(bool on) { m_writer.setSortKeys(on); }

    DXJsonParser &jsonParser() { return m_parser; }
    DXJsonWriter &jsonWriter() { return m_writer; }

private:
    void takeTrace(const DXJsonBase &from, VNErrorPtr *error);

    DXJsonWriter m_writer;
    DXJsonParser m_parser;
};
