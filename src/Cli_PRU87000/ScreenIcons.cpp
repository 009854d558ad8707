#include "ScreenIcons.h"

#include <QBitmap>
#include <QPainter>
#include <QPixmap>
#include <QPolygon>

namespace ScreenIcons {

namespace {

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kSilver(192, 192, 192);
const QColor kGray(128, 128, 128);

// The sixteen colours of the classic palette; olive is one of them, so the
// check boxes keep exact colours in their 16-colour form.
QList<QRgb> palette16()
{
    return {qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
            qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(128, 128, 128),
            qRgb(192, 192, 192), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
            qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
}

int paletteIndex(const QColor &color)
{
    return int(palette16().indexOf(color.rgb()));
}

QImage checkBox(bool withTick)
{
    QImage image(16, 16, QImage::Format_Indexed8);
    image.setColorTable(palette16());
    image.fill(paletteIndex(transparentColor()));
    auto put = [&image](int x, int y, const QColor &color) { image.setPixel(x, y, uint(paletteIndex(color))); };
    // The box spans (2,2)-(12,12): black top and left edges, white inside.
    for (int i = 2; i <= 12; ++i) {
        put(i, 2, kBlack);
        put(2, i, kBlack);
    }
    for (int y = 3; y <= 12; ++y) {
        for (int x = 3; x <= 12; ++x) {
            put(x, y, kWhite);
        }
    }
    // A light grey line one pixel beyond the right and bottom sides.
    for (int i = 2; i <= 13; ++i) {
        put(13, i, kSilver);
        put(i, 13, kSilver);
    }
    if (withTick) {
        // Three pixels high per column: down from x = 4 to 6, then up to 10.
        const int tops[] = {7, 8, 9, 8, 7, 6, 5};
        for (int i = 0; i < 7; ++i) {
            for (int dy = 0; dy < 3; ++dy) {
                put(4 + i, tops[i] + dy, kBlack);
            }
        }
    }
    return image;
}

QImage canvas(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(transparentColor());
    return image;
}

QImage arrow(bool up, bool enabled)
{
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    const QColor fill = enabled ? QColor(0, 128, 0) : kSilver;
    const QColor edge = enabled ? QColor(0, 64, 0) : kGray;
    QPolygon shape;
    if (up) {
        shape << QPoint(8, 2) << QPoint(14, 8) << QPoint(11, 8) << QPoint(11, 13) << QPoint(5, 13) << QPoint(5, 8)
              << QPoint(2, 8);
    } else {
        shape << QPoint(8, 13) << QPoint(14, 7) << QPoint(11, 7) << QPoint(11, 2) << QPoint(5, 2) << QPoint(5, 7)
              << QPoint(2, 7);
    }
    painter.setPen(edge);
    painter.setBrush(fill);
    painter.drawPolygon(shape);
    return image;
}

} // namespace

QImage checked()
{
    return checkBox(true);
}

QImage unchecked()
{
    return checkBox(false);
}

QImage obs()
{
    QImage image = canvas(16, 16);
    QPainter painter(&image);
    // A yellow note with a folded corner and three written lines.
    painter.setPen(kGray);
    painter.setBrush(QColor(255, 255, 160));
    painter.drawPolygon(QPolygon({QPoint(2, 1), QPoint(10, 1), QPoint(13, 4), QPoint(13, 14), QPoint(2, 14)}));
    painter.setPen(QColor(0, 0, 160));
    for (int y = 5; y <= 11; y += 3) {
        painter.drawLine(4, y, 11, y);
    }
    painter.setPen(kGray);
    painter.drawLine(10, 1, 10, 4);
    painter.drawLine(10, 4, 13, 4);
    return image;
}

QImage ok()
{
    QImage image = canvas(16, 16);
    QPainter painter(&image);
    painter.setPen(kGray);
    painter.setBrush(kWhite);
    painter.drawRect(2, 1, 10, 13);
    painter.setPen(kSilver);
    for (int y = 4; y <= 11; y += 2) {
        painter.drawLine(4, y, 10, y);
    }
    // The green tick over the sheet.
    painter.setPen(QPen(QColor(0, 160, 0), 2));
    painter.drawLine(4, 9, 7, 12);
    painter.drawLine(7, 12, 13, 4);
    return image;
}

QImage recalc()
{
    QImage image = canvas(20, 17);
    QPainter painter(&image);
    painter.setPen(QColor(128, 96, 0));
    painter.setBrush(QColor(255, 255, 0));
    painter.drawPolygon(QPolygon(
        {QPoint(12, 0), QPoint(4, 9), QPoint(9, 9), QPoint(6, 16), QPoint(15, 6), QPoint(10, 6), QPoint(14, 0)}));
    return image;
}

QImage taskUpGlyph()
{
    QImage glyph(32, 16, QImage::Format_RGB32);
    glyph.fill(transparentColor());
    QPainter painter(&glyph);
    painter.drawImage(0, 0, arrow(true, true));
    painter.drawImage(16, 0, arrow(true, false));
    return glyph;
}

QImage taskDownGlyph()
{
    QImage glyph(32, 16, QImage::Format_RGB32);
    glyph.fill(transparentColor());
    QPainter painter(&glyph);
    painter.drawImage(0, 0, arrow(false, true));
    painter.drawImage(16, 0, arrow(false, false));
    return glyph;
}

QPixmap withoutBackground(const QImage &picture)
{
    QPixmap pixmap = QPixmap::fromImage(picture.convertToFormat(QImage::Format_RGB32));
    pixmap.setMask(QBitmap::fromImage(
        picture.convertToFormat(QImage::Format_RGB32).createMaskFromColor(transparentColor().rgb(), Qt::MaskInColor)));
    return pixmap;
}

void drawInCell(QPainter *painter, const QRect &cell, int offset, const QImage &picture, const QColor &brush)
{
    QImage copy = picture.convertToFormat(QImage::Format_RGB32);
    const QRgb olive = transparentColor().rgb();
    for (int y = 0; y < copy.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(copy.scanLine(y));
        for (int x = 0; x < copy.width(); ++x) {
            if ((line[x] | 0xff000000u) == olive) {
                line[x] = brush.rgb();
            }
        }
    }
    const int height = qMin(cell.height(), copy.height());
    painter->drawImage(QRect(cell.left() + offset, cell.top(), copy.width(), height), copy,
                       QRect(0, 0, copy.width(), height));
}

} // namespace ScreenIcons
