#pragma once

#include "DA/JSON/DAJsonBase.h"
#include "Formats/DXJsonWriter.h"

// The data-API client's JSON writer: the DX writer's rules (escapes,
// "sortKeys", "humanReadable" with two blanks per level and " : "), with
// the error hand-back of this client and its own reports of NaN and the
// infinities ("NaN is not a valid number in JSON", "Infinity is not a
// valid number in JSON", code 1). A dictionary or an array that fails ends
// its trace with code 4 "Not valid type for JSON".
class DAJsonWriter : public DXJsonWriter {
public:
    QString stringWithObject(const DXJsonValue &value);
    // The text of an object or an array; null on failure, with the trace's
    // last error (code 4) in *error.
    QString stringWithObject(const DXJsonValue &value, VNErrorPtr *error);
    // A line end and two blanks per level of the current depth.
    QString indent() const;

private:
    // Walks the value as the writer would; false, with the trace the writer
    // would leave, at the first number without a JSON form.
    bool checkNumbers(const DXJsonValue &value, quint64 depth);
};
