#pragma once

#include <QString>
#include <QStringList>

// Catalogue texts carry printf-style "%s" placeholders (a translation keeps
// them as they are); this fills them in order with the given texts. A "%%"
// stays a single '%'; placeholders without a value are left empty.
QString formatMessage(const QString &text, const QStringList &values);
inline QString formatMessage(const QString &text, const QString &value)
{
    return formatMessage(text, QStringList{value});
}
