#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <array>
#include <memory>
#include <vector>

#include "LookupConnection.h"
#include "Packet.h"
#include "framework_export.h"

class TClientDataSet;
class TField;

// A parameter of a query, found by name in its SQL texts (":NAME").
// The value is a variant, bound as it is when the query opens:
//   query->ParamByName(u"CDPERIENTR"_s)->setValue(code);
// A QVariant() binds NULL; a text binds as text, and an empty text (even a
// null QString) binds as the empty text, never as NULL.
class FRAMEWORK_EXPORT TParam
{
public:
    explicit TParam(QString name)
        : m_name(std::move(name))
    { }

    const QString &Name() const { return m_name; }
    QVariant Value() const { return m_value; }
    void setValue(const QVariant &value) { m_value = value; }
    void Clear() { m_value = QVariant(); }
    bool IsNull() const { return !m_value.isValid() || m_value.isNull(); }

private:
    QString m_name;
    QVariant m_value;
};

// Read-only lookup query holding one SQL text per dialect; it runs the one
// that fits the connection in use (see LookupConnection::dialectOf). Use:
//   Close(); ParamByName(...)->setValue(...); Open(); IsEmpty(); FieldByName(...)
// Open runs the text with the parameters bound (never pasted into the SQL)
// and loads every row into an internal record set, which is what a data
// source shows (DataSet()). The objectName is the component's name.
class FRAMEWORK_EXPORT TADOIBQuery : public QObject
{
    Q_OBJECT
public:
    explicit TADOIBQuery(QObject *parent = nullptr);
    ~TADOIBQuery() override;

    // ---- definition ----
    // Lines as stored; the text that runs is the lines joined by newlines.
    // Changing a text closes the query and renews the parameter list (values
    // of names that remain are kept).
    QStringList SQL(TSqlDialect dialect) const;
    void setSQL(TSqlDialect dialect, const QStringList &lines);
    // A result column as the record set holds it: type, size, label and
    // display width (0 = the type's default). Columns are matched by name
    // without regard to case (PostgreSQL answers in lower case). Without
    // definitions the fields come from the first result.
    void defineField(const QString &name, FieldType type, int size, const QString &label = {}, int displayWidth = 0);

    // The named QSqlDatabase connection to use; empty (the default) is the
    // framework's shared lookup connection.
    QString connectionName() const { return m_connectionName; }
    void setConnectionName(const QString &name);

    // ---- parameters ----
    // Case-insensitive; throws EDatabaseError for a name none of the texts uses.
    TParam *ParamByName(const QString &name) const;
    QList<TParam *> Params() const;

    // ---- running ----
    TSqlDialect Dialect() const; // of the connection in use (opens it if needed)
    QString ActiveSQL() const; // the text Open runs on the connection in use
    void Open(); // throws EDatabaseError on any database error
    void Close();
    bool Active() const;

    // ---- result (the current row of the internal record set) ----
    bool IsEmpty() const;
    int RecordCount() const;
    void First();
    void Next();
    bool Eof() const;
    TField *FieldByName(const QString &name) const; // throws EDatabaseError when missing
    TField *FindField(const QString &name) const;
    TClientDataSet *DataSet() const { return m_data; }

    // Names of the parameters of a text, in order of appearance, once each;
    // quoted text, comments and "::" casts are skipped.
    static QStringList parameterNames(const QString &sql);

private:
    struct FieldSpec
    {
        QString name;
        FieldType type;
        int size;
        QString label;
        int displayWidth;
    };

    QSqlDatabase connection() const;
    void renewParams();
    void resetDataSet();
    void applyFieldSpecs();

    std::array<QStringList, 4> m_sql;
    std::vector<std::unique_ptr<TParam>> m_params;
    QList<FieldSpec> m_fieldSpecs;
    QString m_connectionName;
    TClientDataSet *m_data = nullptr;
    bool m_fieldsFromResult = false;
};
