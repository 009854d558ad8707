#include "ReportPages.h"

#include <QFile>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextLayout>

using namespace Qt::StringLiterals;
using namespace Report;

namespace {

constexpr double dotsPerPoint = ReportPages::dotsPerInch / 72;
constexpr double pad = 50; // inside each cell, left and right
const QString checked = u"\u2611"_s;
const QString unchecked = u"\u2610"_s;

// The table's columns, left to right: order, task (and under it the
// responsible), screen (Executa), module (Valida), periodicity.
struct Columns
{
    explicit Columns(double width)
        : task(width - order - screen - module - periodicity)
    { }
    static constexpr double order = 620;
    double task;
    static constexpr double screen = 1200;
    static constexpr double module = 800;
    static constexpr double periodicity = 1550;
    double x(int column) const
    {
        const double widths[] = {order, task, screen, module, periodicity};
        double at = 0;
        for (int c = 0; c < column; ++c) {
            at += widths[c];
        }
        return at;
    }
    double width(int column) const { return x(column + 1) - x(column); }
};

// Splits a text into the lines that fit a width; line breaks in the text
// are kept, so an observation prints as it was typed.
QStringList wrapped(const QString &text, const QFont &font, double width)
{
    QStringList lines;
    const QFontMetricsF metrics(font);
    QString plain = text;
    plain.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n').replace(u'\t', u' ');
    for (const QString &paragraph : plain.split(u'\n')) {
        if (metrics.horizontalAdvance(paragraph) <= width) {
            lines << paragraph;
            continue;
        }
        QTextLayout layout(paragraph, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            lines << paragraph.mid(line.textStart(), line.textLength()).trimmed();
        }
        layout.endLayout();
    }
    return lines;
}

} // namespace

QPageLayout ReportPages::pageLayout()
{
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(15, 12, 15, 12),
                       QPageLayout::Millimeter);
}

QFont ReportPages::font(Style style)
{
    // DejaVu Sans comes with the package's dependencies and has the check
    // boxes; the PDF embeds it.
    QFont f(u"DejaVu Sans"_s);
    // Any letter spacing turns ligatures off, so that "fi" is two letters in
    // the PDF's text too (a search for "Verificar" finds it); this one is
    // 1/64 of a dot.
    f.setLetterSpacing(QFont::AbsoluteSpacing, 1.0 / 64);
    struct Look
    {
        double points;
        bool bold, italic;
    };
    // Title, Header, Bold, Normal, Small, Italic, Mark.
    static constexpr Look looks[] = {{12, true, false}, {8, false, false}, {10, true, false}, {9, false, false},
                                     {8, false, false}, {8, false, true},  {10, false, false}};
    const Look &look = looks[int(style)];
    f.setPixelSize(qRound(look.points * dotsPerPoint));
    f.setBold(look.bold);
    f.setItalic(look.italic);
    return f;
}

ReportPages::HeaderLines ReportPages::headerLines()
{
    const double title = QFontMetricsF(font(Style::Title)).lineSpacing();
    const double row = QFontMetricsF(font(Style::Header)).lineSpacing();
    return {title, row, title + 2 * row + 60, title + 2 * row + 180};
}

// Places the items page by page, top to bottom.
class ReportPages::Builder
{
public:
    Builder(ReportPages &pages, const QDate &today)
        : m_pages(pages)
        , m_today(today)
        , m_size(pageLayout().paintRect(QPageLayout::Inch).size() * dotsPerInch)
        , m_columns(m_size.width())
    {
        for (Style s :
             {Style::Title, Style::Header, Style::Bold, Style::Normal, Style::Small, Style::Italic, Style::Mark}) {
            m_fonts[int(s)] = font(s);
            m_lineHeight[int(s)] = QFontMetricsF(m_fonts[int(s)]).lineSpacing();
        }
        m_top = headerLines().itemsTop;
        newPage();
    }

    void process(const Process &p)
    {
        const QString validity = u"Vigência: %1"_s.arg(p.validityText());
        const double validityWidth = QFontMetricsF(m_fonts[int(Style::Small)]).horizontalAdvance(validity) + pad;
        const QStringList name = wrapped(p.name, m_fonts[int(Style::Bold)], m_size.width() - validityWidth - pad);
        const double titleHeight = name.size() * line(Style::Bold) + line(Style::Small);
        const double first = p.tasks.isEmpty() ? line(Style::Italic) : tableHeaderHeight() + taskRowHeight(p.tasks[0]);
        // The name never ends a page without the first task under it.
        if (m_y + 120 + titleHeight + first > m_size.height() && m_y > m_top) {
            newPage();
        } else if (m_y > m_top) {
            m_y += 120;
        }
        for (qsizetype i = 0; i < name.size(); ++i) {
            text(QRectF(0, m_y, m_size.width() - validityWidth, line(Style::Bold)), name[i], Style::Bold);
            if (i == 0) {
                text(QRectF(0, m_y, m_size.width(), line(Style::Bold)), validity, Style::Small,
                     Qt::AlignRight | Qt::AlignVCenter);
            }
            m_y += line(Style::Bold);
        }
        text(QRectF(0, m_y, m_size.width(), line(Style::Small)), u"Situação: %1"_s.arg(p.situationText(m_today)),
             Style::Small);
        m_y += line(Style::Small) + 40;
        if (p.tasks.isEmpty()) {
            text(QRectF(pad, m_y, m_size.width(), line(Style::Italic)), u"Nenhuma tarefa cadastrada."_s, Style::Italic);
            m_y += line(Style::Italic);
            return;
        }
        m_continued = p.name;
        tableHeader();
        for (const Task &t : p.tasks) {
            task(t);
        }
        m_continued.clear();
    }

private:
    double line(Style s) const { return m_lineHeight[int(s)]; }

    void newPage()
    {
        m_pages.m_pages.append(Page());
        m_y = m_top;
        if (!m_continued.isEmpty()) {
            text(QRectF(0, m_y, m_size.width(), line(Style::Italic)), u"%1 (continuação)"_s.arg(m_continued),
                 Style::Italic);
            m_y += line(Style::Italic);
            tableHeader();
        }
    }

    // A block that must stay on one page starts a new one when it does not fit.
    void room(double height)
    {
        if (m_y + height > m_size.height() && m_y > m_top) {
            newPage();
        }
    }

    void text(const QRectF &rect, const QString &value, Style style, int flags = Qt::AlignLeft | Qt::AlignVCenter)
    {
        m_pages.m_pages.last().append(Item{Item::Text, rect, value, style, flags});
    }
    void rule(double y)
    {
        m_pages.m_pages.last().append(Item{Item::Rule, QRectF(0, y, m_size.width(), 0), {}, Style::Normal, 0});
    }

    QRectF cell(int column, double height) const
    {
        return QRectF(m_columns.x(column) + pad, m_y, m_columns.width(column) - 2 * pad, height);
    }

    double tableHeaderHeight() const { return line(Style::Small) * 2 + 40; }
    void tableHeader()
    {
        const double h = tableHeaderHeight();
        m_pages.m_pages.last().append(Item{Item::Shade, QRectF(0, m_y, m_size.width(), h), {}, Style::Normal, 0});
        const double row = line(Style::Small);
        const QStringList first = {u"Ordem"_s, u"Tarefa"_s, u"Tela"_s, u"Módulo"_s, u"Periodicidade"_s};
        const QStringList second = {QString(), u"Responsável"_s, u"Executa"_s, u"Valida"_s, QString()};
        for (int c = 0; c < 5; ++c) {
            text(cell(c, row).translated(0, 20), first[c], Style::Small);
            text(cell(c, row).translated(0, 20 + row), second[c], Style::Small);
        }
        m_y += h;
    }

    struct TaskCells
    {
        QStringList description, screen, module, periodicity;
        qsizetype lines() const
        {
            return std::max({description.size(), screen.size(), module.size(), periodicity.size(), qsizetype(1)});
        }
    };
    TaskCells cells(const Task &t) const
    {
        const QFont &f = m_fonts[int(Style::Normal)];
        const auto fit = [&](const QString &value, int column) {
            return wrapped(value, f, m_columns.width(column) - 2 * pad);
        };
        return {fit(t.description, 1), fit(t.screen, 2), fit(t.module, 3),
                fit(t.periodicity.isEmpty() ? t.periodicityCode : t.periodicity, 4)};
    }
    double taskRowHeight(const Task &t) const { return cells(t).lines() * line(Style::Normal) + 40; }

    void task(const Task &t)
    {
        const TaskCells c = cells(t);
        const double height = c.lines() * line(Style::Normal) + 40;
        room(height);
        rule(m_y);
        m_y += 20;
        const double row = line(Style::Normal);
        text(cell(0, row), QString::number(qint64(t.order)), Style::Normal, Qt::AlignRight | Qt::AlignVCenter);
        const QList<const QStringList *> columns = {&c.description, &c.screen, &c.module, &c.periodicity};
        for (int column = 1; column <= 4; ++column) {
            const QStringList &lines = *columns[column - 1];
            for (qsizetype i = 0; i < lines.size(); ++i) {
                text(cell(column, row).translated(0, i * row), lines[i], Style::Normal);
            }
        }
        m_y += height - 20;
        if (!t.observation.trimmed().isEmpty()) {
            const double left = m_columns.x(1) + pad;
            const QStringList lines =
                wrapped(u"Obs.: "_s + t.observation, m_fonts[int(Style::Italic)], m_size.width() - left - pad);
            for (const QString &l : lines) {
                room(line(Style::Italic));
                text(QRectF(left, m_y, m_size.width() - left, line(Style::Italic)), l, Style::Italic);
                m_y += line(Style::Italic);
            }
        }
        for (const Responsible &r : t.responsibles) {
            responsible(r);
        }
        m_y += 20;
    }

    void responsible(const Responsible &r)
    {
        const double indent = 250;
        const QStringList label = wrapped(r.label(), m_fonts[int(Style::Small)], m_columns.width(1) - 2 * pad - indent);
        const double row = std::max(line(Style::Small), line(Style::Mark));
        room(label.size() * row);
        for (qsizetype i = 0; i < label.size(); ++i) {
            text(cell(1, row).adjusted(indent, i * row, 0, i * row), label[i], Style::Small);
        }
        text(cell(2, row), r.executes ? checked : unchecked, Style::Mark, Qt::AlignLeft | Qt::AlignVCenter);
        text(cell(3, row), r.validates ? checked : unchecked, Style::Mark, Qt::AlignLeft | Qt::AlignVCenter);
        m_y += label.size() * row;
    }

    ReportPages &m_pages;
    QDate m_today;
    QSizeF m_size;
    Columns m_columns;
    QFont m_fonts[7];
    double m_lineHeight[7] = {};
    double m_top = 0;
    double m_y = 0;
    QString m_continued; // the process whose table goes on at the next page
};

bool ReportPages::layOut(const Header &header, const QList<Process> &processes, const QDate &today,
                         const Progress &progress)
{
    m_pages.clear();
    m_header = header;
    Builder builder(*this, today);
    for (qsizetype i = 0; i < processes.size(); ++i) {
        builder.process(processes[i]);
        if (progress && (i % 16 == 15 || i + 1 == processes.size()) && !progress(i + 1, processes.size())) {
            m_pages.clear();
            return false;
        }
    }
    if (processes.isEmpty()) {
        // A page that says so, rather than no page at all.
        m_pages.last().append(Item{Item::Text, QRectF(0, 2000, 8000, 300),
                                   u"Nenhum processo atende às opções escolhidas."_s, Style::Italic,
                                   Qt::AlignLeft | Qt::AlignVCenter});
    }
    return true;
}

void ReportPages::paintPage(QPainter &painter, int index) const
{
    // Thousands of pages: each font and its metrics made once, and a line
    // drawn at its baseline unless it is aligned to the right.
    struct Drawn
    {
        QFont font;
        double ascent, height;
    };
    static const QList<Drawn> styles = [] {
        QList<Drawn> all;
        for (int s = 0; s <= int(Style::Mark); ++s) {
            const QFont f = font(Style(s));
            const QFontMetricsF metrics(f);
            all.append({f, metrics.ascent(), metrics.height()});
        }
        return all;
    }();
    int current = -1;
    const auto draw = [&](const QRectF &rect, Style style, int flags, const QString &text) {
        if (current != int(style)) {
            current = int(style);
            painter.setFont(styles[current].font);
        }
        const Drawn &d = styles[current];
        if (flags & Qt::AlignRight) {
            painter.drawText(rect, flags | Qt::TextSingleLine, text);
        } else {
            painter.drawText(QPointF(rect.left(), rect.top() + (rect.height() - d.height) / 2 + d.ascent), text);
        }
    };
    const QSizeF size = pageLayout().paintRect(QPageLayout::Inch).size() * dotsPerInch;
    static const HeaderLines lines = headerLines();
    const double title = lines.title;
    const double row = lines.row;
    const int left = Qt::AlignLeft | Qt::AlignVCenter;
    const int right = Qt::AlignRight | Qt::AlignVCenter;
    painter.setPen(Qt::black);
    draw(QRectF(0, 0, size.width(), title), Style::Title, left, u"Processos da unidade"_s);
    draw(QRectF(0, 0, size.width(), title), Style::Header, right,
         u"Página %1 de %2"_s.arg(index + 1).arg(m_pages.size()));
    draw(QRectF(0, title, size.width(), row), Style::Header, left,
         u"Unidade %1 - %2"_s.arg(m_header.unitCode, m_header.unitName));
    draw(QRectF(0, title, size.width(), row), Style::Header, right,
         u"Emitido em %1"_s.arg(m_header.issued.toString(u"dd/MM/yyyy hh:mm"_s)));
    draw(QRectF(0, title + row, size.width(), row), Style::Header, left,
         u"Operador %1 - %2"_s.arg(m_header.operatorCode, m_header.operatorName));
    draw(QRectF(0, title + row, size.width(), row), Style::Header, right, m_header.scope);
    painter.setPen(QPen(Qt::black, 6));
    painter.drawLine(QPointF(0, lines.rule), QPointF(size.width(), lines.rule));

    const QPen textPen(Qt::black);
    const QPen rulePen(QColor(170, 170, 170), 3);
    painter.setPen(textPen);
    for (const Item &item : m_pages.at(index)) {
        switch (item.kind) {
        case Item::Text:
            draw(item.rect, item.style, item.flags, item.text);
            break;
        case Item::Rule:
            painter.setPen(rulePen);
            painter.drawLine(item.rect.topLeft(), item.rect.topRight());
            painter.setPen(textPen);
            break;
        case Item::Shade:
            painter.fillRect(item.rect, QColor(230, 230, 230));
            break;
        }
    }
}

bool ReportPages::print(QPagedPaintDevice *device, const Progress &progress) const
{
    QPainter painter;
    if (!painter.begin(device)) {
        return false;
    }
    // The device's own printable width decides, not its stated resolution:
    // the preview's printer paints at another scale than it reports.
    const double scale = device->width() / (pageLayout().paintRect(QPageLayout::Inch).width() * dotsPerInch);
    for (int i = 0; i < m_pages.size(); ++i) {
        if (i > 0) {
            device->newPage();
        }
        painter.save();
        painter.scale(scale, scale);
        paintPage(painter, i);
        painter.restore();
        if (progress && !progress(i + 1, m_pages.size())) {
            painter.end();
            return false;
        }
    }
    return painter.end();
}

bool ReportPages::writePdf(const QString &path, QString *error, const Progress &progress) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = u"Não foi possível gravar %1: %2"_s.arg(path, file.errorString());
        return false;
    }
    QPdfWriter writer(&file);
    writer.setPageLayout(pageLayout());
    writer.setResolution(int(dotsPerInch));
    writer.setTitle(u"Processos da unidade %1"_s.arg(m_header.unitCode));
    writer.setCreator(u"Processos da Unidade"_s);
    if (!print(&writer, progress)) {
        file.remove();
        *error = progress ? QString() : u"Não foi possível gerar o PDF em %1."_s.arg(path);
        return false;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        *error = u"Não foi possível gravar %1: %2"_s.arg(path, file.errorString());
        return false;
    }
    return true;
}
