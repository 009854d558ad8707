#pragma once

#include <QMetaType>
#include <QVariant>

// What the packets and the record set both take for null: no value at all, or
// a QVariant holding nullptr. One definition, so that a value the record set
// stores as null is never one a packet refuses, nor the other way round.
inline bool isNullValue(const QVariant &value)
{
    return !value.isValid() || value.typeId() == QMetaType::Nullptr;
}
