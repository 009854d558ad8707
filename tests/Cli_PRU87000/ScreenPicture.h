#pragma once

// Finds the screen's fixed geometry in a picture of it (a grab of the screen
// or the host's PNG of its main window), by the colours the screen paints:
// the tooltip background of the task and operator grids, the dark line of
// the lowered panels and the dark ink of the bold titles.

#include <QColor>
#include <QImage>
#include <QString>

#include <optional>

struct ScreenPictureGeometry
{
    int screenLeft = -1; // x of the task panel's left edge
    int screenRight = -1; // x of the operator panel's right edge
    int lowerTop = -1; // y of the top edge of the two lower panels
    int lowerBottom = -1; // y of their bottom edge
    int operatorsLeft = -1; // x of the operator panel's left edge
    int tasksInkLeft = -1; // leftmost dark pixel of "Tarefas", from screenLeft
    int operatorsInkLeft = -1; // leftmost dark pixel of "Operadores", from screenLeft
    int stripBlankRows = 0; // rows of plain background in the title strip above the ink
    bool lineAboveStrip = false; // the row just above the strip is not plain background (the process grid)
    int processHeight = -1; // height of the process grid, from its base area, titles and frame
    QString problem; // why nothing was found
};

// inset: pixels between a lower panel's edge and its grid's tooltip-coloured
// area (bevel, border and the grid's own frame).
struct ProcessGridLook
{
    QColor base; // the grid's background
    int frame = -1; // its frame width
    int titleHeight = 0; // the height of its title row
};

inline ScreenPictureGeometry measureScreenPicture(const QImage &source, const QColor &tooltip, const QColor &window,
                                                  int inset, const ProcessGridLook &process = {})
{
    ScreenPictureGeometry g;
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    auto isTooltip = [&](int x, int y) { return image.pixelColor(x, y) == tooltip; };
    auto isInk = [&](int x, int y) {
        const QColor c = image.pixelColor(x, y);
        return c.red() < 90 && c.green() < 90 && c.blue() < 90;
    };

    // The row crossing most tooltip pixels runs through both lower grids.
    int bestRow = -1;
    int bestCount = 0;
    for (int y = 0; y < image.height(); ++y) {
        int count = 0;
        for (int x = 0; x < image.width(); ++x) {
            count += isTooltip(x, y) ? 1 : 0;
        }
        if (count > bestCount) {
            bestCount = count;
            bestRow = y;
        }
    }
    if (bestRow < 0) {
        g.problem = QStringLiteral("no tooltip-coloured area");
        return g;
    }
    // The two widest runs of that row, left to right.
    struct Run
    {
        int left;
        int right;
    };
    QList<Run> runs;
    for (int x = 0; x < image.width();) {
        if (!isTooltip(x, bestRow)) {
            ++x;
            continue;
        }
        const int start = x;
        while (x < image.width() && isTooltip(x, bestRow)) {
            ++x;
        }
        if (x - start > 40) {
            runs << Run{start, x - 1};
        }
    }
    if (runs.size() != 2) {
        g.problem = QStringLiteral("expected two grid areas, found %1").arg(runs.size());
        return g;
    }
    g.screenLeft = runs.at(0).left - inset;
    g.operatorsLeft = runs.at(1).left - inset;
    g.screenRight = runs.at(1).right + inset;

    // Down the operator grid to its bottom, then out to the panel's edge.
    const int probeX = runs.at(1).left + 2;
    int y = bestRow;
    while (y + 1 < image.height() && isTooltip(probeX, y + 1)) {
        ++y;
    }
    g.lowerBottom = y + inset;
    // Up the task panel's left line (the bevel's dark edge) to its top.
    y = bestRow;
    const QColor line = image.pixelColor(g.screenLeft, bestRow);
    while (y - 1 >= 0 && image.pixelColor(g.screenLeft, y - 1) == line) {
        --y;
    }
    g.lowerTop = y;

    // The title strip: the 25 rows above the lower panels.
    const int stripTop = g.lowerTop - 25;
    int firstInkRow = -1;
    for (int yy = stripTop; yy < g.lowerTop; ++yy) {
        for (int x = g.screenLeft; x <= g.screenRight; ++x) {
            if (isInk(x, yy)) {
                if (firstInkRow < 0) {
                    firstInkRow = yy;
                }
                const int from = x - g.screenLeft;
                if (from < 300 && (g.tasksInkLeft < 0 || from < g.tasksInkLeft)) {
                    g.tasksInkLeft = from;
                } else if (from >= 300 && (g.operatorsInkLeft < 0 || from < g.operatorsInkLeft)) {
                    g.operatorsInkLeft = from;
                }
            }
        }
    }
    for (int yy = stripTop; yy < (firstInkRow < 0 ? g.lowerTop : firstInkRow); ++yy) {
        bool plain = true;
        for (int x = g.screenLeft; x <= g.screenRight && plain; ++x) {
            plain = image.pixelColor(x, yy) == window;
        }
        if (!plain) {
            break;
        }
        ++g.stripBlankRows;
    }
    if (stripTop - 1 >= 0) {
        for (int x = g.screenLeft; x <= g.screenRight; ++x) {
            if (image.pixelColor(x, stripTop - 1) != window) {
                g.lineAboveStrip = true;
                break;
            }
        }
    }
    // The process grid: its empty base area, right of the last column, runs
    // from under its titles down to its bottom frame.
    if (process.frame >= 0 && stripTop - 1 - process.frame >= 0) {
        const int x = g.screenRight - process.frame - 3;
        int y0 = stripTop - 1 - process.frame;
        int run = 0;
        while (y0 - run >= 0 && image.pixelColor(x, y0 - run) == process.base) {
            ++run;
        }
        g.processHeight = run + process.titleHeight + 2 * process.frame;
    }
    return g;
}
