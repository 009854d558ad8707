#pragma once

#include <QString>

#include <optional>

class TClientDataSet;

// Questions every level asks of a record set, in one place.
namespace RecordSetState {

bool inEditOrInsert(const TClientDataSet *dataSet);
// No record set, a closed one, or one without rows.
bool isEmptySet(const TClientDataSet *dataSet);
// The current row's number field, or nullopt when there is no row or no value.
std::optional<double> currentNumber(const TClientDataSet *dataSet, const QString &fieldName);
// Opens the record set empty when it is closed, else removes its rows.
void emptyRecordSet(TClientDataSet *dataSet);

} // namespace RecordSetState
