#include "GridDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QValidator>

#include <algorithm>

#include "Guard.h"
#include "TDBGrid.h"

using namespace Qt::StringLiterals;

GridDelegate::GridDelegate(TDBGrid *grid)
    : QStyledItemDelegate(grid)
    , m_grid(grid)
{ }

void GridDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt(option);
    const bool focused = m_grid->Focused();
    if (!focused && !(m_grid->Options() & dgAlwaysShowSelection) && (opt.state & QStyle::State_Selected)) {
        opt.state &= ~QStyle::State_Selected;
        // The view painted the selected row's panel before handing the cell
        // over: the cell's own background covers it, or a grid without the
        // focus would still show where its commands would act.
        const QVariant brush = index.data(Qt::BackgroundRole);
        const QPalette::ColorGroup group = (opt.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
        painter->fillRect(option.rect, brush.canConvert<QBrush>() ? brush.value<QBrush>()
                                                                  : opt.palette.brush(group, QPalette::Base));
    }
    drawDefault(painter, opt, index);

    const bool selected = opt.state & QStyle::State_Selected;
    const bool current = index == m_grid->currentIndex();
    TColumn *column = m_grid->Columns()->Items(index.column());

    // The ellipsis button belongs to the cell the user is in: the current cell of a focused grid.
    if (current && focused && column && column->ButtonStyle() == cbsEllipsis) {
        QStyleOptionButton button;
        button.rect =
            m_grid->editButtonRect(index).translated(-m_grid->visualRect(index).topLeft() + option.rect.topLeft());
        button.text = u"..."_s;
        button.state = QStyle::State_Enabled | QStyle::State_Raised;
        button.palette = opt.palette;
        m_grid->style()->drawControl(QStyle::CE_PushButton, &button, painter, m_grid);
    }

    if (!m_grid->OnDrawColumnCell) {
        return;
    }
    // The colour group the default drawing used, so the brush matches what is on screen.
    const QPalette::ColorGroup cg = (opt.state & QStyle::State_Enabled)
                                        ? ((opt.state & QStyle::State_Active) ? QPalette::Normal : QPalette::Inactive)
                                        : QPalette::Disabled;
    QColor background = opt.palette.color(cg, QPalette::Base);
    const QVariant bgRole = index.data(Qt::BackgroundRole);
    if (bgRole.canConvert<QBrush>()) {
        background = bgRole.value<QBrush>().color();
    }
    if (selected) {
        background = opt.palette.color(cg, QPalette::Highlight);
    }
    TGridDrawState state;
    if (selected) {
        state |= gdSelected;
    }
    if (current && focused) {
        state |= gdFocused;
    }
    painter->save();
    painter->setBrush(background);
    painter->setPen(opt.palette.color(cg, selected ? QPalette::HighlightedText : QPalette::Text));
    m_grid->drawColumnCell(*painter, option.rect, index.row(), index.column(), state);
    painter->restore();
}

// What the base delegate draws, plain cells' texts through the cache.
void GridDelegate::drawDefault(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    if (!m_grid->cellTexts().drawPlainCell(painter, opt, style, widget)) {
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    }
}

namespace {
// A text field's size counts characters, as the record set and the server
// count them: an emoji is one, not the two UTF-16 units a line edit counts.
class CharacterLimit : public QValidator
{
public:
    CharacterLimit(int limit, QObject *parent)
        : QValidator(parent)
        , m_limit(limit)
    { }
    State validate(QString &input, int &) const override
    {
        return input.toUcs4().size() <= m_limit ? Acceptable : Invalid;
    }

private:
    int m_limit;
};
} // namespace

QWidget *GridDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    Q_UNUSED(option)
    auto *editor = new QLineEdit(parent);
    editor->setObjectName(u"gridEditor"_s);
    editor->setFrame(false);
    TColumn *column = m_grid->Columns()->Items(index.column());
    if (TField *field = column ? column->Field() : nullptr) {
        if (!field->EditMask().isEmpty()) {
            editor->setInputMask(field->EditMask());
        } else if (field->DataType() == FieldType::Text && field->Size() > 0) {
            editor->setValidator(new CharacterLimit(field->Size(), editor));
        }
        editor->setAlignment(column->Alignment() & Qt::AlignHorizontal_Mask);
    }
    return editor;
}

void GridDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    auto *le = qobject_cast<QLineEdit *>(editor);
    if (!le) {
        return;
    }
    const QString text = index.data(Qt::EditRole).toString();
    le->setText(text);
    homeEmptyMask(le);
    le->setProperty("pruInitialText", editorText(le));
    le->setModified(false);
}

void GridDelegate::homeEmptyMask(QLineEdit *editor)
{
    const QString text = editor->text();
    if (!editor->inputMask().isEmpty()
        && std::none_of(text.cbegin(), text.cend(), [](QChar c) { return c.isLetterOrNumber(); })) {
        // An empty mask (a refused date just cleared, say) is typed from its
        // first position; setText leaves the cursor after the mask, where
        // nothing can be typed.
        editor->setCursorPosition(0);
    }
}

QString GridDelegate::editorText(const QLineEdit *editor)
{
    if (editor->inputMask().isEmpty()) {
        return editor->text();
    }
    // QLineEdit drops untyped positions at the end; the field expects the
    // mask's full shape with blanks wherever nothing was typed.
    const QString mask = editor->inputMask();
    const qsizetype semicolon = mask.lastIndexOf(u';');
    const QChar blank = (semicolon >= 0 && semicolon + 1 < mask.size()) ? mask.at(semicolon + 1) : QChar(u' ');
    QString text = editor->displayText();
    text.replace(blank, u' ');
    return text;
}

bool GridDelegate::edited(const QLineEdit *editor)
{
    return editor->isModified() || editorText(editor) != editor->property("pruInitialText").toString();
}

void GridDelegate::setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const
{
    auto *le = qobject_cast<QLineEdit *>(editor);
    if (!le) {
        return;
    }
    // The field's rules throw; the guard shows the refusal.
    if (!guarded(m_grid, [&] { model->setData(index, editorText(le), Qt::EditRole); })) {
        homeEmptyMask(le);
        emit commitRefused(editor);
        return;
    }
    le->setProperty("pruInitialText", editorText(le));
    le->setModified(false);
}

void GridDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                        const QModelIndex &index) const
{
    QStyledItemDelegate::updateEditorGeometry(editor, option, index);
    TColumn *column = m_grid->Columns()->Items(index.column());
    if (column && column->ButtonStyle() == cbsEllipsis) {
        QRect r = editor->geometry();
        r.setWidth(qMax(0, r.width() - TDBGrid::editButtonWidth));
        editor->setGeometry(r);
    }
}
