#include "MessageFormat.h"

#include <QStringList>

QString formatMessage(const QString &text, const QStringList &values)
{
    QString result;
    result.reserve(text.size());
    int next = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'%' && i + 1 < text.size()) {
            const QChar kind = text.at(i + 1);
            if (kind == u's') {
                result += next < values.size() ? values.at(next) : QString();
                ++next;
                ++i;
                continue;
            }
            if (kind == u'%') {
                result += u'%';
                ++i;
                continue;
            }
        }
        result += text.at(i);
    }
    return result;
}
