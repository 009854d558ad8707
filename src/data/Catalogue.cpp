#include "Catalogue.h"

#include <QHash>

#include "DataFiles.h"

using namespace Qt::StringLiterals;

namespace {
QHash<QString, QString> load()
{
    QHash<QString, QString> entries;
    const QString content = DataFiles::read(u"PRU87000.msg"_s);
    const QStringList lines = content.split(u'\n');
    for (QString line : lines) {
        if (line.endsWith(u'\r')) {
            line.chop(1);
        }
        const qsizetype bar = line.indexOf(u'|');
        if (bar <= 0) {
            continue;
        }
        // Everything after the first bar, leading blanks included.
        entries.insert(line.left(bar), line.mid(bar + 1));
    }
    return entries;
}

const QHash<QString, QString> &entries()
{
    static const QHash<QString, QString> table = load();
    return table;
}
} // namespace

namespace Catalogue {
QString text(const QString &key)
{
    return entries().value(key, key);
}

bool contains(const QString &key)
{
    return entries().contains(key);
}
} // namespace Catalogue
