#include "DA/JSON/DAJsonParser.h"

DXJsonValue DAJsonParser::objectWithString(const QString &text, VNErrorPtr *error) {
    DXJsonValue value = objectWithString(text);
    if (value.isUndefined() && error && !errorTrace().isEmpty())
        *error = errorTrace().last();
    return value;
}

void DAJsonParser::reportEndInString() { addError(11, QStringLiteral("Unexpected EOF while parsing string")); }

void DAJsonParser::reportEndInEscape() { addError(11, QStringLiteral("Unexpected EOF while parsing string")); }
