#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QStyledItemDelegate>

#include "CellText.h"

class TDBGrid;

// Paints a cell the default way, then hands it to the grid's draw event;
// edits with a line edit that carries the field's edit mask; passes the
// editor's keys through the grid's key events first.
class GridDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit GridDelegate(TDBGrid *grid);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;
    void destroyEditor(QWidget *editor, const QModelIndex &index) const override;
    // An editor leaves the ellipsis button of its cell uncovered.
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;

    QLineEdit *editor() const { return m_editor; }
    QModelIndex editorIndex() const { return m_editorIndex; }
    bool lastCommitFailed() const { return m_commitFailed; }
    // What the editor holds, as the field receives it.
    static QString editorText(const QLineEdit *editor);
    static void homeEmptyMask(QLineEdit *editor);
    // The laid-out texts of the plain cells (switched off, the style lays
    // every text out at each paint).
    CellTextCache &textCache() const { return m_texts; }

protected:
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    void drawDefault(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const;

    TDBGrid *m_grid;
    mutable CellTextCache m_texts;
    mutable QPointer<QLineEdit> m_editor;
    mutable QPersistentModelIndex m_editorIndex;
    mutable bool m_commitFailed = false;
};
