#pragma once

#include <QObject>

#include <optional>

#include "ScopedDetach.h"
#include "TDBGrid.h"
#include "TField.h"

class QPainter;
class TClientDataSet;
class TfrmProcessoUnidade;

// The tasks of the current process: the rules of cdsTarefas, its grid
// dbgTarefas, the periodicity lookup, the ordering buttons and the
// observation dialog.
class TarefasLevel : public QObject
{
    Q_OBJECT
public:
    // Binds its reactions to the screen's task components.
    explicit TarefasLevel(TfrmProcessoUnidade *screen);

    void cdsTarefasAfterOpen(TClientDataSet *dataSet);
    void cdsTarefasAfterScroll(TClientDataSet *dataSet);
    void cdsTarefasBeforeInsert(TClientDataSet *dataSet);
    void cdsTarefasAfterInsert(TClientDataSet *dataSet);
    void cdsTarefasBeforeEdit(TClientDataSet *dataSet);
    void cdsTarefasAfterEdit(TClientDataSet *dataSet);
    void cdsTarefasBeforePost(TClientDataSet *dataSet);
    void cdsTarefasAfterCancel(TClientDataSet *dataSet);
    void cdsTarefasBeforeDelete(TClientDataSet *dataSet);
    void cdsTarefasAfterDelete(TClientDataSet *dataSet);
    void ValidaTarefas();

    // ---- periodicity ----
    void VdPeridiocidade();
    void GetPeriodicidades();
    void cdsTarefasCDPERIENTRGetText(TField *sender, QString &text, bool displayText);

    // ---- grid ----
    void dbgTarefasEnter(QObject *sender);
    void dbgTarefasColEnter(QObject *sender);
    void dbgTarefasColExit(QObject *sender);
    void dbgTarefasDrawColumnCell(QObject *sender, QPainter &painter, const QRect &rect, int dataCol, TColumn *column,
                                  TGridDrawState state);
    void dbgTarefasEditButtonClick(QObject *sender);
    void dbgTarefasDblClick(QObject *sender);
    void dbgTarefasKeyDown(QObject *sender, quint16 &key, Qt::KeyboardModifiers shift);

    // ---- ordering ----
    void OrdenaTarefa(bool up);
    void sbtTarefaUpClick(QObject *sender);
    void sbtTarefaDownClick(QObject *sender);

private:
    // The grid's selected column shows this field of cdsTarefas.
    bool selectedFieldIs(const QString &fieldName) const;
    TField *taskField(const QString &fieldName) const;

    TfrmProcessoUnidade *m_screen;
    // This level's own rows and grid.
    TClientDataSet *const m_rows;
    TDBGrid *const m_grid;
    // The periodicity's get-text is off from the start of an insert or edit
    // until the row has entered that state.
    std::optional<ScopedDetach<TFieldGetTextEvent>> m_getTextOff;
};
