#pragma once

#include <QObject>

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
    void sbtRedefinirClick(QObject *sender);

private:
    TfrmProcessoUnidade *m_screen;
};
