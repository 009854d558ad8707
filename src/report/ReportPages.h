#pragma once

#include <QFont>
#include <QList>
#include <QPageLayout>
#include <QRectF>
#include <QString>

#include <functional>

#include "ReportData.h"

class QPainter;
class QPagedPaintDevice;

// The report laid out on A4 portrait pages, then painted on any paged
// device (the print preview, a printer, a PDF file). Laid out once, in dots
// of 1/1200 inch with fonts sized in those dots, so that every device draws
// the same pages: the header on every page with "Página N de M", and per
// process its name, validity and situation, then its tasks in a table whose
// column headers repeat on each page it reaches. A process never starts on a
// page that cannot also hold its first task.
class ReportPages
{
public:
    static constexpr double dotsPerInch = 1200;
    static QPageLayout pageLayout();

    // Called every few processes with how many are laid out; false cancels.
    using Progress = std::function<bool(qsizetype done, qsizetype total)>;

    // False when cancelled, leaving no pages.
    bool layOut(const Report::Header &header, const QList<Report::Process> &processes, const QDate &today,
                const Progress &progress = {});
    int pageCount() const { return int(m_pages.size()); }

    // Paints every page on the device, after its page layout is set to
    // pageLayout(); each painted page is reported, and false stops there.
    // False when painting could not start or was stopped.
    bool print(QPagedPaintDevice *device, const Progress &progress = {}) const;
    // False with an error, or with none when cancelled (no file is left then).
    bool writePdf(const QString &path, QString *error, const Progress &progress = {}) const;

private:
    enum class Style { Title, Header, Bold, Normal, Small, Italic, Mark };
    struct Item
    {
        enum Kind { Text, Rule, Shade } kind = Text;
        QRectF rect;
        QString text;
        Style style = Style::Normal;
        int flags = 0;
    };
    using Page = QList<Item>;

    class Builder;
    void paintPage(QPainter &painter, int index) const;
    static QFont font(Style style);
    // Where each page's header puts its lines (drawn at paint time, with the
    // page numbers): the title, two rows under it, the rule under them, and
    // the top of the page's items.
    struct HeaderLines
    {
        double title;
        double row;
        double rule;
        double itemsTop;
    };
    static HeaderLines headerLines();

    Report::Header m_header;
    QList<Page> m_pages;
};
