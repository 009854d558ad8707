#pragma once

#include <QObject>

class TClientDataSet;
class TfrmProcessoUnidade;

// The responsible operators of the current task: the rules of cdsOperadores,
// of its working copy cdsVdOperadores, and of the grid dbgOperadores.
class OperadoresLevel : public QObject
{
    Q_OBJECT
public:
    // Binds its reactions to the screen's operator components.
    explicit OperadoresLevel(TfrmProcessoUnidade *screen);

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
    void dbgOperadoresKeyDown(QObject *sender, quint16 &key, Qt::KeyboardModifiers shift);

private:
    TfrmProcessoUnidade *m_screen;
};
