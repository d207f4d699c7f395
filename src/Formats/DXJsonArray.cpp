#include "Formats/DXJsonArray.h"

const DXJsonValue &DXJsonArray::valueAt(qsizetype index) const {
    if (index < 0 || index >= size())
        return DXJsonValue::undefined();
    return at(index);
}
