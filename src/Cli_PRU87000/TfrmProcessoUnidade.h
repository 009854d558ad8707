#pragma once

#include <QString>

#include "RpcReply.h"
#include "TClientDataSet.h"
#include "TDBGrid.h"
#include "TfrmPadraoGrid.h"

class QAction;
class QFrame;
class QLabel;
class TButtonFlat;
class TDataSource;
class TField;
class TNetConnection;
class TADOIBQuery;
class ScreenImage;
class ProcessosLevel;
class TarefasLevel;
class OperadoresLevel;

// "Processos da Unidade": processes of the unit, the tasks of the current
// process and the responsible operators of the current task, each level in
// its own grid, all read from and saved to the remote module
// "PRU87000.rdmProcessoUnidade".
//
// The screen holds the components, the state the levels share, the loads and
// saves, the edit mode and the seven commands. Each level's rules live in its
// own class (ProcessosLevel, TarefasLevel, OperadoresLevel), which binds its
// own handlers and calls only the screen; the layout is ScreenLayout.
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
    void FormCloseQuery(QObject *sender, bool &canClose) override;
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
    // Reloads the processes and comes back to the task that is current now
    // (after a change to its operators).
    void reloadKeepingTask(double key);

    // ---- edit mode and commands ----
    void Habilita(bool editing);
    // The grid that holds (or last held) the input focus within the screen.
    TDBGrid *currentGrid() const;
    // Editing mode as Habilita last left it, read back from Confirm/Cancel.
    bool isEditing() const;
    // Something typed or posted that no Confirm has sent yet.
    bool hasPendingChanges() const;

    void sbtIncluirClick(QObject *sender) override;
    void sbtAlterarClick(QObject *sender) override;
    void sbtExcluirClick(QObject *sender) override;
    void sbtProcurarClick(QObject *sender) override;
    void sbtVerificarClick(QObject *sender) override;
    void sbtCancelarClick(QObject *sender) override;
    void sbtConfirmarClick(QObject *sender) override;
    void dbgPadraoEnter(QObject *sender) override;

    // ---- state shared by the levels ----
    double dtAtualServidor = 0;
    bool boExcluiAtividades = false;
    bool boAtivExecutada = false;
    QString nrProcessoExcl;
    qint32 nrProxOrdem = 0;

    // One level of the screen (processes, tasks, responsibles), gathered once
    // from its record-set definition: its rows and grid, the key and table
    // the definition names, the remote method that saves it, how it loads
    // (its Get with the parent's key) and the levels above and below it.
    struct LevelRecord
    {
        TClientDataSet *records = nullptr;
        TDBGrid *grid = nullptr;
        QString key;
        QString table;
        QString saveMethod;
        std::function<void()> load;
        const LevelRecord *parent = nullptr;
        const LevelRecord *child = nullptr;
    };
    // The level of a record set; null for one that is no level.
    const LevelRecord *levelOf(const TClientDataSet *dataSet) const;
    // The key of the current row of the level above a level's record set
    // (0 without one).
    double parentKey(const TClientDataSet *level) const;
    // Empties every level below the one of this record set.
    void emptyBelow(const TClientDataSet *level);

    ProcessosLevel *processos() const { return m_processos; }
    TarefasLevel *tarefas() const { return m_tarefas; }
    OperadoresLevel *operadores() const { return m_operadores; }

    // One remote call whose failure stops the operation with the server's message.
    RpcReply callServer(const QString &method, const QVariantList &args = {});

private:
    void setEnabledStates(bool editing, TDBGrid *grid);
    void buildRecordSets();
    TClientDataSet *makeRecordSet(const QString &name);
    void buildLevels();
    // A level's pending changes to the server, as one delta.
    double saveLevel(const LevelRecord &level);
    TClientDataSet *currentDataSet(TDBGrid *grid) const;
    TDBGrid *requireCurrentGrid() const;

    ProcessosLevel *m_processos = nullptr;
    TarefasLevel *m_tarefas = nullptr;
    OperadoresLevel *m_operadores = nullptr;
    LevelRecord m_levels[3];
};
