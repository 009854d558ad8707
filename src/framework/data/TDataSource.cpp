#include "TDataSource.h"

#include "Guard.h"

TDataSource::TDataSource(QObject *parent)
    : QObject(parent)
{ }

void TDataSource::setDataSet(TClientDataSet *dataSet)
{
    if (m_dataSet == dataSet) {
        return;
    }
    disconnect(m_stateConnection);
    m_dataSet = dataSet;
    if (dataSet) {
        m_stateConnection = connect(dataSet, &TClientDataSet::stateChanged, this, [this](TDataSetState state) {
            emit stateChanged(state);
            if (OnStateChange) {
                // The record set's own operation goes on whatever the handler does.
                guarded(this, [this] { OnStateChange(this); });
            }
        });
    }
    emit dataSetChanged(dataSet);
}

TDataSetState TDataSource::State() const
{
    return m_dataSet ? m_dataSet->State() : TDataSetState::dsInactive;
}
