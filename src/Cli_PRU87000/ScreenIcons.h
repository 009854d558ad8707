#pragma once

#include <QColor>
#include <QImage>
#include <QRect>

class QPainter;

// The screen's pictures, drawn in code. Every background pixel is olive,
// the colour that stands for "transparent" when a picture is copied into a
// grid cell.
namespace ScreenIcons {

inline QColor transparentColor()
{
    return QColor(128, 128, 0);
}

QImage obs(); // 16 x 16, true colour: a note with written lines
QImage checked(); // 16 x 16, 16 colours: check box with a tick
QImage unchecked(); // 16 x 16, 16 colours: empty check box
QImage ok(); // 16 x 16: a sheet marked with a green tick
QImage recalc(); // 20 x 17: a yellow lightning flash
// Two-state glyphs (32 x 16): the enabled picture left, the disabled right.
QImage taskUpGlyph();
QImage taskDownGlyph();

// The picture with its olive pixels made see-through.
QPixmap withoutBackground(const QImage &picture);

// Copies a picture into a cell as the grids do: at (left + offset, top),
// picture-wide and cell-high, from the picture's top-left corner; olive
// pixels take the brush colour.
void drawInCell(QPainter *painter, const QRect &cell, int offset, const QImage &picture, const QColor &brush);

} // namespace ScreenIcons
