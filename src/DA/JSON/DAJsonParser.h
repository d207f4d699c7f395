#pragma once

#include "DA/JSON/DAJsonBase.h"
#include "Formats/DXJsonParser.h"

// The data-API client's JSON parser: the scanner of the DX codec (same
// grammar, texts, codes and depth limit) with this client's own reading of
// a text that ends inside a string ("Unexpected EOF while parsing string",
// code 11). Numbers are exact decimals: an integer literal reads back
// exactly through toInt64(), any other literal keeps its decimal value.
class DAJsonParser : public DXJsonParser {
public:
    using DXJsonParser::objectWithString;
    // An object or an array; on failure undefined, with the trace's last
    // (outermost) error in *error.
    DXJsonValue objectWithString(const QString &text, VNErrorPtr *error);

protected:
    void reportEndInString() override;
    void reportEndInEscape() override;
};
