#include "RecordSetState.h"

#include "TClientDataSet.h"
#include "TField.h"

namespace RecordSetState {

bool inEditOrInsert(const TClientDataSet *dataSet)
{
    return dataSet && (dataSet->State() == TDataSetState::dsEdit || dataSet->State() == TDataSetState::dsInsert);
}

bool isEmptySet(const TClientDataSet *dataSet)
{
    return !dataSet || !dataSet->Active() || dataSet->IsEmpty();
}

std::optional<double> currentNumber(const TClientDataSet *dataSet, const QString &fieldName)
{
    if (isEmptySet(dataSet) && !inEditOrInsert(dataSet)) {
        return std::nullopt;
    }
    const TField *field = dataSet->FieldByName(fieldName);
    if (field->IsNull()) {
        return std::nullopt;
    }
    return field->AsFloat();
}

void emptyRecordSet(TClientDataSet *dataSet)
{
    if (!dataSet->Active()) {
        dataSet->CreateDataSet();
    } else {
        dataSet->EmptyDataSet();
    }
}

} // namespace RecordSetState
