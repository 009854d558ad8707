#include "TfrmObs.h"

#include <QGroupBox>
#include <QLabel>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

#include "CriaObs.h"

using namespace Qt::StringLiterals;

namespace {

// Characters as the record set counts them: a surrogate pair is one.
qsizetype characters(QStringView text)
{
    qsizetype count = 0;
    for (const QChar c : text) {
        if (!c.isLowSurrogate()) {
            ++count;
        }
    }
    return count;
}

} // namespace

TfrmObs::TfrmObs(QWidget *parent)
    : TfrmRotiGeral(parent)
{
    setObjectName(u"frmObs"_s);
    setWindowTitle(u"Observação"_s);
    lblCodTela->setText(u"PRU87001"_s);
    lblCodTela->setFixedWidth(53);

    rctObservacao = new QTextEdit(grbDadosRel);
    rctObservacao->setObjectName(u"rctObservacao"_s);
    // Plain text in and out: a paste keeps its characters, never its formatting.
    rctObservacao->setAcceptRichText(false);
    rctObservacao->setMinimumSize(333, 202);
    auto *content = new QVBoxLayout(grbDadosRel);
    content->setContentsMargins(2, 15, 2, 2);
    content->addWidget(rctObservacao);
    connect(rctObservacao->document(), &QTextDocument::contentsChange, this,
            [this](int position, int, int added) { keepWithinLimit(position, added); });

    setFixedHeight(219);
    move(528, 77);
    rctObservacao->setFocus();
}

void TfrmObs::setObservacao(const QString &text)
{
    m_given = text;
    rctObservacao->setPlainText(text);
    m_givenShown = rctObservacao->toPlainText();
}

QString TfrmObs::observacao() const
{
    const QString shown = rctObservacao->toPlainText();
    return shown == m_givenShown ? m_given : shown;
}

void TfrmObs::keepWithinLimit(int position, int added)
{
    if (m_cutting) {
        return;
    }
    qsizetype excess = characters(rctObservacao->toPlainText()) - MaxLength;
    if (excess <= 0) {
        return;
    }
    m_cutting = true;
    // Takes back the end of what just came in, one character at a time.
    QTextCursor cursor(rctObservacao->document());
    int end = qMin(position + added, rctObservacao->document()->characterCount() - 1);
    while (excess > 0 && end > position) {
        cursor.setPosition(end);
        cursor.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor);
        excess -= characters(cursor.selectedText());
        cursor.removeSelectedText();
        end = cursor.position();
    }
    m_cutting = false;
}

void TfrmObs::sbtConfirmaClick(QObject *)
{
    txt = observacao();
    accept();
}

void TfrmObs::FormKeyDown(QObject *, quint16 &, Qt::KeyboardModifiers)
{
    // No key has a dialog-wide action here: everything typed goes to the editor.
}
