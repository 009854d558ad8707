#pragma once

#include <QStringView>

#include <cstddef>
#include <optional>

// An enum's names, each value's in one row of a table kept beside the enum:
// the name it travels or is stored under, and the label a message shows.
template <typename Enum>
struct EnumName
{
    Enum value;
    QStringView wire;
    QStringView label;
};

// True when the table holds one row per value from the first to last, in the
// enum's order; each table asserts it, so that a row is found by its value.
template <typename Enum, std::size_t N>
constexpr bool enumTableComplete(const EnumName<Enum> (&table)[N], Enum last)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (static_cast<std::size_t>(table[i].value) != i) {
            return false;
        }
    }
    return static_cast<std::size_t>(last) + 1 == N;
}

template <typename Enum, std::size_t N>
constexpr const EnumName<Enum> &enumName(const EnumName<Enum> (&table)[N], Enum value)
{
    return table[static_cast<std::size_t>(value)];
}

// The value whose wire name is text, exactly; nullopt for any other text.
template <typename Enum, std::size_t N>
constexpr std::optional<Enum> enumFromWire(const EnumName<Enum> (&table)[N], QStringView text)
{
    for (const EnumName<Enum> &row : table) {
        if (row.wire == text) {
            return row.value;
        }
    }
    return std::nullopt;
}
