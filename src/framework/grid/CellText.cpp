#include "CellText.h"

#include <QCommonStyle>
#include <QFontMetrics>
#include <QPainter>
#include <QStyleOptionViewItem>
#include <QTextLayout>
#include <QTextOption>

#include <cmath>

#include "FrameworkServices.h"

using namespace Qt::StringLiterals;

namespace {
// Enough for the visible cells of several screens of rows (a grid of the
// screen shows at most about a hundred); a text's layout is a few hundred
// bytes to a few kilobytes, and a pass through every row fills the cache, so
// a larger one only holds memory.
constexpr int maxCachedTexts = 500;
} // namespace

// A text laid out as it is drawn, and where it is drawn from, relative to the
// top left of the cell.
struct CellTextCache::Laid
{
    std::unique_ptr<QTextLayout> layout;
    QPointF position;
};

CellTextCache::CellTextCache()
    : m_laid(maxCachedTexts)
{ }

CellTextCache::~CellTextCache() = default;

void CellTextCache::setEnabled(bool enabled)
{
    m_enabled = enabled;
    clear();
}

void CellTextCache::clear()
{
    m_laid.clear();
}

bool CellTextCache::drawsLikeFusion(QStyle *style)
{
    // The Fusion style draws items with the common style's code, which this
    // follows; another style may draw them its own way.
    if (style != m_style) {
        m_style = style;
        const QStyle *drawing = drawingStyle(style);
        m_fusion = drawing && drawing->name().compare("fusion"_L1, Qt::CaseInsensitive) == 0
                   && qobject_cast<const QCommonStyle *>(drawing);
    }
    return m_fusion;
}

bool CellTextCache::isPlain(const QStyleOptionViewItem &option)
{
    if (option.features
        & (QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration
           | QStyleOptionViewItem::WrapText)) {
        return false;
    }
    if (option.state & QStyle::State_Editing) {
        return false;
    }
    if (option.decorationPosition != QStyleOptionViewItem::Left
        && option.decorationPosition != QStyleOptionViewItem::Right) {
        return false;
    }
    if (!option.rect.isValid() || !option.icon.isNull()) {
        return false;
    }
    for (const QChar c : option.text) {
        if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator) {
            return false;
        }
    }
    return true;
}

bool CellTextCache::drawPlainCell(QPainter *painter, const QStyleOptionViewItem &option, QStyle *style,
                                  const QWidget *widget)
{
    if (!m_enabled || !drawsLikeFusion(style) || !isPlain(option)) {
        return false;
    }
    painter->save();
    painter->setClipRect(option.rect, Qt::IntersectClip);
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &option, painter, widget);
    if (!option.text.isEmpty()) {
        if (option.font != m_font) {
            m_laid.clear();
            m_font = option.font;
        }
        const Key key{option.text,
                      option.rect.size(),
                      int(option.displayAlignment),
                      int(option.direction),
                      int(option.textElideMode),
                      option.showDecorationSelected,
                      style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1};
        Laid *laid = m_laid.object(key);
        if (!laid) {
            laid = layOut(key, option.font);
        }
        QPalette::ColorGroup group = (option.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
        if (group == QPalette::Normal && !(option.state & QStyle::State_Active)) {
            group = QPalette::Inactive;
        }
        painter->setPen(option.palette.color(group, (option.state & QStyle::State_Selected) ? QPalette::HighlightedText
                                                                                            : QPalette::Text));
        laid->layout->draw(painter, laid->position + QPointF(option.rect.topLeft()));
    }
    if (option.state & QStyle::State_HasFocus) {
        // The current cell's frame, over the text, as the style puts it.
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.rect = style->subElementRect(QStyle::SE_ItemViewItemFocusRect, &option, widget);
        focus.state |= QStyle::State_KeyboardFocusChange;
        focus.state |= QStyle::State_Item;
        const QPalette::ColorGroup group =
            (option.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
        focus.backgroundColor = option.palette.color(
            group, (option.state & QStyle::State_Selected) ? QPalette::Highlight : QPalette::Window);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
    painter->restore();
    return true;
}

// The steps of the style's item drawing for one line of text in a cell at
// (0, 0): the text's own size places it in the cell (unless the whole cell
// is the text's), the margins come off, the line takes the width left, is
// elided when longer, and stands vertically where its height puts it.
CellTextCache::Laid *CellTextCache::layOut(const Key &key, const QFont &font)
{
    const auto direction = Qt::LayoutDirection(key.direction);
    const auto alignment = Qt::Alignment(key.alignment);
    QTextOption textOption;
    textOption.setWrapMode(QTextOption::ManualWrap);
    textOption.setTextDirection(direction);
    textOption.setAlignment(QStyle::visualAlignment(direction, alignment));

    auto layout = std::make_unique<QTextLayout>(key.text, font);
    layout->setTextOption(textOption);
    // Kept shaped: without it the layout shapes its text again at each draw.
    layout->setCacheEnabled(true);
    layout->beginLayout();
    QTextLine line = layout->createLine();
    const QRect display(QPoint(0, 0), key.size);
    // The line holds the whole text (no wrapping): its natural width is the
    // text's whatever width it is first given.
    line.setLineWidth(qMax(0, display.width() - 2 * key.margin));
    const QSize textSize(int(std::ceil(line.naturalTextWidth())) + 2 * key.margin, int(std::ceil(line.height())));
    const QRect textRect = key.decorationSelected
                               ? display
                               : QStyle::alignedRect(direction, alignment, textSize.boundedTo(display.size()), display);
    const QRect lineRect = textRect.adjusted(key.margin, 0, -key.margin, 0);
    line.setLineWidth(lineRect.width());
    line.setPosition(QPointF(0, 0));
    layout->endLayout();

    const QRect placed =
        QStyle::alignedRect(Qt::LayoutDirectionAuto, alignment, layout->boundingRect().size().toSize(), lineRect);
    auto laid = std::make_unique<Laid>();
    laid->position = QPointF(lineRect.x(), placed.top());
    if (line.naturalTextWidth() > lineRect.width()) {
        const QString elided = QFontMetrics(font).elidedText(key.text, Qt::TextElideMode(key.elide), lineRect.width());
        layout = std::make_unique<QTextLayout>(elided, font);
        layout->setTextOption(textOption);
        layout->setCacheEnabled(true);
        layout->beginLayout();
        QTextLine elidedLine = layout->createLine();
        elidedLine.setLineWidth(lineRect.width());
        elidedLine.setPosition(QPointF(0, 0));
        layout->endLayout();
    }
    laid->layout = std::move(layout);
    Laid *result = laid.get();
    m_laid.insert(key, laid.release());
    return result;
}
