#pragma once

#include <QCache>
#include <QFont>
#include <QPointF>
#include <QPointer>
#include <QStyle>
#include <QSize>
#include <QString>

#include <memory>

#include "framework_export.h"

class QPainter;
class QStyleOptionViewItem;
class QTextLayout;
class QWidget;

// Draws the text of a plain grid cell as the style's own item drawing does,
// keeping each text laid out for the next time it is drawn. The style lays a
// cell's text out three times per paint (to size it, to elide it, to draw
// it): that was most of what repainting a grid cost. A cell's text is laid
// out once here, and a cell drawn again (the row left on a move, values that
// repeat from row to row) costs only its glyphs.
//
// Only for cells the style would draw the same way: Fusion, no check box or
// icon, no wrapping, one line, not being edited. Anything else goes to the
// style, as does everything when the cache is switched off.
class FRAMEWORK_EXPORT CellTextCache
{
public:
    CellTextCache();
    ~CellTextCache();
    CellTextCache(const CellTextCache &) = delete;
    CellTextCache &operator=(const CellTextCache &) = delete;

    // Draws the cell (its background panel and its text) when it is plain,
    // and says whether it did; false leaves the cell untouched for the style.
    bool drawPlainCell(QPainter *painter, const QStyleOptionViewItem &option, QStyle *style, const QWidget *widget);

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    void clear();
    // Texts laid out and kept.
    int size() const { return int(m_laid.size()); }

private:
    struct Key
    {
        QString text;
        QSize size;
        int alignment = 0;
        int direction = 0;
        int elide = 0;
        bool decorationSelected = false;
        int margin = 0;
        bool operator==(const Key &other) const = default;
        friend size_t qHash(const Key &key, size_t seed = 0)
        {
            return qHashMulti(seed, key.text, key.size.width(), key.size.height(), key.alignment, key.direction,
                              key.elide, key.decorationSelected, key.margin);
        }
    };
    struct Laid;
    bool drawsLikeFusion(QStyle *style);
    static bool isPlain(const QStyleOptionViewItem &option);
    Laid *layOut(const Key &key, const QFont &font);

    QCache<Key, Laid> m_laid;
    QFont m_font; // the font the cached texts were laid out in
    QPointer<QStyle> m_style; // the style last asked about, and whether it is Fusion
    bool m_fusion = false;
    bool m_enabled = true;
};
