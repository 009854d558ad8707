#pragma once

#include <QLineEdit>
#include <QStyledItemDelegate>

class TDBGrid;

// The grid's cells on Qt's delegate contract. Paints a cell the default way
// (plain texts from the grid's cache), then lets the grid run its draw event
// for it; edits with a line edit that carries the field's edit mask or its
// size in characters; writes the typed text through the model's setData,
// which a refusal leaves unwritten (the guard shows it and commitRefused
// tells the view). The editor's keys are the view's: this delegate keeps
// only the base event filter, which commits and closes with its hints.
class GridDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit GridDelegate(TDBGrid *grid);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;
    // An editor leaves the ellipsis button of its cell uncovered.
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;

    // What the editor holds, as the field receives it.
    static QString editorText(const QLineEdit *editor);
    // True once the editor holds other text than it was opened or last written with.
    static bool edited(const QLineEdit *editor);
    static void homeEmptyMask(QLineEdit *editor);

signals:
    // The model refused the editor's text; the editor keeps it for correction.
    void commitRefused(QWidget *editor) const;

private:
    void drawDefault(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const;

    TDBGrid *m_grid;
};
