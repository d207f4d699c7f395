#pragma once

#include "Formats/DXJsonValue.h"

#include <QByteArray>
#include <QString>

// The everyday entry points of the JSON codec. Each makes a fresh parser or
// writer, so they may be called on any thread. Failures give an undefined
// value / a null string and write the error trace to the log.

// The object or array in text (a reply). Scalars at the top level fail.
DXJsonValue JSONValue(const QString &text);
// The same over UTF-8 bytes (a reply body as received).
DXJsonValue JSONValue(const QByteArray &utf8);
// A value of any kind.
DXJsonValue JSONFragmentValue(const QString &text);

// Compact JSON text of an object or array (a request body); null on failure.
QString JSONRepresentation(const DXJsonValue &value);
// The same as UTF-8 bytes, ready to send.
QByteArray JSONRepresentationData(const DXJsonValue &value);
// JSON text of a value of any kind; null on failure.
QString JSONFragment(const DXJsonValue &value);
