#include "DataSetModel.h"

using namespace Qt::StringLiterals;

DataSetModel::DataSetModel(QObject *parent)
    : QAbstractTableModel(parent)
    , m_columns(new TDBGridColumns(this))
{
    // A change of the set of columns is a reset; inside a reset of the rows
    // (which rebuilds the columns from the fields) it is part of that one.
    connect(m_columns, &TDBGridColumns::columnsAboutToBeReset, this, [this] {
        if (m_columnsChanging++ == 0 && !m_resetting) {
            beginResetModel();
        }
    });
    connect(m_columns, &TDBGridColumns::columnsReset, this, [this] {
        if (--m_columnsChanging == 0 && !m_resetting) {
            endResetModel();
            emit currentRowMayHaveChanged();
        }
    });
    connect(m_columns, &TDBGridColumns::columnChanged, this,
            [this](int column) { emit headerDataChanged(Qt::Horizontal, column, column); });
}

void DataSetModel::setDataSet(TClientDataSet *dataSet)
{
    if (m_dataSet == dataSet) {
        return;
    }
    onAboutToReset();
    detach();
    m_dataSet = dataSet;
    m_columns->setDataSet(dataSet);
    attach();
    onReset();
}

void DataSetModel::detach()
{
    for (const auto &c : std::as_const(m_connections)) {
        disconnect(c);
    }
    m_connections.clear();
}

void DataSetModel::attach()
{
    TClientDataSet *ds = m_dataSet;
    if (!ds) {
        return;
    }
    m_connections << connect(ds, &TClientDataSet::rowAboutToBeInserted, this, [this](int row) {
        if (m_resetting) {
            return;
        }
        row = qBound(0, row, m_rows);
        m_inserting = true;
        beginInsertRows({}, row, row);
    });
    m_connections << connect(ds, &TClientDataSet::rowInserted, this,
                             [this](int) { finishRowChange(&m_inserting, 1, &DataSetModel::endInsertRows); });
    m_connections << connect(ds, &TClientDataSet::rowAboutToBeRemoved, this, [this](int row) {
        if (m_resetting) {
            return;
        }
        if (row < 0 || row >= m_rows) {
            return;
        }
        m_removing = true;
        beginRemoveRows({}, row, row);
    });
    m_connections << connect(ds, &TClientDataSet::rowRemoved, this,
                             [this](int) { finishRowChange(&m_removing, -1, &DataSetModel::endRemoveRows); });
    m_connections << connect(ds, &TClientDataSet::rowChanged, this, [this](int row) {
        if (m_resetting || row < 0 || row >= m_rows || columnCount() == 0) {
            return;
        }
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    });
    m_connections << connect(ds, &TClientDataSet::rowAboutToBeMoved, this, [this](int from, int to) {
        if (m_resetting) {
            return;
        }
        m_moving = true;
        if (!beginMoveRows({}, from, from, {}, to)) {
            m_moving = false;
        }
    });
    m_connections << connect(ds, &TClientDataSet::rowMoved, this, [this](int from, int to) {
        if (m_resetting) {
            return;
        }
        if (m_moving) {
            endMoveRows();
            m_moving = false;
        } else if (m_rows > 0 && columnCount() > 0) {
            // A move Qt counts as none (to the same place): values may still differ.
            const int first = qBound(0, qMin(from, to), m_rows - 1);
            const int last = qBound(0, qMax(from, to), m_rows - 1);
            emit dataChanged(index(first, 0), index(last, columnCount() - 1));
        }
        emit currentRowMayHaveChanged();
    });
    m_connections << connect(ds, &TClientDataSet::aboutToReset, this, [this] { onAboutToReset(); });
    m_connections << connect(ds, &TClientDataSet::contentReset, this, [this] { onReset(); });
    m_connections << connect(ds, &TClientDataSet::stateChanged, this, [this](TDataSetState) { notifyIndicator(); });
    m_connections << connect(ds, &TClientDataSet::currentRowChanged, this, [this](int) {
        notifyIndicator();
        emit currentRowMayHaveChanged();
    });
    m_connections << connect(ds, &QObject::destroyed, this, [this] {
        beginResetModel();
        detach();
        m_rows = 0;
        endResetModel();
    });
}

// Ends the insertion or removal its about-to signal began. Without that
// beginning the model cannot tell what changed, so it starts over.
void DataSetModel::finishRowChange(bool *pending, int delta, void (QAbstractItemModel::*end)())
{
    if (m_resetting) {
        return;
    }
    if (!*pending) {
        onAboutToReset();
        onReset();
        return;
    }
    m_rows += delta;
    (this->*end)();
    *pending = false;
    notifyIndicator();
    emit currentRowMayHaveChanged();
}

void DataSetModel::onAboutToReset()
{
    if (m_resetting) {
        return;
    }
    m_resetting = true;
    beginResetModel();
}

void DataSetModel::onReset()
{
    if (!m_resetting) {
        beginResetModel();
    }
    m_inserting = m_removing = m_moving = false;
    m_rows = (m_dataSet && m_dataSet->Active()) ? m_dataSet->rowCount() : 0;
    m_columns->rebuildFromFields();
    m_resetting = false;
    endResetModel();
    // A reset draws and measures everything anew: the indicator is where the
    // current row is now.
    rememberIndicator();
    emit currentRowMayHaveChanged();
}

void DataSetModel::notifyIndicator()
{
    if (m_rows <= 0 || m_resetting || m_inserting || m_removing || m_moving) {
        return;
    }
    if (columnCount() == 0) {
        // No index to follow the row it left by: every row is drawn again.
        emit headerDataChanged(Qt::Vertical, 0, m_rows - 1);
        return;
    }
    // The indicator stands on the current row only: the row it left and the
    // row it is on now are the ones to draw again.
    const int current = m_dataSet ? m_dataSet->currentRow() : -1;
    const int left = m_indicatorRow.isValid() ? m_indicatorRow.row() : -1;
    const TDataSetState state = m_dataSet ? m_dataSet->State() : TDataSetState::dsInactive;
    if (state == m_indicatorState && left >= 0 && left < m_rows && current >= 0 && current < m_rows) {
        // The same glyph on another row: the header keeps its width.
        if (left != current) {
            emit indicatorMoved(left, current);
        }
    } else {
        if (left >= 0 && left < m_rows && left != current) {
            emit headerDataChanged(Qt::Vertical, left, left);
        }
        if (current >= 0 && current < m_rows) {
            emit headerDataChanged(Qt::Vertical, current, current);
        }
    }
    rememberIndicator();
}

void DataSetModel::rememberIndicator()
{
    const int current = m_dataSet ? m_dataSet->currentRow() : -1;
    m_indicatorState = m_dataSet ? m_dataSet->State() : TDataSetState::dsInactive;
    m_indicatorRow =
        current >= 0 && current < m_rows ? QPersistentModelIndex(index(current, 0)) : QPersistentModelIndex();
}

int DataSetModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int DataSetModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columns->Count();
}

QVariant DataSetModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows || !m_dataSet) {
        return {};
    }
    TColumn *column = m_columns->Items(index.column());
    if (!column) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
        TField *field = column->Field();
        if (!field) {
            return QString();
        }
        try {
            return role == Qt::DisplayRole ? m_dataSet->displayTextAt(index.row(), field)
                                           : m_dataSet->textAt(index.row(), field);
        } catch (const std::exception &e) {
            // Painting cannot stop for a dialog; the cell stays blank.
            qWarning("%s: text of %s failed: %s", qUtf8Printable(m_dataSet->objectName()),
                     qUtf8Printable(field->FieldName()), e.what());
            return QString();
        }
    }
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(column->Alignment());
    default:
        break;
    }
    return {};
}

QVariant DataSetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal) {
        TColumn *column = m_columns->Items(section);
        if (!column) {
            return {};
        }
        if (role == Qt::DisplayRole) {
            return column->Title();
        }
        if (role == Qt::TextAlignmentRole) {
            return QVariant::fromValue(column->TitleAlignment());
        }
        return {};
    }
    if (role == Qt::DisplayRole) {
        if (!m_dataSet || section < 0 || section >= m_rows || section != m_dataSet->currentRow()) {
            return QString();
        }
        // The indicator: where the current row stands and what is happening to it.
        switch (m_dataSet->State()) {
        case TDataSetState::dsInsert:
            return u"*"_s;
        case TDataSetState::dsEdit:
            return u"I"_s;
        default:
            return u"\u25B6"_s;
        }
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    }
    return {};
}

Qt::ItemFlags DataSetModel::flags(const QModelIndex &index) const
{
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    TColumn *column = m_columns->Items(index.column());
    if (column && m_editable && !column->ReadOnly()) {
        TField *field = column->Field();
        if (field && !field->Calculated()) {
            f |= Qt::ItemIsEditable;
        }
    }
    return f;
}

bool DataSetModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || !m_dataSet || index.row() != m_dataSet->currentRow()) {
        return false;
    }
    TColumn *column = m_columns->Items(index.column());
    TField *field = column ? column->Field() : nullptr;
    if (!field || !(flags(index) & Qt::ItemIsEditable)) {
        return false;
    }
    if (m_dataSet->State() == TDataSetState::dsBrowse) {
        m_dataSet->Edit();
    }
    field->setText(value.toString());
    return true;
}
