#pragma once

#include <QIcon>
#include <QPixmap>
#include <QToolButton>

#include "framework_export.h"

// Flat tool button with a glyph. A two-state glyph holds the enabled picture
// in its left half and the disabled one in its right half (NumGlyphs 2).
// Never takes the focus: commands act on the control that holds it.
class FRAMEWORK_EXPORT TButtonFlat : public QToolButton
{
    Q_OBJECT
public:
    explicit TButtonFlat(QWidget *parent = nullptr);

    QPixmap Glyph() const { return m_glyph; }
    void setGlyph(const QPixmap &glyph, int numGlyphs = 1);
    int NumGlyphs() const { return m_numGlyphs; }
    // Pixels of this colour are drawn transparent (default none).
    void setTransparentColor(const QColor &color);

    QString Hint() const { return toolTip(); }
    void setHint(const QString &hint) { setToolTip(hint); }

private:
    void rebuildIcon();
    QPixmap m_glyph;
    int m_numGlyphs = 1;
    QColor m_transparent;
};
