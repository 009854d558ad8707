#pragma once

#include <QFlags>
#include <QPointer>
#include <QTableView>

#include <functional>
#include <memory>
#include <vector>

#include "TDataSource.h"
#include "framework_export.h"

class QPainter;
class TDBGrid;
class DataSetModel;
class GridDelegate;

enum TColumnButtonStyle { cbsAuto, cbsEllipsis, cbsNone };

// One grid column, showing one field by name.
class FRAMEWORK_EXPORT TColumn
{
public:
    TColumn(TDBGrid *grid, const QString &fieldName);

    TDBGrid *Grid() const { return m_grid; }
    int Index() const;                       // position among the grid's columns
    QString FieldName() const { return m_fieldName; }
    void setFieldName(const QString &name);
    TField *Field() const;                   // nullptr while the record set lacks it

    QString Title() const;                   // caption; default the field's DisplayLabel
    void setTitle(const QString &title);
    int Width() const;                       // pixels; default from the field's DisplayWidth
    void setWidth(int pixels);
    Qt::Alignment Alignment() const { return m_alignment; }
    void setAlignment(Qt::Alignment alignment);
    Qt::Alignment TitleAlignment() const { return m_titleAlignment; }
    void setTitleAlignment(Qt::Alignment alignment);
    bool ReadOnly() const { return m_readOnly; }
    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }
    TColumnButtonStyle ButtonStyle() const { return m_buttonStyle; }
    void setButtonStyle(TColumnButtonStyle style);
    bool Visible() const { return m_visible; }
    void setVisible(bool visible);
    int Tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

private:
    friend class TDBGrid;
    TDBGrid *m_grid;
    QString m_fieldName;
    QString m_title;
    int m_width = -1;
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignVCenter;
    Qt::Alignment m_titleAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    bool m_readOnly = false;
    TColumnButtonStyle m_buttonStyle = cbsAuto;
    bool m_visible = true;
    int m_tag = 0;
};

// The grid's columns. Without any column added, the grid shows one column
// per visible field of the record set, rebuilt when it opens.
class FRAMEWORK_EXPORT TDBGridColumns
{
public:
    explicit TDBGridColumns(TDBGrid *grid) : m_grid(grid) {}
    int Count() const { return int(m_items.size()); }
    TColumn *Items(int index) const;         // nullptr when out of range
    TColumn *operator[](int index) const { return Items(index); }
    TColumn *Add(const QString &fieldName);
    TColumn *findByFieldName(const QString &fieldName) const;
    int indexOf(const TColumn *column) const;
    void Clear();
    // True when the columns were added by code (not built from the fields).
    bool isCustom() const { return m_custom; }

private:
    friend class TDBGrid;
    TDBGrid *m_grid;
    std::vector<std::unique_ptr<TColumn>> m_items;
    bool m_custom = false;
};

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

// Data grid over a TDataSource. The current row follows the record set and
// the record set's current row follows the grid; a refused move (EAbort or an
// error in the record set's events) keeps the old row. Cells show, and editors
// start from, the field's get-text text; typed text goes through
// TField::setText. Every entry point runs through the guard.
class FRAMEWORK_EXPORT TDBGrid : public QTableView
{
    Q_OBJECT
public:
    explicit TDBGrid(QWidget *parent = nullptr);
    ~TDBGrid() override;

    TDataSource *DataSource() const { return m_dataSource; }
    void setDataSource(TDataSource *dataSource);
    TClientDataSet *dataSet() const;

    TDBGridColumns *Columns() { return &m_columns; }
    const TDBGridColumns *Columns() const { return &m_columns; }

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

    // While OnDrawColumnCell runs: the 0-based record-set row being drawn
    // (read its values with dataSet()->textAt/displayTextAt/valueAt); -1 otherwise.
    int DrawingRow() const { return m_drawingRow; }
    // The 0-based row and the model index of a cell (for tests and tools).
    QRect cellRect(int row, int column) const;

    TGridNotifyEvent OnEnter;
    TGridNotifyEvent OnExit;
    TGridNotifyEvent OnColEnter;
    TGridNotifyEvent OnColExit;          // throwing keeps the selection in the column being left
    TDrawColumnCellEvent OnDrawColumnCell;
    TGridNotifyEvent OnEditButtonClick;
    TKeyEvent OnKeyDown;
    TKeyPressEvent OnKeyPress;
    TGridNotifyEvent OnDblClick;

    // Used by the framework's model and delegate.
    void columnChanged(TColumn *column);
    void layoutChanged();

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
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    friend class GridDelegate;
    friend class TDBGridColumns;
    friend class DataSetModel;
    void rebuildColumns();
    void applyOptions();
    void syncFromDataSet();
    bool moveToRow(int row);
    bool changeColumn(int from, int to);
    void onFieldFocusRequested(TField *field);
    void handleKey(QKeyEvent *event);
    bool tryNavigate(const QModelIndex &target);
    bool runColExit();
    void selectColumn(int column, bool runColEnter);
    bool commitText(const QModelIndex &index, const QString &text);
    bool focusWithin() const;
    void keyboardSearch(const QString &search) override;
    void fireEditButton();
    QRect editButtonRect(const QModelIndex &index) const;
    void refreshEditorFromField();
    void applyColumnGeometry();
    void focusMovedTo(QWidget *now);
    void leaveGrid();

    QPointer<TDataSource> m_dataSource;
    DataSetModel *m_model = nullptr;
    GridDelegate *m_delegate = nullptr;
    TDBGridColumns m_columns{this};
    TDBGridOptions m_options = dgEditing | dgTitles | dgIndicator | dgColumnResize | dgColLines | dgRowLines | dgTabs
                               | dgCancelOnExit;
    int m_tag = 0;
    int m_drawingRow = -1;
    int m_selectedColumn = 0;
    bool m_syncing = false;
    bool m_editTyped = false;     // the user committed a cell of the row being inserted
    bool m_committing = false;
    bool m_resizingColumns = false;
    QEvent *m_forwardedKey = nullptr; // a key the grid's handlers already saw, on its way to a new editor
    bool m_focusInside = false;
    bool m_leavePending = false;
    bool m_colExitChecked = false; // the pending column change already passed OnColExit
    QList<QMetaObject::Connection> m_dataSetConnections;
};
