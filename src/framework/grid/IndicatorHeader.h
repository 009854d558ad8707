#pragma once

#include <QHeaderView>

// The indicator column. Its rows show nothing but the current row's glyph,
// so the size the header asks for is what one empty row and the current row
// need; the header measured up to two hundred rows (the first and the last
// hundred) each time its rows or a glyph changed. The current row counts
// where the header would have measured it.
class IndicatorHeader : public QHeaderView
{
public:
    explicit IndicatorHeader(QWidget *parent);

    QSize sizeHint() const override;
};
