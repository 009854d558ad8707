#pragma once

#include <QObject>

class TClientDataSet;
class TfrmProcessoUnidade;

// The tasks of the current process: the rules of cdsTarefas and its grid
// dbgTarefas.
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
    void cdsTarefasBeforePost(TClientDataSet *dataSet);
    void cdsTarefasAfterCancel(TClientDataSet *dataSet);
    void cdsTarefasAfterDelete(TClientDataSet *dataSet);
    void ValidaTarefas();
    void dbgTarefasKeyDown(QObject *sender, quint16 &key, Qt::KeyboardModifiers shift);

private:
    TfrmProcessoUnidade *m_screen;
};
