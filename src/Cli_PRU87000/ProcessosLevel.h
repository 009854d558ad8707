#pragma once

#include <QObject>
#include <QPointer>

#include "TDBGrid.h"

class QPainter;
class TClientDataSet;
class TField;
class TfrmProcessoUnidade;

// The processes of the unit: the rules of cdsProcessos and its grid
// dbgPadrao, and the redefinition of a process's activities of the day.
class ProcessosLevel : public QObject
{
    Q_OBJECT
public:
    // Binds its reactions to the screen's process components.
    explicit ProcessosLevel(TfrmProcessoUnidade *screen);

    void cdsProcessosAfterOpen(TClientDataSet *dataSet);
    void cdsProcessosAfterScroll(TClientDataSet *dataSet);
    void cdsProcessosBeforeInsert(TClientDataSet *dataSet);
    void cdsProcessosAfterInsert(TClientDataSet *dataSet);
    void cdsProcessosBeforeEdit(TClientDataSet *dataSet);
    void cdsProcessosBeforePost(TClientDataSet *dataSet);
    void cdsProcessosAfterCancel(TClientDataSet *dataSet);
    void cdsProcessosBeforeDelete(TClientDataSet *dataSet);
    void cdsProcessosAfterDelete(TClientDataSet *dataSet);
    void cdsProcessosCalcFields(TClientDataSet *dataSet);
    void ValidaProcessos();
    void cdsProcessosDTINIVIGENCIASetText(TField *sender, const QString &text);
    void cdsProcessosDTFINVIGENCIASetText(TField *sender, const QString &text);

    // Validity dates.
    void VdVigencia();
    void VdDtIniVigencia(bool required);
    void VdDtFinVigencia();
    // Typed text into a date field: null when only slashes and blanks, a date
    // when it is a real day/month/year, else the field is cleared and refused.
    void ValidaData(TField *field, const QString &text);

    // The process grid.
    void dbgPadraoDrawColumnCell(QObject *sender, QPainter &painter, const QRect &rect, int dataCol, TColumn *column,
                                 TGridDrawState state);
    void dbgPadraoColEnter(QObject *sender);
    void dbgPadraoColExit(QObject *sender);
    void dbgPadraoKeyDown(QObject *sender, quint16 &key, Qt::KeyboardModifiers shift);
    void dbgPadraoKeyPress(QObject *sender, QChar &key);

    void sbtRedefinirClick(QObject *sender);

private:
    // Focus on the field's cell, then the catalogue text of key; nothing after it runs.
    [[noreturn]] void refuse(TField *field, const QString &key);
    bool selectedColumnShows(const QString &fieldName) const;
    // The start of a saved process, or the end of one that has already ended.
    bool isProtectedDateCell() const;

    // A field of cdsProcessos, found by name the first time.
    TField *processField(QPointer<TField> &kept, const QString &name) const;

    TfrmProcessoUnidade *m_screen;
    // This level's own rows and grid.
    TClientDataSet *const m_rows;
    TDBGrid *const m_grid;
    // What the calculated "last update" reads and writes.
    mutable QPointer<TField> m_operatorName;
    mutable QPointer<TField> m_updatedAt;
    mutable QPointer<TField> m_lastUpdate;
};
