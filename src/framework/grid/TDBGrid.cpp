#include "TDBGrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMdiSubWindow>

#include "DataSetModel.h"
#include "Guard.h"
#include "GridDelegate.h"
#include "GridKeys.h"
#include "IndicatorHeader.h"

namespace {
// The form a widget belongs to: its MDI child window, or its top-level window.
const QWidget *formOf(const QWidget *w)
{
    for (; w; w = w->parentWidget()) {
        if (w->isWindow() || qobject_cast<const QMdiSubWindow *>(w)) {
            return w;
        }
    }
    return nullptr;
}

bool isEditing(const TClientDataSet *ds)
{
    return ds && (ds->State() == TDataSetState::dsEdit || ds->State() == TDataSetState::dsInsert);
}

} // namespace

TDBGrid::TDBGrid(QWidget *parent)
    : QTableView(parent)
{
    setVerticalHeader(new IndicatorHeader(this));
    m_model = new DataSetModel(this);
    setModel(m_model);
    m_delegate = new GridDelegate(this);
    setItemDelegate(m_delegate);
    connect(m_delegate, &GridDelegate::commitRefused, this, [this](QWidget *editor) {
        if (editor == m_editor) {
            m_commitFailed = true;
        }
    });
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::EditKeyPressed);
    setWordWrap(false);
    setFocusPolicy(Qt::StrongFocus);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsMovable(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    verticalHeader()->setMinimumWidth(14);
    verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
    verticalHeader()->setHighlightSections(false);
    m_model->columns()->setFont(font());
    connect(m_model, &DataSetModel::currentRowMayHaveChanged, this, [this] { syncFromDataSet(); });
    connect(m_model, &DataSetModel::indicatorMoved, this, [this](int from, int to) {
        updateIndicator(from);
        updateIndicator(to);
    });
    // The model resets when its columns or its rows start over; either way
    // the sections are new and take the columns' geometry.
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        m_selectedColumn = qBound(0, m_selectedColumn, qMax(0, Columns()->Count() - 1));
        applyColumnGeometry();
    });
    connect(m_model->columns(), &TDBGridColumns::columnChanged, this, [this](int column) {
        applyColumnGeometry(column);
        viewport()->update();
    });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) { focusMovedTo(now); });
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int section, int, int newSize) {
        if (m_resizingColumns) {
            return;
        }
        if (TColumn *c = Columns()->Items(section)) {
            c->setWidth(qMax(0, newSize - gridLineWidth())); // the user dragged the border
        }
    });
    applyOptions();
}

TDBGrid::~TDBGrid()
{
    // The widget's own teardown moves the focus: by then this is no grid to tell.
    qApp->disconnect(this);
    for (const auto &c : std::as_const(m_dataSetConnections)) {
        disconnect(c);
    }
    // The model owns the columns the view reads: it goes before the view's own teardown.
    m_model->disconnect(this);
    m_model->columns()->disconnect(this);
    setModel(nullptr);
    delete m_model;
    m_model = nullptr;
}

TClientDataSet *TDBGrid::dataSet() const
{
    return m_model ? m_model->dataSet() : nullptr;
}

void TDBGrid::setDataSource(TDataSource *dataSource)
{
    for (const auto &c : std::as_const(m_dataSetConnections)) {
        disconnect(c);
    }
    m_dataSetConnections.clear();
    m_dataSource = dataSource;
    auto attachDataSet = [this](TClientDataSet *ds) {
        cancelEdit();
        for (int i = 1; i < m_dataSetConnections.size(); ++i) {
            disconnect(m_dataSetConnections[i]);
        }
        if (!m_dataSetConnections.isEmpty()) {
            m_dataSetConnections.resize(1);
        }
        m_model->setDataSet(ds);
        if (!ds) {
            return;
        }
        m_dataSetConnections << connect(ds, &TClientDataSet::fieldFocusRequested, this,
                                        [this](TField *field) { onFieldFocusRequested(field); });
        m_dataSetConnections << connect(ds, &TClientDataSet::stateChanged, this, [this](TDataSetState state) {
            if (state == TDataSetState::dsInsert) {
                m_editTyped = false;
            }
            if (state != TDataSetState::dsEdit && state != TDataSetState::dsInsert && !m_committing) {
                cancelEdit();
            }
            viewport()->update();
        });
        m_dataSetConnections << connect(ds, &TClientDataSet::rowChanged, this, [this](int row) {
            if (!m_committing && openEditor() && m_editorIndex.row() == row) {
                refreshEditorFromField();
            }
        });
    };
    if (dataSource) {
        m_dataSetConnections << connect(dataSource, &TDataSource::dataSetChanged, this, attachDataSet);
        attachDataSet(dataSource->DataSet());
    } else {
        attachDataSet(nullptr);
    }
}

void TDBGrid::applyColumnGeometry()
{
    for (int i = 0; i < Columns()->Count(); ++i) {
        applyColumnGeometry(i);
    }
}

void TDBGrid::applyColumnGeometry(int column)
{
    const TColumn *c = Columns()->Items(column);
    if (!c) {
        return;
    }
    m_resizingColumns = true;
    horizontalHeader()->resizeSection(column, c->Width() + gridLineWidth());
    setColumnHidden(column, !c->Visible());
    m_resizingColumns = false;
}

void TDBGrid::setOptions(TDBGridOptions options)
{
    m_options = options;
    applyOptions();
}

void TDBGrid::setOption(TDBGridOption option, bool on)
{
    TDBGridOptions o = m_options;
    o.setFlag(option, on);
    setOptions(o);
}

void TDBGrid::applyOptions()
{
    horizontalHeader()->setVisible(m_options & dgTitles);
    verticalHeader()->setVisible(m_options & dgIndicator);
    horizontalHeader()->setSectionResizeMode((m_options & dgColumnResize) ? QHeaderView::Interactive
                                                                          : QHeaderView::Fixed);
    const bool lines = (m_options & dgColLines) || (m_options & dgRowLines);
    if (lines != showGrid()) {
        setShowGrid(lines);
        applyColumnGeometry();
    }
    setTabKeyNavigation(m_options & dgTabs);
    setSelectionBehavior((m_options & dgRowSelect) ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
    m_model->setEditable(m_options & dgEditing);
    if (!(m_options & dgEditing) && openEditor()) {
        commitEdit();
    }
    viewport()->update();
}

int TDBGrid::SelectedIndex() const
{
    return m_selectedColumn;
}

void TDBGrid::setSelectedIndex(int index)
{
    if (index < 0 || index >= Columns()->Count() || index == m_selectedColumn) {
        return;
    }
    selectColumn(index, true);
    syncFromDataSet();
}

TColumn *TDBGrid::SelectedColumn() const
{
    return Columns()->Items(m_selectedColumn);
}

TField *TDBGrid::SelectedField() const
{
    TColumn *c = SelectedColumn();
    return c ? c->Field() : nullptr;
}

bool TDBGrid::EditorMode() const
{
    return openEditor() != nullptr;
}

void TDBGrid::setEditorMode(bool on)
{
    if (on) {
        if (!EditorMode() && currentIndex().isValid()) {
            edit(currentIndex(), QAbstractItemView::AllEditTriggers, nullptr);
        }
    } else {
        commitEdit();
    }
}

bool TDBGrid::commitEdit()
{
    QLineEdit *editor = openEditor();
    if (!editor) {
        return true;
    }
    commitData(editor);
    if (m_commitFailed) {
        return false;
    }
    if (openEditor() == editor) {
        QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
    return true;
}

void TDBGrid::cancelEdit()
{
    if (QLineEdit *editor = openEditor()) {
        QTableView::closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
    }
}

void TDBGrid::refreshEditorFromField()
{
    if (QLineEdit *editor = openEditor()) {
        itemDelegate()->setEditorData(editor, m_editorIndex);
    }
}

QLineEdit *TDBGrid::openEditor() const
{
    if (!m_editor || !m_editorIndex.isValid() || indexWidget(m_editorIndex) != m_editor) {
        return nullptr;
    }
    return m_editor;
}

void TDBGrid::adoptEditor(const QModelIndex &index)
{
    auto *editor = qobject_cast<QLineEdit *>(indexWidget(index));
    if (!editor) {
        return;
    }
    m_editor = editor;
    m_editorIndex = index;
    m_commitFailed = false;
    editor->installEventFilter(this);
    connect(editor, &QLineEdit::textEdited, this, [this] {
        TClientDataSet *ds = dataSet();
        if (ds && ds->State() == TDataSetState::dsBrowse && !guarded(this, [ds] { ds->Edit(); })) {
            cancelEdit(); // the row refused to change
        }
    });
}

void TDBGrid::commitData(QWidget *editor)
{
    QLineEdit *open = openEditor();
    if (!open || editor != open) {
        QTableView::commitData(editor);
        return;
    }
    if (m_committing) {
        return;
    }
    // Opening and closing an editor without typing changes nothing.
    if (!GridDelegate::edited(open)) {
        m_commitFailed = false;
        return;
    }
    m_committing = true;
    m_commitFailed = false;
    QTableView::commitData(editor); // the delegate writes through the model; a refusal comes back by commitRefused
    m_committing = false;
    // Qt puts the delegate's filter back in front while it commits; the
    // editor's keys come to the grid first again.
    editor->removeEventFilter(this);
    editor->installEventFilter(this);
    TClientDataSet *ds = dataSet();
    if (!m_commitFailed && ds && ds->State() == TDataSetState::dsInsert) {
        m_editTyped = true;
    }
    viewport()->update();
}

void TDBGrid::drawColumnCell(QPainter &painter, const QRect &rect, int row, int column, TGridDrawState state)
{
    if (!OnDrawColumnCell) {
        return;
    }
    m_drawingRow = row;
    try {
        OnDrawColumnCell(this, painter, rect, column, Columns()->Items(column), state);
    } catch (const std::exception &e) {
        // No dialog can open while painting; the cell keeps the default drawing.
        qWarning("Grid %s: drawing a cell failed: %s", qUtf8Printable(objectName()), e.what());
    }
    m_drawingRow = -1;
}

int TDBGrid::gridLineWidth() const
{
    // A column's width is its cell's: the line the view draws at the cell's
    // right edge comes on top, so pictures placed in the cell land where the
    // column's width says.
    return showGrid() ? 1 : 0;
}

QRect TDBGrid::cellRect(int row, int column) const
{
    return visualRect(m_model->index(row, column));
}

QRect TDBGrid::editButtonRect(const QModelIndex &index) const
{
    TColumn *column = Columns()->Items(index.column());
    if (!column || column->ButtonStyle() != cbsEllipsis || index != currentIndex()) {
        return {};
    }
    const QRect r = visualRect(index);
    return QRect(r.right() - editButtonWidth + 1, r.top(), editButtonWidth, r.height());
}

void TDBGrid::fireEditButton()
{
    if (!commitEdit()) {
        return;
    }
    guarded(this, [this] {
        if (OnEditButtonClick) {
            OnEditButtonClick(this);
        }
    });
    emit editButtonClicked();
    viewport()->update();
}

bool TDBGrid::focusWithin() const
{
    if (hasFocus()) {
        return true;
    }
    QWidget *fw = QApplication::focusWidget();
    return fw && isAncestorOf(fw);
}

void TDBGrid::syncFromDataSet()
{
    if (m_model->isChanging()) {
        return; // the model says when it is done
    }
    TClientDataSet *ds = dataSet();
    const int rows = m_model->rowCount();
    const int cols = m_model->columnCount();
    if (!ds || rows == 0 || cols == 0) {
        if (currentIndex().isValid()) {
            m_syncing = true;
            selectionModel()->clearCurrentIndex();
            selectionModel()->clearSelection();
            m_syncing = false;
        }
        viewport()->update();
        return;
    }
    const int row = ds->currentRow();
    if (row < 0 || row >= rows) {
        return;
    }
    const int col = qBound(0, m_selectedColumn, cols - 1);
    const QModelIndex idx = m_model->index(row, col);
    if (openEditor() && m_editorIndex.row() != row) {
        cancelEdit();
    }
    const bool moved = !m_shownRow.isValid() || m_shownRow.row() != row || idx != currentIndex();
    if (idx != currentIndex() || !selectionModel()->isSelected(idx)) {
        m_syncing = true;
        QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::ClearAndSelect;
        if (m_options & dgRowSelect) {
            flags |= QItemSelectionModel::Rows;
        }
        selectionModel()->setCurrentIndex(idx, flags);
        m_syncing = false;
    }
    scrollTo(idx);
    // Only the row left and the row arrived at draw differently (the current
    // row, its cell, the draw events' state); the rest of the grid stands.
    if (moved) {
        updateRow(m_shownRow.isValid() ? m_shownRow.row() : -1);
        updateRow(row);
        m_shownRow = QPersistentModelIndex(m_model->index(row, 0));
    }
}

void TDBGrid::updateIndicator(int row)
{
    QHeaderView *header = verticalHeader();
    if (row < 0 || row >= header->count() || header->isHidden()) {
        return;
    }
    header->viewport()->update(0, header->sectionViewportPosition(row), header->viewport()->width(),
                               header->sectionSize(row));
}

void TDBGrid::updateRow(int row)
{
    if (row < 0 || row >= m_model->rowCount()) {
        return;
    }
    viewport()->update(QRect(0, rowViewportPosition(row), viewport()->width(), rowHeight(row)));
}

bool TDBGrid::moveToRow(int row)
{
    TClientDataSet *ds = dataSet();
    if (!ds) {
        return false;
    }
    // The row is followed through rows that a post or a cancelled insert shifts.
    QPersistentModelIndex target(m_model->index(row, 0));
    bool ok = guarded(this, [&] { ds->setRecNo(row + 1); });
    if (ok && target.isValid() && ds->currentRow() != target.row()) {
        ok = guarded(this, [&] { ds->setRecNo(target.row() + 1); });
    }
    syncFromDataSet();
    return ok;
}

bool TDBGrid::runColExit()
{
    if (!OnColExit) {
        return true;
    }
    return guarded(this, [this] { OnColExit(this); });
}

void TDBGrid::selectColumn(int column, bool runColEnter)
{
    m_selectedColumn = column;
    if (runColEnter && OnColEnter) {
        guarded(this, [this] { OnColEnter(this); });
    }
    viewport()->update();
}

bool TDBGrid::tryNavigate(const QModelIndex &target)
{
    if (!target.isValid()) {
        return false;
    }
    if (!commitEdit()) {
        return false;
    }
    m_colExitChecked = false;
    if (target.column() != m_selectedColumn) {
        if (!runColExit()) {
            return false;
        }
        m_colExitChecked = true;
    }
    TClientDataSet *ds = dataSet();
    if (ds && target.row() != ds->currentRow()) {
        if (!moveToRow(target.row())) {
            m_colExitChecked = false;
            return false;
        }
    }
    return true;
}

void TDBGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTableView::currentChanged(current, previous);
    if (m_syncing || m_model->isChanging() || !current.isValid()) {
        return;
    }
    if (current.column() != m_selectedColumn) {
        if (!m_colExitChecked && !runColExit()) {
            syncFromDataSet();
            return;
        }
        m_colExitChecked = false;
        selectColumn(current.column(), true);
    }
    m_colExitChecked = false;
    TClientDataSet *ds = dataSet();
    if (ds && current.row() != ds->currentRow()) {
        moveToRow(current.row());
    }
}

QModelIndex TDBGrid::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex target = QTableView::moveCursor(cursorAction, modifiers);
    if (m_syncing || !target.isValid() || target == currentIndex()) {
        return target;
    }
    if (!tryNavigate(target)) {
        return currentIndex();
    }
    return target;
}

void TDBGrid::keyboardSearch(const QString &search)
{
    // Typing never jumps to a matching row: it edits the current cell.
    Q_UNUSED(search)
}

bool TDBGrid::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event)
{
    if (openEditor() || !index.isValid()) {
        return QTableView::edit(index, trigger, event);
    }
    const bool wouldOpen = (m_model->flags(index) & Qt::ItemIsEditable)
                           && (trigger == QAbstractItemView::AllEditTriggers || (editTriggers() & trigger));
    if (!wouldOpen) {
        return QTableView::edit(index, trigger, event);
    }
    if (currentCellProtected()) {
        return false;
    }
    if (trigger == QAbstractItemView::AnyKeyPressed && event && event->type() == QEvent::KeyPress) {
        if (GridKeys::typedChar(static_cast<QKeyEvent *>(event)).isNull()
            && static_cast<QKeyEvent *>(event)->key() != Qt::Key_Backspace) {
            return false;
        }
    }
    if (index != currentIndex()) {
        return false;
    }
    TClientDataSet *ds = dataSet();
    if (!ds || !ds->Active()) {
        return false;
    }
    QModelIndex target = index;
    const bool typing = trigger == QAbstractItemView::AnyKeyPressed;
    if (typing && ds->State() == TDataSetState::dsBrowse) {
        // A typed key changes the row: the record set goes into edit state
        // before the editor opens, so a refusal (a before-edit rule) opens none.
        if (!guarded(this, [&] { ds->Edit(); })) {
            return false;
        }
        target = m_model->index(ds->currentRow(), m_selectedColumn);
        if (!target.isValid()) {
            return false;
        }
        if (target != currentIndex()) {
            syncFromDataSet();
        }
        if (!isEditing(ds)) {
            return false;
        }
    }
    // Opened without typing (F2): the row goes into edit state at the first change.
    if (!QTableView::edit(target, trigger, event)) {
        return false;
    }
    adoptEditor(target);
    return true;
}

bool TDBGrid::currentCellProtected()
{
    bool isProtected = false;
    // A question that fails protects: an editor is the way to change a value.
    if (OnCellProtected && !guarded(this, [&] { isProtected = OnCellProtected(this); })) {
        return true;
    }
    return isProtected;
}

void TDBGrid::closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint)
{
    if (editor != openEditor()) {
        QTableView::closeEditor(editor, hint);
        return;
    }
    if (m_commitFailed && hint != QAbstractItemDelegate::RevertModelCache) {
        // The field refused the text: the editor stays with it for correction.
        return;
    }
    if (hint == QAbstractItemDelegate::EditNextItem || hint == QAbstractItemDelegate::EditPreviousItem) {
        QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
        const QModelIndex target =
            moveCursor(hint == QAbstractItemDelegate::EditNextItem ? MoveNext : MovePrevious, Qt::NoModifier);
        if (target.isValid() && target != currentIndex()) {
            selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
        }
        return;
    }
    QTableView::closeEditor(editor, hint);
}

TDBGrid::KeyOutcome TDBGrid::runKeyEvents(const QKeyEvent *event, QChar *replacement)
{
    quint16 vk = GridKeys::virtualKey(event);
    if (vk && OnKeyDown) {
        const bool ok = guarded(this, [&] { OnKeyDown(this, vk, event->modifiers()); });
        if (!ok || vk == 0) {
            return KeyOutcome::Swallowed;
        }
    }
    QChar ch = GridKeys::typedChar(event);
    if (!ch.isNull() && OnKeyPress) {
        const QChar before = ch;
        const bool ok = guarded(this, [&] { OnKeyPress(this, ch); });
        if (!ok || ch.isNull()) {
            return KeyOutcome::Swallowed;
        }
        if (ch != before && ch.isPrint()) {
            *replacement = ch;
            return KeyOutcome::Replaced;
        }
    }
    return KeyOutcome::Pass;
}

void TDBGrid::keyPressEvent(QKeyEvent *event)
{
    routeKey(event, nullptr);
}

bool TDBGrid::eventFilter(QObject *object, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && object && object == openEditor()) {
        return routeKey(static_cast<QKeyEvent *>(event), m_editor);
    }
    return QTableView::eventFilter(object, event);
}

bool TDBGrid::routeKey(QKeyEvent *event, QLineEdit *editor)
{
    QChar replacement;
    switch (runKeyEvents(event, &replacement)) {
    case KeyOutcome::Swallowed:
        event->accept();
        return true;
    case KeyOutcome::Replaced: {
        QKeyEvent replaced(QEvent::KeyPress, 0, event->modifiers(), QString(replacement));
        if (editor) {
            // The handlers have seen this key: it goes on to the editor past them.
            editor->removeEventFilter(this);
            QCoreApplication::sendEvent(editor, &replaced);
            if (editor == openEditor()) {
                editor->installEventFilter(this);
            }
        } else {
            handleKey(&replaced);
        }
        event->accept();
        return true;
    }
    case KeyOutcome::Pass:
        break;
    }
    if (!editor) {
        handleKey(event);
        return true;
    }
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && (mods & Qt::ControlModifier)) {
        fireEditButton();
        return true;
    }
    if (key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp || key == Qt::Key_PageDown) {
        // Rows move from the editor too: the typed text goes first.
        if (!commitEdit()) {
            return true;
        }
        const CursorAction action = key == Qt::Key_Up       ? MoveUp
                                    : key == Qt::Key_Down   ? MoveDown
                                    : key == Qt::Key_PageUp ? MovePageUp
                                                            : MovePageDown;
        const QModelIndex target = moveCursor(action, event->modifiers());
        if (target.isValid() && target != currentIndex()) {
            selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
        }
        return true;
    }
    if (key == Qt::Key_Escape) {
        cancelEdit();
        return true;
    }
    // The delegate's own filter commits and closes with its hints (Tab, Enter).
    return false;
}

void TDBGrid::handleKey(QKeyEvent *event)
{
    TClientDataSet *ds = dataSet();
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    switch (event->key()) {
    case Qt::Key_Insert:
        if (mods == Qt::NoModifier && (m_options & dgEditing) && ds && ds->Active()) {
            guarded(this, [ds] { ds->Insert(); });
            event->accept();
            return;
        }
        break;
    case Qt::Key_Escape:
        if (isEditing(ds)) {
            guarded(this, [ds] { ds->Cancel(); });
            event->accept();
            return;
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (mods & Qt::ControlModifier) {
            if (SelectedColumn() && SelectedColumn()->ButtonStyle() == cbsEllipsis) {
                fireEditButton();
            }
        }
        // Enter commits inside an editor; on a cell it only passes.
        event->accept();
        return;
    default:
        break;
    }
    // Typing into an empty grid starts a new row, as Edit does on an empty record set.
    if (ds && ds->Active() && m_model->rowCount() == 0 && (m_options & dgEditing) && SelectedColumn()
        && !SelectedColumn()->ReadOnly() && !GridKeys::typedChar(event).isNull()
        && GridKeys::typedChar(event).isPrint()) {
        if (!guarded(this, [ds] { ds->Edit(); })) {
            event->accept();
            return;
        }
        syncFromDataSet();
    }
    QTableView::keyPressEvent(event);
}

void TDBGrid::focusInEvent(QFocusEvent *event)
{
    QTableView::focusInEvent(event);
    viewport()->update();
    if (m_leavePending) {
        // Taken away to nowhere and given back: the user left and came back.
        m_leavePending = false;
        leaveGrid();
    }
    if (m_focusInside) {
        return;
    }
    m_focusInside = true;
    if (OnEnter) {
        guarded(this, [this] { OnEnter(this); });
    }
}

void TDBGrid::focusOutEvent(QFocusEvent *event)
{
    QTableView::focusOutEvent(event);
    viewport()->update();
    // The focus taken away to nowhere: whether the user left is known when it
    // lands (another child window taking over passes through nowhere too).
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason
        && !QApplication::focusWidget() && m_focusInside) {
        m_leavePending = true;
    }
}

// The user left the grid when the focus went to another control of the same
// form. Focus going to another form (a dialog, another child window) leaves
// the grid its form's current control: no exit.
void TDBGrid::focusMovedTo(QWidget *now)
{
    if (!now || now == this || isAncestorOf(now)) {
        return;
    }
    const bool sameForm = formOf(now) == formOf(this);
    m_leavePending = false;
    if (sameForm) {
        leaveGrid();
    }
}

void TDBGrid::leaveGrid()
{
    if (!m_focusInside) {
        return;
    }
    m_focusInside = false;
    viewport()->update();
    if (OnExit) {
        guarded(this, [this] { OnExit(this); });
    }
    TClientDataSet *ds = dataSet();
    if ((m_options & dgCancelOnExit) && ds && ds->State() == TDataSetState::dsInsert && !m_editTyped) {
        guarded(this, [ds] { ds->Cancel(); });
    }
}

void TDBGrid::mousePressEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    const QModelIndex idx = indexAt(pos);
    if (event->button() == Qt::LeftButton) {
        if (idx.isValid()) {
            if (idx == currentIndex() && editButtonRect(idx).contains(pos)) {
                fireEditButton();
                event->accept();
                return;
            }
            if (idx != currentIndex() && !tryNavigate(idx)) {
                event->accept();
                return;
            }
        } else if (m_model->rowCount() == 0) {
            // An empty grid still lets the user choose a column.
            const int col = columnAt(pos.x());
            if (col >= 0 && col != m_selectedColumn && runColExit()) {
                selectColumn(col, true);
            }
        }
    }
    QTableView::mousePressEvent(event);
}

void TDBGrid::mouseDoubleClickEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    const QModelIndex idx = indexAt(pos);
    if (idx.isValid() && idx != currentIndex()) {
        // The first press was refused or missed: nothing to double-click.
        event->accept();
        return;
    }
    if (idx.isValid() && editButtonRect(idx).contains(pos)) {
        event->accept();
        return;
    }
    if (!idx.isValid() && m_model->rowCount() > 0) {
        event->accept();
        return;
    }
    if (OnDblClick) {
        guarded(this, [this] { OnDblClick(this); });
    }
    event->accept();
}

void TDBGrid::onFieldFocusRequested(TField *field)
{
    TColumn *column = Columns()->findByField(field);
    if (!column || !isVisible()) {
        return;
    }
    if (!hasFocus() && !focusWithin()) {
        setFocus(Qt::OtherFocusReason);
    }
    const int index = column->Index();
    if (index != m_selectedColumn) {
        selectColumn(index, true);
        syncFromDataSet();
    }
}

void TDBGrid::showEvent(QShowEvent *event)
{
    QTableView::showEvent(event);
    applyColumnGeometry();
    syncFromDataSet();
}

void TDBGrid::changeEvent(QEvent *event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        // Default widths are measured in the grid's font.
        Columns()->setFont(font());
        applyColumnGeometry();
    }
}
