#pragma once

#include <QFlags>
#include <QList>
#include <QPointer>
#include <QWidget>
#include <QString>
#include <QVariant>

#include <functional>

#include "framework_export.h"

class QDialog;
class QDialogButtonBox;
class QPushButton;

// Kinds of message box.
enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// Buttons of a message box (combine with |).
enum TMsgDlgBtn { mbYes = 0x1, mbNo = 0x2, mbOK = 0x4, mbCancel = 0x8 };
Q_DECLARE_FLAGS(TMsgDlgButtons, TMsgDlgBtn)
Q_DECLARE_OPERATORS_FOR_FLAGS(TMsgDlgButtons)

// What a modal dialog gives back.
enum TModalResult { mrNone = 0, mrOK = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };
inline constexpr TModalResult mrOk = mrOK;

// What opened: tests assert on these.
enum class DialogKind {
    Message, // ShowMsg / message box of any TMsgDlgType
    Error, // the error display and MensErro
    Search, // Pesquisar
    Find, // Procura
    Form // any other modal form (the observation dialog, TfrmRotiGeral::ShowModal)
};

struct DialogRecord
{
    DialogKind kind = DialogKind::Message;
    QString title;
    QString text; // message text; for Search and Find the title
    TMsgDlgType type = mtCustom; // for Message
};

// An answer given before the dialog opens.
//   button: "Sim", "Não", "OK" or "Cancelar" (for Search and Find "OK" chooses, "Cancelar" closes)
//   row:    Search: the 0-based row of the list (after the filter) to choose; -1 = first row shown
//   text:   Search: text typed in the filter box; Find: the value to look for
//   field:  Find: the field name to look in (empty = the first field)
//   act:    Form: run on the dialog before the answer is applied (type into its editors...)
struct DialogAnswer
{
    QString button = QStringLiteral("OK");
    int row = -1;
    QString text;
    QString field;
    std::function<void(QDialog *dialog)> act;
};

// The one door through which every modal dialog of the framework and of the
// screens opens. A test arms answers in order; each dialog that opens takes
// the next one instead of waiting for a person. With no answer armed the
// real dialog runs modally (a test may answer it with a timer and keys).
// Every dialog opened is recorded, answered or not.
// The "OK" and "Cancelar" pair of our own dialogs, named after their texts so
// tests and the answer hook find them; the caller connects what they do.
struct OkCancelButtons
{
    QDialogButtonBox *box;
    QPushButton *ok;
    QPushButton *cancel;
};
FRAMEWORK_EXPORT OkCancelButtons makeOkCancelButtons(QWidget *parent);

// Held around a modal dialog: when it goes, the window and the widget that
// had the keyboard before it opened get it back (or, when that widget went
// away meanwhile, its window's own focus widget). A window manager would do
// it, but kiosks, bare remote sessions and the offscreen platform have none,
// and there the focus would be left nowhere.
class FRAMEWORK_EXPORT DialogFocusReturn
{
public:
    DialogFocusReturn();
    ~DialogFocusReturn();
    Q_DISABLE_COPY_MOVE(DialogFocusReturn)

private:
    QPointer<QWidget> m_widget;
    QPointer<QWidget> m_window;
};

class FRAMEWORK_EXPORT ModalDialogs
{
public:
    static void answerNext(const DialogAnswer &answer);
    static void answerNext(const QString &button) { answerNext(DialogAnswer{button, -1, {}, {}, {}}); }
    static int pendingAnswers();
    static void clearAnswers();

    static QList<DialogRecord> shown();
    static void clearShown();

    // Message box with Portuguese buttons ("Sim", "Não", "OK", "Cancelar");
    // title empty = a title by kind ("Confirmação", "Informação", "Erro", "Aviso").
    static TModalResult messageBox(const QString &text, TMsgDlgType type, TMsgDlgButtons buttons,
                                   const QString &title = {}, QWidget *parent = nullptr);

    // Runs a dialog modally (or applies the next armed answer to it) and
    // gives its result: QDialog::Accepted/Rejected or a TModalResult the
    // dialog set with done(). An armed answer runs answer.act(dialog), then
    // "OK"/"Sim" calls accept (or onAccept when given, e.g. clicking the
    // form's confirm button) and anything else rejects.
    static int exec(QDialog *dialog, DialogKind kind, const QString &text,
                    const std::function<void(QDialog *)> &onAccept = {});

    // Used by the framework's own dialogs to take the armed answer (if any).
    static bool takeAnswer(DialogAnswer *answer);
    static void record(const DialogRecord &record);
};
