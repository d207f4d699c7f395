#pragma once

#include "Formats/DXJsonBase.h"

// What the data-API client's JSON parser and writer share: the error trace
// of the last call (each error holding the one before as its underlying
// error), the nesting limit (512 by default, 0 for none) and the current
// depth. They are the DX codec's parser and writer, so this is its base.
using DAJsonBase = DXJsonBase;
