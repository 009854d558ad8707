#pragma once

#include "TfrmRotiGeral.h"

class QTextEdit;

// "Observação" (PRU87001): a task's free-text observation, read and changed
// in a multi-line editor. Confirm hands the editor's text to txt; any other
// way of closing leaves txt as it was.
class TfrmObs : public TfrmRotiGeral
{
    Q_OBJECT
public:
    // The size of the observation field.
    static constexpr int MaxLength = 4000;

    explicit TfrmObs(QWidget *parent = nullptr);

    QTextEdit *rctObservacao = nullptr;

    // The whole text of the editor.
    void setObservacao(const QString &text);
    // What the editor holds now: exactly the text it was given while it
    // reads the same, so an untouched observation comes back unchanged
    // (the editor keeps its own line breaks and blanks).
    QString observacao() const;

    void sbtConfirmaClick(QObject *sender) override;
    void FormKeyDown(QObject *sender, quint16 &key, Qt::KeyboardModifiers shift) override;

private:
    // Cuts what a typing, a paste or an input method put past the limit.
    void keepWithinLimit(int position, int added);

    QString m_given;
    QString m_givenShown;
    bool m_cutting = false;
};
