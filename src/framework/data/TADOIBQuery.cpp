#include "TADOIBQuery.h"

#include <algorithm>

#include <QDateTime>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

#include "DateTime.h"
#include "Exceptions.h"
#include "FieldValue.h"
#include "TClientDataSet.h"
#include "TField.h"

using namespace Qt::StringLiterals;

namespace {

constexpr int pgBpcharOid = 1042; // PostgreSQL's CHAR(n)

int dialectIndex(TSqlDialect dialect)
{
    return static_cast<int>(dialect);
}

bool isIdentifierStart(QChar c)
{
    return c.isLetter() || c == u'_';
}

bool isIdentifierPart(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'$';
}

// The value as the driver should bind it: a text stays a text even when it
// is a null QString, which Qt's drivers would otherwise send as NULL.
QVariant bindable(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QString && value.toString().isNull()) {
        return QVariant(QString(u""_s));
    }
    return value;
}

// Which columns come back blank-padded: Firebird pads CHAR values (and
// compares texts ignoring trailing blanks anyway, so none of them carries
// meaning there); PostgreSQL pads its CHAR(n) (bpchar).
bool paddedColumn(const QString &driver, const QSqlField &field)
{
    if (field.metaType().id() != QMetaType::QString) {
        return false;
    }
    if (driver == u"QIBASE") {
        return true;
    }
    if (driver == u"QPSQL") {
        return field.typeID() == pgBpcharOid;
    }
    return false;
}

QString trimRightBlanks(const QString &text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == u' ') {
        --end;
    }
    return end == text.size() ? text : text.left(end);
}

FieldType fieldTypeOf(const QSqlField &field)
{
    if (FieldValue::isNumericType(field.metaType())) {
        return FieldType::Number;
    }
    switch (field.metaType().id()) {
    case QMetaType::QDate:
    case QMetaType::QDateTime:
        return FieldType::DateTime;
    default:
        return FieldType::Text;
    }
}

} // namespace

TADOIBQuery::TADOIBQuery(QObject *parent)
    : QObject(parent)
{
    resetDataSet();
}

TADOIBQuery::~TADOIBQuery() = default;

QStringList TADOIBQuery::SQL(TSqlDialect dialect) const
{
    return m_sql.at(dialectIndex(dialect));
}

void TADOIBQuery::setSQL(TSqlDialect dialect, const QStringList &lines)
{
    Close();
    m_sql.at(dialectIndex(dialect)) = lines;
    renewParams();
    // Fields taken from a result belong to the old text.
    if (m_fieldsFromResult) {
        resetDataSet();
    }
}

void TADOIBQuery::defineField(const QString &name, FieldType type, int size, const QString &label, int displayWidth)
{
    Close();
    m_fieldSpecs.append({name.toUpper(), type, size, label, displayWidth});
    if (m_fieldsFromResult) {
        resetDataSet();
    }
    applyFieldSpecs();
}

void TADOIBQuery::setConnectionName(const QString &name)
{
    Close();
    m_connectionName = name;
}

TParam *TADOIBQuery::ParamByName(const QString &name) const
{
    for (const auto &param : m_params) {
        if (param->Name().compare(name, Qt::CaseInsensitive) == 0) {
            return param.get();
        }
    }
    throw EDatabaseError(u"%1: parâmetro \"%2\" não encontrado."_s.arg(objectName(), name));
}

QList<TParam *> TADOIBQuery::Params() const
{
    QList<TParam *> list;
    for (const auto &param : m_params) {
        list.append(param.get());
    }
    return list;
}

QSqlDatabase TADOIBQuery::connection() const
{
    if (m_connectionName.isEmpty()) {
        return LookupConnection::database();
    }
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    if (!db.isOpen()) {
        throw EDatabaseError(u"%1: a conexão \"%2\" não está aberta."_s.arg(objectName(), m_connectionName));
    }
    return db;
}

TSqlDialect TADOIBQuery::Dialect() const
{
    return LookupConnection::dialectOf(connection());
}

QString TADOIBQuery::ActiveSQL() const
{
    return SQL(Dialect()).join(u'\n');
}

void TADOIBQuery::Open()
{
    Close();
    QSqlDatabase db = connection();
    const TSqlDialect dialect = LookupConnection::dialectOf(db);
    const QString sql = SQL(dialect).join(u'\n');
    if (sql.trimmed().isEmpty()) {
        throw EDatabaseError(
            u"%1: não há texto SQL para o dialeto %2."_s.arg(objectName(), enumName(sqlDialectNames, dialect).label));
    }

    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql)) {
        throw EDatabaseError(u"%1: %2"_s.arg(objectName(), query.lastError().text()));
    }
    // Every occurrence of a name gets the same value; Qt turns the names
    // into the positional markers of drivers that have no named ones.
    for (const QString &name : parameterNames(sql)) {
        query.bindValue(u':' + name, bindable(ParamByName(name)->Value()));
    }
    if (!query.exec()) {
        throw EDatabaseError(u"%1: %2"_s.arg(objectName(), query.lastError().text()));
    }

    const QSqlRecord record = query.record();
    const QString driver = db.driverName().toUpper();

    // Which result column feeds each field, and how.
    struct Column
    {
        int index;
        FieldDef def;
        bool padded;
    };
    QList<Column> columns;
    if (!m_fieldSpecs.isEmpty()) {
        for (const FieldSpec &wanted : m_fieldSpecs) {
            int index = -1;
            for (int i = 0; i < record.count(); ++i) {
                if (record.fieldName(i).compare(wanted.name, Qt::CaseInsensitive) == 0) {
                    index = i;
                    break;
                }
            }
            if (index < 0) {
                throw EDatabaseError(u"%1: a consulta não devolveu a coluna %2."_s.arg(objectName(), wanted.name));
            }
            columns.append({index,
                            {wanted.name, wanted.type, wanted.type == FieldType::Text ? wanted.size : 0},
                            paddedColumn(driver, record.field(index))});
        }
    } else {
        for (int i = 0; i < record.count(); ++i) {
            const QSqlField f = record.field(i);
            columns.append({i, {record.fieldName(i).toUpper(), fieldTypeOf(f), 0}, paddedColumn(driver, f)});
        }
    }

    DataPacket packet;
    while (query.next()) {
        Row row;
        row.reserve(columns.size());
        for (Column &column : columns) {
            const QVariant raw = query.value(column.index);
            if (!raw.isValid() || raw.isNull() || query.isNull(column.index)) {
                row.append(QVariant());
                continue;
            }
            switch (column.def.type) {
            case FieldType::Text: {
                QString text = raw.toString();
                if (column.padded) {
                    text = trimRightBlanks(text);
                }
                if (m_fieldSpecs.isEmpty()) {
                    column.def.size = std::max<int>(column.def.size, int(text.size()));
                } else if (text.size() > column.def.size) {
                    throw EDatabaseError(u"%1: o valor de %2 tem mais de %3 caracteres: \"%4\"."_s.arg(
                        objectName(), column.def.name, QString::number(column.def.size), text));
                }
                row.append(text);
                break;
            }
            case FieldType::Number: {
                bool ok = false;
                const double number = raw.toDouble(&ok);
                if (!ok) {
                    throw EDatabaseError(u"%1: valor não numérico em %2."_s.arg(objectName(), column.def.name));
                }
                row.append(number);
                break;
            }
            case FieldType::DateTime:
                if (raw.metaType().id() == QMetaType::QDate) {
                    const QDate date = raw.toDate();
                    row.append(DateTime::fromDate(date.year(), date.month(), date.day()));
                } else {
                    row.append(DateTime::fromQDateTime(raw.toDateTime()));
                }
                break;
            }
        }
        packet.rows.append(row);
    }
    if (query.lastError().isValid()) {
        throw EDatabaseError(u"%1: %2"_s.arg(objectName(), query.lastError().text()));
    }
    query.finish();

    for (Column &column : columns) {
        if (column.def.type == FieldType::Text && column.def.size <= 0) {
            column.def.size = 1;
        }
        packet.fields.append(column.def);
    }
    m_data->SetData(packet);
    m_fieldsFromResult = m_fieldSpecs.isEmpty();
    applyFieldSpecs();
}

void TADOIBQuery::Close()
{
    if (m_data && m_data->Active()) {
        m_data->Close();
    }
}

bool TADOIBQuery::Active() const
{
    return m_data->Active();
}

bool TADOIBQuery::IsEmpty() const
{
    return !m_data->Active() || m_data->IsEmpty();
}

int TADOIBQuery::RecordCount() const
{
    return m_data->Active() ? m_data->RecordCount() : 0;
}

void TADOIBQuery::First()
{
    m_data->First();
}

void TADOIBQuery::Next()
{
    m_data->Next();
}

bool TADOIBQuery::Eof() const
{
    return !m_data->Active() || m_data->Eof();
}

TField *TADOIBQuery::FieldByName(const QString &name) const
{
    return m_data->FieldByName(name);
}

TField *TADOIBQuery::FindField(const QString &name) const
{
    return m_data->FindField(name);
}

QStringList TADOIBQuery::parameterNames(const QString &sql)
{
    QStringList names;
    const qsizetype n = sql.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = sql.at(i);
        if (c == u'\'' || c == u'"') {
            // quoted text or identifier; a doubled quote stays inside
            ++i;
            while (i < n) {
                if (sql.at(i) == c) {
                    if (i + 1 < n && sql.at(i + 1) == c) {
                        i += 2;
                        continue;
                    }
                    break;
                }
                ++i;
            }
            ++i;
        } else if (c == u'-' && i + 1 < n && sql.at(i + 1) == u'-') {
            while (i < n && sql.at(i) != u'\n') {
                ++i;
            }
        } else if (c == u'/' && i + 1 < n && sql.at(i + 1) == u'*') {
            const qsizetype end = sql.indexOf(u"*/"_s, i + 2);
            i = end < 0 ? n : end + 2;
        } else if (c == u':' && i + 1 < n && sql.at(i + 1) == u':') {
            i += 2; // a cast, not a parameter
        } else if (c == u':' && i + 1 < n && isIdentifierStart(sql.at(i + 1))) {
            qsizetype end = i + 1;
            while (end < n && isIdentifierPart(sql.at(end))) {
                ++end;
            }
            const QString name = sql.mid(i + 1, end - i - 1);
            if (!names.contains(name)) {
                names.append(name);
            }
            i = end;
        } else {
            ++i;
        }
    }
    return names;
}

void TADOIBQuery::renewParams()
{
    QStringList names;
    for (const QStringList &lines : m_sql) {
        for (const QString &name : parameterNames(lines.join(u'\n'))) {
            const bool known = std::any_of(names.cbegin(), names.cend(), [&name](const QString &other) {
                return other.compare(name, Qt::CaseInsensitive) == 0;
            });
            if (!known) {
                names.append(name);
            }
        }
    }
    std::vector<std::unique_ptr<TParam>> params;
    for (const QString &name : names) {
        auto param = std::make_unique<TParam>(name);
        for (const auto &old : m_params) {
            if (old->Name().compare(name, Qt::CaseInsensitive) == 0) {
                param->setValue(old->Value());
            }
        }
        params.push_back(std::move(param));
    }
    m_params = std::move(params);
}

void TADOIBQuery::resetDataSet()
{
    delete m_data;
    m_fieldsFromResult = false;
    m_data = new TClientDataSet(this);
    m_data->setObjectName(objectName());
    connect(this, &QObject::objectNameChanged, m_data,
            [data = m_data](const QString &name) { data->setObjectName(name); });
}

void TADOIBQuery::applyFieldSpecs()
{
    for (const FieldSpec &wanted : m_fieldSpecs) {
        TField *field = m_data->FindField(wanted.name);
        if (!field) {
            if (m_data->Active()) {
                continue;
            }
            field = m_data->addField(wanted.name, wanted.type, wanted.type == FieldType::Text ? wanted.size : 0);
        }
        if (!wanted.label.isEmpty()) {
            field->setDisplayLabel(wanted.label);
        }
        if (wanted.displayWidth > 0) {
            field->setDisplayWidth(wanted.displayWidth);
        }
    }
}
