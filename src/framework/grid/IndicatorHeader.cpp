#include "IndicatorHeader.h"

#include "DataSetModel.h"

IndicatorHeader::IndicatorHeader(QWidget *parent)
    : QHeaderView(Qt::Vertical, parent)
{
    // As a table view's own row header.
    setSectionsClickable(true);
    setHighlightSections(true);
}

QSize IndicatorHeader::sizeHint() const
{
    const auto *rows = qobject_cast<const DataSetModel *>(model());
    constexpr int measured = 100; // at each end, as the header measures
    const int sections = count();
    if (!rows || sections <= 2 * measured || hiddenSectionCount() > 0 || isSortIndicatorShown()) {
        return QHeaderView::sizeHint();
    }
    const int current = rows->dataSet() ? rows->dataSet()->currentRow() : -1;
    QSize hint = sectionSizeFromContents(current == 0 ? 1 : 0);
    if (current >= 0 && (current < measured || current >= sections - measured)) {
        hint = hint.expandedTo(sectionSizeFromContents(current));
    }
    return hint;
}
