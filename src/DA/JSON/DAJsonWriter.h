#pragma once

#include "Formats/DXJsonWriter.h"

// The data-API client's JSON writer: the DX writer's rules (escapes,
// "sortKeys", "humanReadable" with two blanks per level and " : "), with
// the error hand-back of this client.
class DAJsonWriter : public DXJsonWriter {
public:
    using DXJsonWriter::stringWithObject;
    // The text of an object or an array; null on failure, with the trace's
    // last error in *error.
    QString stringWithObject(const DXJsonValue &value, VNErrorPtr *error);
    // A line end and two blanks per level of the current depth.
    QString indent() const;
};
