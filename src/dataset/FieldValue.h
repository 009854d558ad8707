#pragma once

#include <QString>
#include <QVariant>

#include <optional>

#include "Packet.h"
#include "dataset_export.h"

// The one home of a field value's forms: what a field stores for an assigned
// value, the text forms of numbers, and a stored value read as a number.
// Fields and record sets both convert through it.
namespace FieldValue {

// The text forms of numbers: the shortest plain decimal that reads back the
// same value ("15", "-3", "2.5"), never an exponent.
DATASET_EXPORT QString formatNumber(double value);
// Reads that form (a '.' as decimal separator); nullopt when it is not a number.
DATASET_EXPORT std::optional<double> parseNumber(const QString &text);

// Values a number or date-time field takes as numbers.
DATASET_EXPORT bool isNumeric(const QVariant &value);
DATASET_EXPORT bool isNumericType(QMetaType type);

// One pass over a text bound for a Text field: a lone surrogate (no UTF-8
// form) and a text over the size are refused; packetRow >= 0 names the
// packet row the text came from.
DATASET_EXPORT void checkText(const QString &text, const QString &fieldName, int size, qsizetype packetRow = -1);

// An assigned value in the field's form (a number or date-time as a double of
// days, a text checked against the size), or null for a null or blank value;
// throws EDatabaseError for what the field cannot hold. toFieldForm leaves a
// number's range to the packets' own check, which convert adds: what convert
// accepts always travels in a packet.
DATASET_EXPORT QVariant toFieldForm(const FieldDef &field, const QVariant &value);
DATASET_EXPORT QVariant convert(const FieldDef &field, const QVariant &value);

// A stored value read as a number or, with wanted DateTime, a date-time: null
// reads 0; a text field's blank text reads 0 and its other texts are parsed,
// or refused with the field's name.
DATASET_EXPORT double read(const QVariant &stored, FieldType storedType, FieldType wanted, const QString &fieldName);

} // namespace FieldValue
