#pragma once

#include <QString>
#include <QStringList>

#include "LookupConnection.h"
#include "data_export.h"

class QObject;
class TADOIBQuery;
class TDataSource;

// The screen's three lookup queries (periodicity, operator, operator group).
// Their SQL texts are kept as data under ":/data/queries/<query>.<dialect>.sql",
// one stored line per line; each query carries all four and runs the one
// of the connection's dialect.
namespace LookupQueries {

// "qryVdPeridiocidade", "qryVdOperador", "qryVdGrupoper".
PRU_DATA_EXPORT QStringList names();

// The lines of a stored text, exactly as kept. Throws EDatabaseError for an
// unknown query or a missing file.
PRU_DATA_EXPORT QStringList text(const QString &queryName, TSqlDialect dialect);

// Creates a query as a child of owner (objectName = queryName) with its four
// texts and its result fields: code and name, labelled "Código" and "Nome",
// with their sizes and display widths.
PRU_DATA_EXPORT TADOIBQuery *create(const QString &queryName, QObject *owner);

// The data source a search list receives for a query: a child of owner named
// after the query ("dtsVdOperador" for "qryVdOperador"), on the query's
// record set.
PRU_DATA_EXPORT TDataSource *createDataSource(TADOIBQuery *query, QObject *owner);

struct LookupQuerySet
{
    TADOIBQuery *qryVdPeridiocidade = nullptr;
    TADOIBQuery *qryVdOperador = nullptr;
    TADOIBQuery *qryVdGrupoper = nullptr;
    TDataSource *dtsVdPeridiocidade = nullptr;
    TDataSource *dtsVdOperador = nullptr;
    TDataSource *dtsVdGrupoper = nullptr;
};

// The three queries and their data sources, all children of owner.
PRU_DATA_EXPORT LookupQuerySet createAll(QObject *owner);

} // namespace LookupQueries
