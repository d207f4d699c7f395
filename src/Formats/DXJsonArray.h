#pragma once

#include "Formats/DXJsonValue.h"

#include <QList>

// A JSON array: a list of values in order (a QList, with all its operations).
class DXJsonArray : public QList<DXJsonValue> {
public:
    using QList<DXJsonValue>::QList;
    DXJsonArray() = default;
    DXJsonArray(const QList<DXJsonValue> &list) : QList<DXJsonValue>(list) {}
    DXJsonArray(QList<DXJsonValue> &&list) : QList<DXJsonValue>(std::move(list)) {}

    // The element at index, or the undefined value past the end.
    const DXJsonValue &valueAt(qsizetype index) const;
};
