#pragma once

#include <QStringList>
#include <QWidget>

#include "framework_export.h"

class QAction;
class QFrame;
class QHBoxLayout;
class QLabel;
class QMenu;
class QMenuBar;
class TButtonFlat;
class TDBGrid;
class TDBNavigator;
class TDataSource;
class TMessages;

// Standard grid screen, shown by the host as an MDI child.
//
// Components (objectName = member name):
//   toolbar panPadrao with TButtonFlat buttons (never take the focus):
//     sbtIncluir sbtAlterar sbtExcluir sbtProcurar sbtVerificar sbtCancelar
//     sbtConfirmar sbtImprimir sbtAjuda sbtFechar; addToolButton() appends more.
//   main menu mnuPrincipal; its maintenance submenu mnuManutencao holds, in order:
//     0 mnuIncluir, 1 mnuAlterar, 2 mnuExcluir, 3 mnuProcurar, 4 mnuVerificar,
//     5 separator, 6 mnuCancelar, 7 mnuConfirmar, 8 separator,
//     9 mnuImprimir, 10 mnuVisualizar, 11 separator, 12 mnuAjuda, 13 mnuFechar.
//     A screen inserts its own sixth item before actions().at(5).
//   page Page(): a QVBoxLayout (no margins) that holds dbgPadrao at first; a
//     derived screen adds its panels there and may re-parent dbgPadrao.
//   dbgPadrao over dtsPadrao; navigator navPadrao (setNavigatorField chooses
//     the field whose value it shows); lblCodTela; msgPadrao (the screen's
//     catalogue); msgGrid (this screen's own catalogue, with "Canc").
//
// For a screen's enable logic:
//   the two further menu entries, always disabled: mnuImprimir, mnuVisualizar;
//   the toolbar button of the first of them: sbtImprimir;
//   the further control enabled only in browse state: navPadrao.
//
// Handlers are bound by name: a screen overrides the virtual of the same
// name. Every one runs through the guard.
//
// Lifecycle: create with TfrmPadraoGrid::create<T>(args...), which constructs
// and then runs FormCreate virtually (exceptions go to the caller, after the
// half-built screen is deleted without FormDestroy). FormDestroy runs once,
// from closeEvent (the close is accepted) or finalize(); a screen deleted
// without closing must call finalize() in its own destructor.
class FRAMEWORK_EXPORT TfrmPadraoGrid : public QWidget
{
    Q_OBJECT
public:
    explicit TfrmPadraoGrid(QWidget *parent = nullptr);
    ~TfrmPadraoGrid() override;

    template <typename T, typename... Args>
    static T *create(Args &&...args)
    {
        auto *form = new T(std::forward<Args>(args)...);
        try {
            form->initialize();
        } catch (...) {
            static_cast<TfrmPadraoGrid *>(form)->m_destroyed = true; // FormCreate did not finish: no FormDestroy
            delete form;
            throw;
        }
        return form;
    }
    void initialize(); // runs FormCreate once
    void finalize(); // runs FormDestroy once
    bool isCreated() const { return m_created; }

    QWidget *Page() const { return m_page; }
    QHBoxLayout *toolBarLayout() const { return m_toolBarLayout; }
    void addToolButton(QWidget *button); // appended to the toolbar, before sbtFechar's gap
    void setNavigatorField(const QString &fieldName);
    // The base screen's own catalogue.
    TMessages *BaseMessages() const { return msgGrid; }

    QFrame *panPadrao = nullptr; // toolbar
    TButtonFlat *sbtIncluir = nullptr;
    TButtonFlat *sbtAlterar = nullptr;
    TButtonFlat *sbtExcluir = nullptr;
    TButtonFlat *sbtProcurar = nullptr;
    TButtonFlat *sbtVerificar = nullptr;
    TButtonFlat *sbtCancelar = nullptr;
    TButtonFlat *sbtConfirmar = nullptr;
    TButtonFlat *sbtImprimir = nullptr;
    TButtonFlat *sbtAjuda = nullptr;
    TButtonFlat *sbtFechar = nullptr;

    QMenuBar *mnuPrincipal = nullptr;
    QMenu *mnuManutencao = nullptr;
    QAction *mnuIncluir = nullptr;
    QAction *mnuAlterar = nullptr;
    QAction *mnuExcluir = nullptr;
    QAction *mnuProcurar = nullptr;
    QAction *mnuVerificar = nullptr;
    QAction *mnuCancelar = nullptr;
    QAction *mnuConfirmar = nullptr;
    QAction *mnuImprimir = nullptr;
    QAction *mnuVisualizar = nullptr;
    QAction *mnuAjuda = nullptr;
    QAction *mnuFechar = nullptr;

    TDBGrid *dbgPadrao = nullptr;
    TDataSource *dtsPadrao = nullptr;
    TDBNavigator *navPadrao = nullptr;
    QLabel *lblCodTela = nullptr;
    TMessages *msgPadrao = nullptr;
    TMessages *msgGrid = nullptr;

    // ---- handlers bound by name ----
    virtual void FormCreate(QObject *sender);
    virtual void FormDestroy(QObject *sender);
    // Asked before the screen closes (toolbar, window frame, the host quitting);
    // canClose false keeps it open. Base: closes.
    virtual void FormCloseQuery(QObject *sender, bool &canClose);
    // Defaults act on dtsPadrao's record set: Insert, Edit, Delete after
    // confirmation, Procura, nothing, Cancel, Post.
    virtual void sbtIncluirClick(QObject *sender);
    virtual void sbtAlterarClick(QObject *sender);
    virtual void sbtExcluirClick(QObject *sender);
    virtual void sbtProcurarClick(QObject *sender);
    virtual void sbtVerificarClick(QObject *sender);
    virtual void sbtCancelarClick(QObject *sender);
    virtual void sbtConfirmarClick(QObject *sender);
    virtual void sbtImprimirClick(QObject *sender);
    virtual void sbtAjudaClick(QObject *sender);
    virtual void sbtFecharClick(QObject *sender); // closes the screen (its MDI window)
    virtual void dbgPadraoEnter(QObject *sender);
    virtual void dtsPadraoStateChange(QObject *sender);
    // A save told the host that these server tables changed.
    virtual void LocalCacheChanged(const QStringList &tables);

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    TButtonFlat *makeButton(const QString &name, const QString &hint, QAction *action,
                            void (TfrmPadraoGrid::*handler)(QObject *));
    QAction *makeAction(const QString &name, const QString &text, const QKeySequence &shortcut,
                        void (TfrmPadraoGrid::*handler)(QObject *));

    QWidget *m_page = nullptr;
    QHBoxLayout *m_toolBarLayout = nullptr;
    int m_toolInsertIndex = 0;
    bool m_created = false;
    bool m_destroyed = false;
};
