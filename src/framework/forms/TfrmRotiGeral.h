#pragma once

#include <QDialog>

#include "framework_export.h"

class QFrame;
class QGroupBox;
class QLabel;
class TButtonFlat;
class TMessages;

// Standard dialog. Components (objectName = name): lblCodTela (screen code),
// grbDadosRel (group box for the dialog's content, laid out by the derived
// dialog), panMenu (side panel) with panBotoes holding sbtConfirma (confirm)
// and sbtFechar (closes without confirming), msgPadrao (catalogue).
// Handlers are bound by name: override the virtuals.
// Create with the static helper so FormCreate runs after construction:
//   auto *dlg = TfrmRotiGeral::create<TfrmObs>(parent);
class FRAMEWORK_EXPORT TfrmRotiGeral : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmRotiGeral(QWidget *parent = nullptr);
    ~TfrmRotiGeral() override;

    template <typename T, typename... Args>
    static T *create(Args &&...args)
    {
        auto *form = new T(std::forward<Args>(args)...);
        try {
            form->initialize();
        } catch (...) {
            delete form;
            throw;
        }
        return form;
    }
    // Runs FormCreate (exceptions go to the caller). Called once.
    void initialize();

    // Modal, through ModalDialogs (a test's armed "OK" clicks sbtConfirma).
    int ShowModal();

    QLabel *lblCodTela = nullptr;
    QGroupBox *grbDadosRel = nullptr;
    QFrame *panMenu = nullptr;
    QFrame *panBotoes = nullptr;
    TButtonFlat *sbtConfirma = nullptr;
    TButtonFlat *sbtFechar = nullptr;
    TMessages *msgPadrao = nullptr;

    virtual void FormCreate(QObject *sender);
    // Runs once, when the dialog closes for the first time (nothing reads a closed dialog).
    virtual void FormDestroy(QObject *sender);
    virtual void FormShow(QObject *sender);
    // Form-level keys: those the focused control leaves to the dialog. A key
    // set to 0 goes no further; Esc closes without confirming by default.
    virtual void FormKeyDown(QObject *sender, quint16 &key, Qt::KeyboardModifiers shift);
    // Default: accept.
    virtual void sbtConfirmaClick(QObject *sender);
    // Default: reject.
    virtual void sbtFecharClick(QObject *sender);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void done(int result) override;

private:
    bool m_created = false;
    bool m_destroyed = false;
};
