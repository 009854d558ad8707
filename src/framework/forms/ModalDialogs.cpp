#include "ModalDialogs.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>

#include "FrameworkServices.h"

using namespace Qt::StringLiterals;

namespace {
QList<DialogAnswer> &answers()
{
    static QList<DialogAnswer> list;
    return list;
}

QList<DialogRecord> &records()
{
    static QList<DialogRecord> list;
    return list;
}

QString titleFor(TMsgDlgType type)
{
    switch (type) {
    case mtWarning:
        return u"Aviso"_s;
    case mtError:
        return u"Erro"_s;
    case mtInformation:
        return u"Informação"_s;
    case mtConfirmation:
        return u"Confirmação"_s;
    case mtCustom:
        break;
    }
    return QApplication::applicationDisplayName();
}

QMessageBox::Icon iconFor(TMsgDlgType type)
{
    switch (type) {
    case mtWarning:
        return QMessageBox::Warning;
    case mtError:
        return QMessageBox::Critical;
    case mtInformation:
        return QMessageBox::Information;
    case mtConfirmation:
        return QMessageBox::Question;
    case mtCustom:
        break;
    }
    return QMessageBox::NoIcon;
}

struct ButtonDef
{
    TMsgDlgBtn button;
    TModalResult result;
    QString text;
    QMessageBox::ButtonRole role;
};

const QList<ButtonDef> &buttonDefs()
{
    static const QList<ButtonDef> defs = {
        {mbYes, mrYes, u"Sim"_s, QMessageBox::YesRole},
        {mbNo, mrNo, u"Não"_s, QMessageBox::NoRole},
        {mbOK, mrOK, u"OK"_s, QMessageBox::AcceptRole},
        {mbCancel, mrCancel, u"Cancelar"_s, QMessageBox::RejectRole},
    };
    return defs;
}

// What Esc (or closing the box) gives: Cancel, else No, else OK.
TModalResult escapeResult(TMsgDlgButtons buttons)
{
    if (buttons & mbCancel) {
        return mrCancel;
    }
    if (buttons & mbNo) {
        return mrNo;
    }
    if (buttons & mbOK) {
        return mrOK;
    }
    return mrCancel;
}

QWidget *defaultParent(QWidget *parent)
{
    if (parent) {
        return parent->window();
    }
    if (QWidget *active = QApplication::activeModalWidget()) {
        return active;
    }
    if (QWidget *active = QApplication::activeWindow()) {
        return active;
    }
    return MainWindow();
}
} // namespace

// Shared by messageBox and the error display: the kind recorded differs.
TModalResult showMessageBox(DialogKind kind, const QString &text, TMsgDlgType type, TMsgDlgButtons buttons,
                            const QString &title, QWidget *parent)
{
    if (!buttons) {
        buttons = mbOK;
    }
    const QString caption = title.isEmpty() ? titleFor(type) : title;
    ModalDialogs::record({kind, caption, text, type});

    DialogAnswer answer;
    if (ModalDialogs::takeAnswer(&answer)) {
        for (const ButtonDef &def : buttonDefs()) {
            if ((buttons & def.button) && answer.button == def.text) {
                return def.result;
            }
        }
        // An answer naming a button the box does not have: treat it as Esc,
        // and say so, since it points at a test asking the wrong question.
        qWarning("ModalDialogs: answer \"%s\" is not a button of \"%s\"", qUtf8Printable(answer.button),
                 qUtf8Printable(text));
        return escapeResult(buttons);
    }

    DialogFocusReturn focusBack;
    QMessageBox box(iconFor(type), caption, text, QMessageBox::NoButton, defaultParent(parent));
    box.setObjectName(u"ModalMessageBox"_s);
    QHash<QAbstractButton *, TModalResult> results;
    QPushButton *first = nullptr;
    for (const ButtonDef &def : buttonDefs()) {
        if (buttons & def.button) {
            QPushButton *b = box.addButton(def.text, def.role);
            b->setObjectName(def.text);
            results.insert(b, def.result);
            if (!first) {
                first = b;
            }
        }
    }
    box.setDefaultButton(first);
    for (auto it = results.cbegin(); it != results.cend(); ++it) {
        if (it.value() == escapeResult(buttons)) {
            box.setEscapeButton(it.key());
        }
    }
    box.exec();
    return results.value(box.clickedButton(), escapeResult(buttons));
}

DialogFocusReturn::DialogFocusReturn()
    : m_widget(QApplication::focusWidget())
    , m_window(m_widget ? m_widget->window() : QApplication::activeWindow())
{ }

DialogFocusReturn::~DialogFocusReturn()
{
    if (!m_window || !m_window->isVisible() || QApplication::activeModalWidget()) {
        return; // nothing to go back to, or another dialog still holds the keyboard
    }
    if (QApplication::activeWindow() != m_window) {
        m_window->activateWindow();
    }
    QWidget *target =
        m_widget && m_widget->isVisible() && m_widget->window() == m_window ? m_widget.data() : m_window->focusWidget();
    if (target && QApplication::focusWidget() != target) {
        target->setFocus(Qt::ActiveWindowFocusReason);
    }
}

void ModalDialogs::answerNext(const DialogAnswer &answer)
{
    answers().append(answer);
}

int ModalDialogs::pendingAnswers()
{
    return int(answers().size());
}

void ModalDialogs::clearAnswers()
{
    answers().clear();
}

QList<DialogRecord> ModalDialogs::shown()
{
    return records();
}

void ModalDialogs::clearShown()
{
    records().clear();
}

TModalResult ModalDialogs::messageBox(const QString &text, TMsgDlgType type, TMsgDlgButtons buttons,
                                      const QString &title, QWidget *parent)
{
    return showMessageBox(DialogKind::Message, text, type, buttons, title, parent);
}

int ModalDialogs::exec(QDialog *dialog, DialogKind kind, const QString &text,
                       const std::function<void(QDialog *)> &onAccept)
{
    record({kind, dialog->windowTitle(), text, mtCustom});
    DialogFocusReturn focusBack;
    DialogAnswer answer;
    if (takeAnswer(&answer)) {
        // Shown (not modally) so the dialog's own handlers see it as a person would.
        dialog->show();
        if (answer.act) {
            answer.act(dialog);
        }
        if (answer.button == u"OK"_s || answer.button == u"Sim"_s) {
            if (onAccept) {
                onAccept(dialog);
            } else {
                dialog->accept();
            }
        } else {
            dialog->reject();
        }
        if (dialog->isVisible()) {
            dialog->hide();
        }
        return dialog->result();
    }
    return dialog->exec();
}

bool ModalDialogs::takeAnswer(DialogAnswer *answer)
{
    if (answers().isEmpty()) {
        return false;
    }
    *answer = answers().takeFirst();
    return true;
}

void ModalDialogs::record(const DialogRecord &rec)
{
    records().append(rec);
}

OkCancelButtons makeOkCancelButtons(QWidget *parent)
{
    auto *box = new QDialogButtonBox(parent);
    QPushButton *ok = box->addButton(u"OK"_s, QDialogButtonBox::AcceptRole);
    ok->setObjectName(u"OK"_s);
    QPushButton *cancel = box->addButton(u"Cancelar"_s, QDialogButtonBox::RejectRole);
    cancel->setObjectName(u"Cancelar"_s);
    return {box, ok, cancel};
}
