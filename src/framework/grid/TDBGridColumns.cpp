#include "TDBGridColumns.h"

#include "TClientDataSet.h"

TDBGridColumns::TDBGridColumns(QObject *parent)
    : QObject(parent)
{ }

TDBGridColumns::~TDBGridColumns() = default;

TColumn *TDBGridColumns::Items(int index) const
{
    if (index < 0 || index >= Count()) {
        return nullptr;
    }
    return m_items[size_t(index)].get();
}

void TDBGridColumns::BeginUpdate()
{
    if (m_updating++ == 0) {
        emit columnsAboutToBeReset();
    }
}

void TDBGridColumns::EndUpdate()
{
    if (m_updating > 0 && --m_updating == 0) {
        emit columnsReset();
    }
}

TColumn *TDBGridColumns::Add(const QString &fieldName)
{
    if (m_updating == 0) {
        emit columnsAboutToBeReset();
    }
    if (!m_custom) {
        // The first column added by code replaces the ones built from the fields.
        m_items.clear();
        m_custom = true;
    }
    m_items.push_back(std::make_unique<TColumn>(this, fieldName));
    TColumn *column = m_items.back().get();
    if (m_updating == 0) {
        emit columnsReset();
    }
    return column;
}

TColumn *TDBGridColumns::findByFieldName(const QString &fieldName) const
{
    for (const auto &c : m_items) {
        if (c->FieldName() == fieldName) {
            return c.get();
        }
    }
    return nullptr;
}

TColumn *TDBGridColumns::findByField(const TField *field) const
{
    for (const auto &c : m_items) {
        if (field && c->Field() == field) {
            return c.get();
        }
    }
    return nullptr;
}

int TDBGridColumns::indexOf(const TColumn *column) const
{
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (m_items[i].get() == column) {
            return int(i);
        }
    }
    return -1;
}

void TDBGridColumns::Clear()
{
    m_custom = false;
    rebuildFromFields();
}

void TDBGridColumns::rebuildFromFields()
{
    if (m_custom) {
        return;
    }
    if (m_updating == 0) {
        emit columnsAboutToBeReset();
    }
    m_items.clear();
    if (m_dataSet) {
        for (TField *f : m_dataSet->Fields()) {
            if (f->Visible()) {
                m_items.push_back(std::make_unique<TColumn>(this, f->FieldName()));
            }
        }
    }
    if (m_updating == 0) {
        emit columnsReset();
    }
}

void TDBGridColumns::notifyChanged(const TColumn *column)
{
    if (m_updating > 0) {
        return; // the update's end tells of every column
    }
    const int index = indexOf(column);
    if (index >= 0) {
        emit columnChanged(index);
    }
}
