#include "LocateIndex.h"

#include "RadixSort.h"

#include <algorithm>

void LocateIndex::add(const QVariant &value, DataSetRecord *record)
{
    m_entries.push_back({orderKey(value), record});
}

void LocateIndex::adopt(quint64 generation)
{
    m_generation = generation;
    m_sorted = false;
    m_arrivalTies = true;
}

void LocateIndex::refresh(const std::vector<std::unique_ptr<DataSetRecord>> &rows, int slot, const DataSetRecord *skip,
                          quint64 generation, bool arrivalTies)
{
    if (m_generation != generation) {
        m_entries.clear();
        m_entries.reserve(rows.size());
        for (const auto &row : rows) {
            if (row.get() != skip) {
                m_entries.push_back({orderKey(row->values.at(slot)), row.get()});
            }
        }
        m_sorted = false;
        m_arrivalTies = arrivalTies;
        m_generation = generation;
    }
    sort();
}

std::span<const LocateIndex::Entry> LocateIndex::equalRange(quint64 key) const
{
    const auto [from, to] = std::equal_range(m_entries.begin(), m_entries.end(), Entry{key, nullptr},
                                             [](const Entry &a, const Entry &b) { return a.key < b.key; });
    return {from, to};
}

const std::vector<LocateIndex::Entry> *LocateIndex::arrivalOrdered(quint64 generation, size_t rowCount)
{
    if (m_generation != generation || !m_arrivalTies || m_entries.size() != rowCount) {
        return nullptr;
    }
    sort();
    return &m_entries;
}

void LocateIndex::sort()
{
    if (!m_sorted) {
        radixSort(m_entries);
        m_sorted = true;
    }
}
