#pragma once

#include <QVariant>

#include <memory>
#include <span>
#include <vector>

#include "DataSetRecord.h"

// Locate on one stored number field: the posted rows by value, sorted on
// first use, so that a locate costs a binary search instead of a scan.
// Entries point at rows, so moves keep them valid; a post, a delete or a new
// content (a new generation of the record set) makes them stale.
class LocateIndex
{
public:
    struct Entry
    {
        quint64 key;
        DataSetRecord *record;
    };

    // A fill collects the values as it builds the rows, in arrival order.
    void reserve(size_t count) { m_entries.reserve(count); }
    void add(const QVariant &value, DataSetRecord *record);
    // What the fill collected stands for the content of generation.
    void adopt(quint64 generation);

    // Brings the index up to generation: collects the rows again when stale
    // (leaving skip out: a row being inserted is not posted) and sorts.
    void refresh(const std::vector<std::unique_ptr<DataSetRecord>> &rows, int slot, const DataSetRecord *skip,
                 quint64 generation, bool arrivalTies);
    // The rows holding key, once refreshed; several rows may hold it.
    std::span<const Entry> equalRange(quint64 key) const;

    // The rows of generation sorted by value, equal values in arrival order,
    // when this index collected exactly rowCount rows in a fill; else null.
    const std::vector<Entry> *arrivalOrdered(quint64 generation, size_t rowCount);

private:
    void sort();

    quint64 m_generation = 0;
    bool m_sorted = false;
    bool m_arrivalTies = false; // equal keys stand in arrival order (made by a fill)
    std::vector<Entry> m_entries;
};
