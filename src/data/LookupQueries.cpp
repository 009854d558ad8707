#include "LookupQueries.h"

#include <QObject>

#include "DataFiles.h"
#include "Exceptions.h"
#include "TADOIBQuery.h"
#include "TDataSource.h"

using namespace Qt::StringLiterals;

namespace LookupQueries {

namespace {

struct Column
{
    const char16_t *name;
    int size;
    int displayWidth; // 0: the size
};

struct Definition
{
    const char16_t *query;
    const char16_t *dataSource;
    Column code;
    Column name;
};

// Result columns of each query; labels are the same for the three.
const Definition definitions[] = {
    {u"qryVdPeridiocidade", u"dtsVdPeridiocidade", {u"CDPERIENTR", 2, 0}, {u"NMPERIENTR", 20, 0}},
    {u"qryVdOperador", u"dtsVdOperador", {u"CDOPERADOR", 12, 15}, {u"NMOPERADOR", 40, 0}},
    {u"qryVdGrupoper", u"dtsVdGrupoper", {u"CDGRUPOPER", 2, 0}, {u"DSGRUPOPER", 30, 0}},
};

const Definition &definition(const QString &queryName)
{
    for (const Definition &d : definitions) {
        if (queryName == QStringView(d.query)) {
            return d;
        }
    }
    throw EDatabaseError(u"Consulta desconhecida: %1"_s.arg(queryName));
}

} // namespace

QStringList names()
{
    QStringList list;
    for (const Definition &d : definitions) {
        list.append(QString::fromUtf16(d.query));
    }
    return list;
}

QStringList text(const QString &queryName, TSqlDialect dialect)
{
    const Definition &d = definition(queryName);
    const QString path =
        u"queries/%1.%2.sql"_s.arg(QString::fromUtf16(d.query), enumName(sqlDialectNames, dialect).wire);
    QString content = DataFiles::read(path);
    // Every stored line ends with a newline, the last one too.
    if (!content.endsWith(u'\n')) {
        throw EDatabaseError(u"Texto de consulta sem fim de linha final: %1"_s.arg(path));
    }
    content.chop(1);
    if (content.contains(u'\r')) {
        throw EDatabaseError(u"Texto de consulta com fim de linha CR: %1"_s.arg(path));
    }
    return content.split(u'\n');
}

TADOIBQuery *create(const QString &queryName, QObject *owner)
{
    const Definition &d = definition(queryName);
    auto *query = new TADOIBQuery(owner);
    query->setObjectName(queryName);
    for (const EnumName<TSqlDialect> &name : sqlDialectNames) {
        query->setSQL(name.value, text(queryName, name.value));
    }
    query->defineField(QString::fromUtf16(d.code.name), FieldType::Text, d.code.size, u"Código"_s, d.code.displayWidth);
    query->defineField(QString::fromUtf16(d.name.name), FieldType::Text, d.name.size, u"Nome"_s, d.name.displayWidth);
    return query;
}

TDataSource *createDataSource(TADOIBQuery *query, QObject *owner)
{
    const Definition &d = definition(query->objectName());
    auto *source = new TDataSource(owner);
    source->setObjectName(QString::fromUtf16(d.dataSource));
    source->setDataSet(query->DataSet());
    return source;
}

LookupQuerySet createAll(QObject *owner)
{
    LookupQuerySet set;
    set.qryVdPeridiocidade = create(u"qryVdPeridiocidade"_s, owner);
    set.qryVdOperador = create(u"qryVdOperador"_s, owner);
    set.qryVdGrupoper = create(u"qryVdGrupoper"_s, owner);
    set.dtsVdPeridiocidade = createDataSource(set.qryVdPeridiocidade, owner);
    set.dtsVdOperador = createDataSource(set.qryVdOperador, owner);
    set.dtsVdGrupoper = createDataSource(set.qryVdGrupoper, owner);
    return set;
}

} // namespace LookupQueries
