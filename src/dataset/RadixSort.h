#pragma once

#include <QVariant>

#include <array>
#include <bit>
#include <cstring>
#include <vector>

// Sorting on 64-bit keys, shared by the record set's index and its locate
// index: both order rows by the value of a number field.

// Order-preserving 64-bit key of an index or lookup value: null below every
// number, -0 equal to 0.
inline quint64 orderKey(const QVariant &value)
{
    if (!value.isValid()) {
        return 0;
    }
    double d = value.toDouble();
    if (d == 0) {
        d = 0.0;
    }
    quint64 bits = 0;
    std::memcpy(&bits, &d, sizeof bits);
    return (bits >> 63) ? ~bits : bits | (quint64(1) << 63);
}

inline quint64 seqKey(qint64 seq)
{
    return quint64(seq) ^ (quint64(1) << 63);
}

// Stable LSD radix sort on T::key: linear time on contiguous memory, so that
// ordering 100,000 rows costs ten times ordering 10,000.
template <typename T>
void radixSort(std::vector<T> &items)
{
    constexpr int bits = 11;
    constexpr quint64 mask = (quint64(1) << bits) - 1;
    constexpr int maxPasses = (64 + bits - 1) / bits;
    if (items.size() < 2) {
        return;
    }
    // Only the bits in which the keys differ need passes (whole numbers held
    // as doubles differ in few of them).
    quint64 differing = 0;
    const quint64 first = items.front().key;
    for (const T &item : items) {
        differing |= item.key ^ first;
    }
    if (differing == 0) {
        return;
    }
    const int low = std::countr_zero(differing);
    const int passes = (63 - std::countl_zero(differing) - low) / bits + 1;
    std::vector<std::array<size_t, size_t(1) << bits>> counts(static_cast<size_t>(passes));
    for (const T &item : items) {
        const quint64 key = item.key >> low;
        for (int pass = 0; pass < passes; ++pass) {
            ++counts[size_t(pass)][(key >> (pass * bits)) & mask];
        }
    }
    static_assert(maxPasses >= 1);
    std::vector<T> buffer(items.size());
    for (int pass = 0; pass < passes; ++pass) {
        const int shift = low + pass * bits;
        auto &count = counts[size_t(pass)];
        if (count[(items.front().key >> shift) & mask] == items.size()) {
            continue; // every key has the same digit here
        }
        size_t total = 0;
        for (size_t &c : count) {
            const size_t here = c;
            c = total;
            total += here;
        }
        for (const T &item : items) {
            buffer[count[(item.key >> shift) & mask]++] = item;
        }
        items.swap(buffer);
    }
}
