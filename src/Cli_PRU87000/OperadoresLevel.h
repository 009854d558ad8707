#pragma once

#include <QObject>
#include <QString>

#include <optional>

#include "ScopedDetach.h"
#include "TDBGrid.h"
#include "TField.h"

class QPainter;
class TADOIBQuery;
class TClientDataSet;
class TColumn;
class TDataSource;
class TfrmProcessoUnidade;

// The responsible operators of the current task: the rules of cdsOperadores,
// of its working copy cdsVdOperadores, the operator and group lookups, and
// the grid dbgOperadores with its two check columns.
class OperadoresLevel : public QObject
{
    Q_OBJECT
public:
    // Binds its reactions to the screen's operator components.
    explicit OperadoresLevel(TfrmProcessoUnidade *screen);

    // ---- records ----
    void cdsOperadoresAfterOpen(TClientDataSet *dataSet);
    void cdsOperadoresAfterScroll(TClientDataSet *dataSet);
    void cdsOperadoresBeforeInsert(TClientDataSet *dataSet);
    void cdsOperadoresAfterInsert(TClientDataSet *dataSet);
    void cdsOperadoresBeforeEdit(TClientDataSet *dataSet);
    void cdsOperadoresAfterEdit(TClientDataSet *dataSet);
    void cdsOperadoresBeforePost(TClientDataSet *dataSet);
    void cdsOperadoresAfterCancel(TClientDataSet *dataSet);
    void cdsOperadoresAfterDelete(TClientDataSet *dataSet);
    void ValidaOperadores();

    // ---- lookups ----
    void cdsOperadoresCDOPERADORGetText(TField *sender, QString &text, bool displayText);
    void cdsOperadoresCDGRUPOPERGetText(TField *sender, QString &text, bool displayText);
    void VdOperador();
    void VdGrupOper();
    void GetOperadoresPesq();
    void GetGrupOper();

    // ---- grid ----
    void dbgOperadoresEnter(QObject *sender);
    void dbgOperadoresColEnter(QObject *sender);
    void dbgOperadoresColExit(QObject *sender);
    void dbgOperadoresEditButtonClick(QObject *sender);
    void dbgOperadoresDrawColumnCell(QObject *sender, QPainter &painter, const QRect &rect, int dataCol,
                                     TColumn *column, TGridDrawState state);
    void dbgOperadoresDblClick(QObject *sender);
    void dbgOperadoresKeyDown(QObject *sender, quint16 &key, Qt::KeyboardModifiers shift);
    void dbgOperadoresKeyPress(QObject *sender, QChar &key);

private:
    // An operator or a group: the same lookup, on its own fields, query and messages.
    struct ResponsibleKind
    {
        QString code;
        QString name;
        QString otherCode;
        QString otherName;
        QString allRowsParam;
        int width;
        QString notFound;
        QString repeated;
        bool repeatKeepsName;
    };
    static const ResponsibleKind &operatorKind();
    static const ResponsibleKind &groupKind();
    TADOIBQuery *queryOf(const ResponsibleKind &kind) const;
    void validateCode(const ResponsibleKind &kind);
    void searchCode(const ResponsibleKind &kind, TDataSource *list, const QString &titleKey);
    // Code cells show the name except in the cell the user is in.
    void codeOrName(TField *code, const QString &nameField, QString &text) const;

    void detachGetText();
    void attachGetText();
    QString selectedFieldName() const;
    bool flagColumnSelected() const;
    bool codeColumnSelected() const;
    // A row the server already keeps (key 0 or more): its operator or group stays.
    bool currentRowIsStored() const;

    TfrmProcessoUnidade *m_screen;
    // This level's own rows and grid.
    TClientDataSet *const m_rows;
    TDBGrid *const m_grid;
    std::optional<ScopedDetach<TFieldGetTextEvent>> m_operatorTextOff;
    std::optional<ScopedDetach<TFieldGetTextEvent>> m_groupTextOff;
};
