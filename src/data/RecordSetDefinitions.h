#pragma once

#include <QString>

#include "data_export.h"

class TClientDataSet;

// The screen's record sets are described by files under ":/data/recordsets/"
// (fields with type, size, label, display width, visibility, calculated; the
// indexes and which one is active), so their layout is data, not code.
namespace RecordSetDefinitions {

// Adds the fields and indexes of the definition "<name>.json" to an inactive
// record set and activates the definition's index. Throws EDatabaseError for
// a missing or malformed definition, naming the file and what is wrong.
PRU_DATA_EXPORT void apply(TClientDataSet *dataSet, const QString &name);

// Same, from the text of a definition (for checks of the format itself).
PRU_DATA_EXPORT void applyText(TClientDataSet *dataSet, const QString &json, const QString &sourceName);

} // namespace RecordSetDefinitions
