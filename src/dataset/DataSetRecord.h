#pragma once

#include <QtGlobal>

#include "Packet.h"

// One row of a record set as the record set keeps it.
struct DataSetRecord
{
    Row values; // one slot per field, calculated ones included
    quint64 id = 0; // identity for the change log
    qint64 seq = 0; // arrival order; breaks ties under an index
};
