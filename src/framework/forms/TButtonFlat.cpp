#include "TButtonFlat.h"

#include <QBitmap>

TButtonFlat::TButtonFlat(QWidget *parent)
    : QToolButton(parent)
{
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
}

void TButtonFlat::setGlyph(const QPixmap &glyph, int numGlyphs)
{
    m_glyph = glyph;
    m_numGlyphs = qMax(1, numGlyphs);
    rebuildIcon();
}

void TButtonFlat::setTransparentColor(const QColor &color)
{
    m_transparent = color;
    rebuildIcon();
}

void TButtonFlat::rebuildIcon()
{
    if (m_glyph.isNull()) {
        setIcon(QIcon());
        return;
    }
    const int w = m_glyph.width() / m_numGlyphs;
    auto part = [&](int i) {
        QPixmap p = m_glyph.copy(i * w, 0, w, m_glyph.height());
        if (m_transparent.isValid()) {
            p.setMask(p.createMaskFromColor(m_transparent, Qt::MaskInColor));
        }
        return p;
    };
    QIcon icon;
    icon.addPixmap(part(0), QIcon::Normal);
    if (m_numGlyphs > 1) {
        icon.addPixmap(part(1), QIcon::Disabled);
    }
    setIcon(icon);
    setIconSize(QSize(w, m_glyph.height()));
}
