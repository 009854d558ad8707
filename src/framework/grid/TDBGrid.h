#pragma once

#include <QFlags>
#include <QPointer>
#include <QTableView>

#include <functional>

#include "CellText.h"
#include "DataSetModel.h"
#include "TColumn.h"
#include "TDBGridColumns.h"
#include "TDataSource.h"
#include "framework_export.h"

class QLineEdit;
class QPainter;
class GridDelegate;

enum TDBGridOption {
    dgEditing = 0x1,
    dgAlwaysShowEditor = 0x2,
    dgTitles = 0x4,
    dgIndicator = 0x8,
    dgColumnResize = 0x10,
    dgColLines = 0x20,
    dgRowLines = 0x40,
    dgTabs = 0x80,
    dgRowSelect = 0x100,
    dgAlwaysShowSelection = 0x200,
    dgCancelOnExit = 0x800
};
Q_DECLARE_FLAGS(TDBGridOptions, TDBGridOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TDBGridOptions)

enum TGridDrawStateFlag { gdSelected = 0x1, gdFocused = 0x2, gdFixed = 0x4 };
Q_DECLARE_FLAGS(TGridDrawState, TGridDrawStateFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(TGridDrawState)

using TGridNotifyEvent = std::function<void(QObject *sender)>;
// Runs after the default drawing of a cell. The painter's brush is the
// background the grid chose for the cell (the selection colour when selected).
using TDrawColumnCellEvent = std::function<void(QObject *sender, QPainter &painter, const QRect &rect, int dataCol,
                                                TColumn *column, TGridDrawState state)>;
// Key codes as on Windows: 8 Backspace, 9 Tab, 13 Enter, 27 Esc, 32 Space,
// 33/34 PgUp/PgDn, 35/36 End/Home, 37..40 arrows, 45 Insert, 46 Delete,
// '0'..'9', 'A'..'Z', 112.. F1... Setting key to 0 stops it.
using TKeyEvent = std::function<void(QObject *sender, quint16 &key, Qt::KeyboardModifiers shift)>;
// A typed character; setting it to 0 stops it.
using TKeyPressEvent = std::function<void(QObject *sender, QChar &key)>;
// A question about the grid's current cell.
using TGridCellQuery = std::function<bool(QObject *sender)>;

// Data grid over a TDataSource. The current row follows the record set and
// the record set's current row follows the grid; a refused move (EAbort or an
// error in the record set's events) keeps the old row. Cells show, and editors
// start from, the field's get-text text; typed text goes through
// TField::setText. Every entry point runs through the guard. The grid never
// deletes a row by itself: deleting is the screen's command, with its question.
class FRAMEWORK_EXPORT TDBGrid : public QTableView
{
    Q_OBJECT
public:
    explicit TDBGrid(QWidget *parent = nullptr);
    ~TDBGrid() override;

    TDataSource *DataSource() const { return m_dataSource; }
    void setDataSource(TDataSource *dataSource);
    TClientDataSet *dataSet() const;

    // The columns are the model's; the grid applies their geometry when they change.
    TDBGridColumns *Columns() const { return m_model->columns(); }

    TDBGridOptions Options() const { return m_options; }
    void setOptions(TDBGridOptions options);
    void setOption(TDBGridOption option, bool on);

    // Selected column (index into Columns()) and its field.
    int SelectedIndex() const;
    void setSelectedIndex(int index);
    TField *SelectedField() const;
    TColumn *SelectedColumn() const;

    int Tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

    // True while the grid or its cell editor holds the input focus (use it,
    // not hasFocus(), to ask whether the user is in the grid).
    bool Focused() const { return focusWithin(); }

    // True while a cell editor is open.
    bool EditorMode() const;
    void setEditorMode(bool on);
    // Writes the open editor's text to its field (TField::setText) and closes
    // the editor. False when the field refused the text (already shown).
    // Commands call it first so that text still being typed is not lost.
    bool commitEdit();
    // Closes the open editor without writing its text.
    void cancelEdit();

    DataSetModel *dataModel() const { return m_model; }
    // The plain cells' laid-out texts (switched off, the style lays every
    // text out at each paint).
    CellTextCache &cellTexts() const { return m_texts; }

    // Runs OnDrawColumnCell for the cell of a row just painted the default way.
    void drawColumnCell(QPainter &painter, const QRect &rect, int row, int column, TGridDrawState state);
    // While OnDrawColumnCell runs: the 0-based record-set row being drawn
    // (read its values with dataSet()->textAt/displayTextAt/valueAt); -1 otherwise.
    int DrawingRow() const { return m_drawingRow; }
    // The ellipsis button of a cell whose column has one, inside the cell.
    QRect editButtonRect(const QModelIndex &index) const;
    static constexpr int editButtonWidth = 17;
    // The 0-based row and the model index of a cell (for tests and tools).
    QRect cellRect(int row, int column) const;
    // The line between cells, outside each cell's width (0 without lines).
    int gridLineWidth() const;

    TGridNotifyEvent OnEnter;
    TGridNotifyEvent OnExit;
    TGridNotifyEvent OnColEnter;
    TGridNotifyEvent OnColExit; // throwing keeps the selection in the column being left
    TDrawColumnCellEvent OnDrawColumnCell;
    TGridNotifyEvent OnEditButtonClick;
    TKeyEvent OnKeyDown;
    TKeyPressEvent OnKeyPress;
    TGridNotifyEvent OnDblClick;
    // True when the current cell must not change: no editor opens in it, so
    // no key, paste or editor menu reaches its field.
    TGridCellQuery OnCellProtected;

signals:
    void editButtonClicked();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;
    void closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    // The open editor's keys come here first (see routeKey).
    bool eventFilter(QObject *object, QEvent *event) override;

protected slots:
    void commitData(QWidget *editor) override;

private:
    // What the screen's key events made of a key the user pressed.
    enum class KeyOutcome { Pass, Swallowed, Replaced };
    // Runs OnKeyDown, then OnKeyPress for the character the key types; a
    // printable character the handler put in its place comes back in replacement.
    KeyOutcome runKeyEvents(const QKeyEvent *event, QChar *replacement);
    void applyOptions();
    void syncFromDataSet();
    bool moveToRow(int row);
    bool changeColumn(int from, int to);
    void onFieldFocusRequested(TField *field);
    void handleKey(QKeyEvent *event);
    bool tryNavigate(const QModelIndex &target);
    bool runColExit();
    void selectColumn(int column, bool runColEnter);
    bool focusWithin() const;
    bool currentCellProtected();
    void keyboardSearch(const QString &search) override;
    void fireEditButton();
    void refreshEditorFromField();
    void applyColumnGeometry();
    void applyColumnGeometry(int column);
    void updateRow(int row);
    void updateIndicator(int row);
    void focusMovedTo(QWidget *now);
    void leaveGrid();
    // Every key the user presses in the grid or in its editor: the screen's
    // key events first, then what the grid makes of it. True when handled.
    bool routeKey(QKeyEvent *event, QLineEdit *editor);
    // The editor open in the grid, or null (an editor Qt already released
    // counts as closed).
    QLineEdit *openEditor() const;
    void adoptEditor(const QModelIndex &index);

    QPointer<TDataSource> m_dataSource;
    DataSetModel *m_model = nullptr;
    GridDelegate *m_delegate = nullptr;
    TDBGridOptions m_options =
        dgEditing | dgTitles | dgIndicator | dgColumnResize | dgColLines | dgRowLines | dgTabs | dgCancelOnExit;
    int m_tag = 0;
    int m_drawingRow = -1;
    int m_selectedColumn = 0;
    bool m_syncing = false;
    bool m_editTyped = false; // the user committed a cell of the row being inserted
    bool m_committing = false;
    bool m_resizingColumns = false;
    QPointer<QLineEdit> m_editor;
    QPersistentModelIndex m_editorIndex;
    bool m_commitFailed = false; // the field refused the editor's text
    mutable CellTextCache m_texts;
    bool m_focusInside = false;
    bool m_leavePending = false;
    bool m_colExitChecked = false; // the pending column change already passed OnColExit
    QList<QMetaObject::Connection> m_dataSetConnections;
    QPersistentModelIndex m_shownRow; // the current row as last synced, followed through row changes
};
