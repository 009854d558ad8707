#pragma once

#include <QString>

#include "TClientDataSet.h"
#include "TDBGrid.h"
#include "TfrmPadraoGrid.h"

class QAction;
class QFrame;
class QLabel;
class QPainter;
class TButtonFlat;
class TDataSource;
class TField;
class TNetConnection;
class TADOIBQuery;
class ScreenImage;

// "Processos da Unidade": processes of the unit, the tasks of the current
// process and the responsible operators of the current task, each level in
// its own grid, all read from and saved to the remote module
// "PRU87000.rdmProcessoUnidade".
//
// Create it with TfrmPadraoGrid::create<TfrmProcessoUnidade>(parent): the
// constructor lays out the components, FormCreate connects and loads.
class TfrmProcessoUnidade : public TfrmPadraoGrid
{
    Q_OBJECT
public:
    explicit TfrmProcessoUnidade(QWidget *parent = nullptr);
    ~TfrmProcessoUnidade() override;

    // ---- components (objectName = member name) ----
    TNetConnection *netProcessoUnidade = nullptr;
    TClientDataSet *cdsProcessos = nullptr;
    TClientDataSet *cdsTarefas = nullptr;
    TClientDataSet *cdsOperadores = nullptr;
    TClientDataSet *cdsVdOperadores = nullptr;
    TClientDataSet *cdsAtividades = nullptr;
    TClientDataSet *cdsVerifTarefas = nullptr;
    TField *cdsProcessosDTINIVIGENCIA = nullptr;
    TField *cdsProcessosDTFINVIGENCIA = nullptr;
    TDataSource *dtsTarefas = nullptr;
    TDataSource *dtsOperadores = nullptr;
    // Code lookups straight against the database, and what their search lists show.
    TADOIBQuery *qryVdPeridiocidade = nullptr;
    TADOIBQuery *qryVdOperador = nullptr;
    TADOIBQuery *qryVdGrupoper = nullptr;
    TDataSource *dtsVdPeridiocidade = nullptr;
    TDataSource *dtsVdOperador = nullptr;
    TDataSource *dtsVdGrupoper = nullptr;
    TDBGrid *dbgTarefas = nullptr;
    TDBGrid *dbgOperadores = nullptr;
    QFrame *panProcessos = nullptr;
    QFrame *panTitulo = nullptr;
    QLabel *lblTarefas = nullptr;
    QLabel *lblOperadores = nullptr;
    QFrame *panTarefas = nullptr;
    QFrame *panSequencia = nullptr;
    QLabel *lblSequencia = nullptr;
    TButtonFlat *sbtTarefaUp = nullptr;
    TButtonFlat *sbtTarefaDown = nullptr;
    QFrame *panOperadores = nullptr;
    TButtonFlat *sbtRedefinir = nullptr;
    QAction *mnuRedefinir = nullptr;
    ScreenImage *imgObs = nullptr;
    ScreenImage *imgChecked = nullptr;
    ScreenImage *imgUnchecked = nullptr;
    ScreenImage *imgOK = nullptr;
    ScreenImage *imgRecalc = nullptr;

    // ---- lifecycle ----
    void FormCreate(QObject *sender) override;
    void FormDestroy(QObject *sender) override;
    void netProcessoUnidadeBeforeConnect(QObject *sender);
    double GetDataAtualServidor();

    // ---- loading and saving the three levels ----
    void GetProcessos(bool detach);
    void GetTarefas(double nrProcesso, bool detach);
    void GetOperadores(double nrAtividade);
    double SetProcessos();
    double SetTarefas();
    double SetOperadores();
    double AplicaAlteracoes(TClientDataSet *dataSet);
    void Atualiza(TClientDataSet *dataSet, double key);

    // ---- edit mode and commands ----
    void Habilita(bool editing);
    // The grid that holds (or last held) the input focus within the screen.
    TDBGrid *currentGrid() const;
    // Editing mode as Habilita last left it, read back from Confirm/Cancel.
    bool isEditing() const;

    void sbtIncluirClick(QObject *sender) override;
    void sbtAlterarClick(QObject *sender) override;
    void sbtExcluirClick(QObject *sender) override;
    void sbtProcurarClick(QObject *sender) override;
    void sbtVerificarClick(QObject *sender) override;
    void sbtCancelarClick(QObject *sender) override;
    void sbtConfirmarClick(QObject *sender) override;
    void sbtRedefinirClick(QObject *sender);
    void sbtTarefaUpClick(QObject *sender);
    void sbtTarefaDownClick(QObject *sender);
    void dbgPadraoEnter(QObject *sender) override;
    void dbgTarefasEnter(QObject *sender);
    void dbgOperadoresEnter(QObject *sender);
    void dtsPadraoStateChange(QObject *sender) override;

    // ---- process records ----
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
    void dbgPadraoDrawColumnCell(QObject *sender, QPainter &painter, const QRect &rect, int dataCol,
                                 TColumn *column, TGridDrawState state);
    void dbgPadraoColEnter(QObject *sender);
    void dbgPadraoColExit(QObject *sender);
    void dbgPadraoKeyDown(QObject *sender, quint16 &key, Qt::KeyboardModifiers shift) override;
    void dbgPadraoKeyPress(QObject *sender, QChar &key) override;

    // ---- task records ----
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
    void cdsTarefasCDPERIENTRGetText(TField *sender, QString &text, bool displayText);
    void dbgTarefasColEnter(QObject *sender);
    void dbgTarefasColExit(QObject *sender);
    void dbgTarefasDrawColumnCell(QObject *sender, QPainter &painter, const QRect &rect, int dataCol,
                                  TColumn *column, TGridDrawState state);
    void dbgTarefasEditButtonClick(QObject *sender);
    void dbgTarefasDblClick(QObject *sender);
    void dbgTarefasKeyDown(QObject *sender, quint16 &key, Qt::KeyboardModifiers shift);

    // ---- operator records ----
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
    void cdsOperadoresCDOPERADORGetText(TField *sender, QString &text, bool displayText);
    void cdsOperadoresCDGRUPOPERGetText(TField *sender, QString &text, bool displayText);
    void dbgOperadoresColEnter(QObject *sender);
    void dbgOperadoresColExit(QObject *sender);
    void dbgOperadoresDrawColumnCell(QObject *sender, QPainter &painter, const QRect &rect, int dataCol,
                                     TColumn *column, TGridDrawState state);
    void dbgOperadoresEditButtonClick(QObject *sender);
    void dbgOperadoresDblClick(QObject *sender);
    void dbgOperadoresKeyDown(QObject *sender, quint16 &key, Qt::KeyboardModifiers shift);
    void dbgOperadoresKeyPress(QObject *sender, QChar &key);

    // ---- state shared by the handlers ----
    double dtAtualServidor = 0;
    bool boExcluiAtividades = false;
    bool boAtivExecutada = false;
    QString nrProcessoExcl;
    qint32 nrProxOrdem = 0;

    // Attaches the after-scroll reactions again (the loads detach them).
    void attachProcessosAfterScroll();
    void attachTarefasAfterScroll();
    // The code fields' get-text handlers, off while a row switches into
    // inserting or editing.
    void attachTarefasGetText(bool attach);
    void attachOperadoresGetText(bool attach);

private:
    void setEnabledStates(bool editing, TDBGrid *grid);
    void buildLayout();
    void buildRecordSets();
    void bindEvents();
    void applyGridDefinition(TDBGrid *grid, const QString &name);
    TClientDataSet *makeRecordSet(const QString &name);
    TDBGrid *makeLowerGrid(const QString &name, TDataSource *source, QWidget *parent);
    // Opens the record set empty when it is closed, else removes its rows.
    static void emptyRecordSet(TClientDataSet *dataSet);
    // A level's pending changes to the server, as one delta.
    double saveLevel(TClientDataSet *level, const QString &method, const QString &table, bool returnsKey);
    TClientDataSet *currentDataSet(TDBGrid *grid) const;
    TDBGrid *requireCurrentGrid() const;
};
