// The report "Processos da unidade" as a unit manager prints it: the real
// server on a loopback port over the demonstration unit, the PDF read back
// with pdftotext, the CSV file read back as a spreadsheet reads it, and the
// way from the host's menu (Ctrl+P) through the options to the preview.

#include <QAbstractButton>
#include <QApplication>
#include <QMdiArea>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include "FrameworkServices.h"
#include "HostMainWindow.h"
#include "ProcessReport.h"
#include "ServerTestSupport.h"

using namespace ServerTest;

namespace {

QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60'000) || process.exitCode() != 0) {
        qWarning("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString pdfText(const QString &pdf, int page = 0)
{
    QStringList arguments{u"-layout"_s};
    if (page > 0) {
        arguments << u"-f"_s << QString::number(page) << u"-l"_s << QString::number(page);
    }
    return run(u"pdftotext"_s, arguments << pdf << u"-"_s);
}

int pdfPages(const QString &pdf)
{
    static const QRegularExpression pages(u"Pages:\\s+(\\d+)"_s);
    return pages.match(run(u"pdfinfo"_s, {pdf})).captured(1).toInt();
}

// Records of fields as RFC 4180 reads them, with ";" between fields.
QList<QStringList> readCsv(const QByteArray &bytes)
{
    QList<QStringList> records;
    QStringList record;
    QString value;
    bool quoted = false;
    const QString text = QString::fromUtf8(bytes.mid(3));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted && c == u'"' && text.mid(i + 1, 1) == u"\""_s) {
            value += c;
            ++i;
        } else if (c == u'"') {
            quoted = !quoted;
        } else if (!quoted && c == u';') {
            record << std::exchange(value, {});
        } else if (!quoted && c == u'\r' && text.mid(i + 1, 1) == u"\n"_s) {
            records << (record << std::exchange(value, {}));
            record.clear();
            ++i;
        } else {
            value += c;
        }
    }
    return records;
}

// Runs fn on the next modal dialog of the object name once it is shown.
void whenShown(const QString &name, std::function<void(QWidget *)> fn)
{
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, name, fn] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->objectName() == name && modal->isVisible()) {
            timer->deleteLater();
            fn(modal);
        }
    });
    timer->start(20);
}

} // namespace

class TestReport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void demoUnitOnPaperAndInASpreadsheet();
    void pagesOfManyProcesses();
    void fromTheHostMenu();

private:
    void logIn(const QString &op);
    // The demonstration unit as the database holds it, a row per responsible.
    QList<QStringList> stored(const QString &where = {});

    std::unique_ptr<TestDatabase> m_database;
    std::unique_ptr<ScopedConnection> m_direct;
    std::shared_ptr<ServerState> m_state;
    std::unique_ptr<RpcServer> m_server;
    QTemporaryDir m_dir;
    // An observation a spreadsheet must keep whole.
    const QString m_awkward = u"Fechar o depósito; avisar \"todos\"\nantes da contagem."_s;
};

void TestReport::initTestCase()
{
    // PRU_KEEP_REPORT=1 keeps the files made, to look at them.
    m_dir.setAutoRemove(qEnvironmentVariableIsEmpty("PRU_KEEP_REPORT"));
    QVERIFY2(!QStandardPaths::findExecutable(u"pdftotext"_s).isEmpty(), "pdftotext (poppler-utils) is missing");
    QString why;
    m_database = TestDatabase::create(u"sqlite"_s, &why);
    QVERIFY2(m_database, qPrintable(why));
    m_direct = std::make_unique<ScopedConnection>(m_database->config, u"test-direct"_s);
    Admin::loadDemo(m_direct->db());
    Sql::exec(m_direct->db(), u"UPDATE ATIVIDADEFILIAL SET DSATIVIDADEFILIAL = ? WHERE NMATIVIDADEFILIAL = ?"_s,
              {m_awkward, u"Inventário geral"_s});
    m_state = std::make_shared<ServerState>(m_database->config);
    m_server = std::make_unique<RpcServer>(KeptModules::factory(m_state));
    QVERIFY2(m_server->listen(QHostAddress::LocalHost, 0, &why), qPrintable(why));
}

void TestReport::cleanupTestCase()
{
    m_server->close();
}

void TestReport::logIn(const QString &op)
{
    setSession({op, u"senha"_s, u"127.0.0.1"_s, m_server->port(), {}, {}});
}

QList<QStringList> TestReport::stored(const QString &where)
{
    QSqlQuery q = Sql::exec(
        m_direct->db(),
        u"SELECT p.NMPROCESSOFILIAL, t.NRORDENAATIVIDADE, t.NMATIVIDADEFILIAL, t.DSATIVIDADEFILIAL, "
        "COALESCE(r.CDOPERADOR, r.CDGRUPOPER), COALESCE(o.NMOPERADOR, g.DSGRUPOPER), r.IDEXECUTA, r.IDVALIDA "
        "FROM PROCESSOFILIAL p LEFT JOIN ATIVIDADEFILIAL t ON t.NRPROCESSOFILIAL = p.NRPROCESSOFILIAL "
        "LEFT JOIN RESPATIVFILIAL r ON r.NRATIVIDADEFILIAL = t.NRATIVIDADEFILIAL "
        "LEFT JOIN OPERADOR o ON o.CDOPERADOR = r.CDOPERADOR LEFT JOIN GRUPOPER g ON g.CDGRUPOPER = r.CDGRUPOPER "
        "WHERE p.CDUNIDADE = '0001' "_s
            + where + u" ORDER BY p.NRPROCESSOFILIAL, t.NRORDENAATIVIDADE, r.NRRESPATIVFILIAL"_s);
    QList<QStringList> rows;
    while (q.next()) {
        QStringList row;
        for (int c = 0; c < 8; ++c) {
            row << (c == 1 && !q.isNull(c) ? QString::number(q.value(c).toInt()) : q.value(c).toString());
        }
        rows << row;
    }
    return rows;
}

void TestReport::demoUnitOnPaperAndInASpreadsheet()
{
    logIn(u"SUPERVISOR"_s);
    ProcessReport report(nullptr);
    report.start();
    Report::Options everything;
    everything.includeEnded = true;
    report.load(everything);
    QVERIFY(report.layOut());
    const QString pdf = m_dir.filePath(u"demo.pdf"_s);
    QString error;
    QVERIFY2(report.savePdf(pdf, &error), qPrintable(error));

    // Every process, task and responsible in order, each with its marks.
    const QString text = pdfText(pdf);
    const QStringList lines = text.split(u'\n');
    qsizetype at = 0;
    const auto next = [&](const QString &wanted) {
        const qsizetype found = text.indexOf(wanted, at);
        QVERIFY2(found >= 0, qPrintable(u"not after %1: %2"_s.arg(at).arg(wanted)));
        at = found + wanted.size();
    };
    const QList<QStringList> rows = stored();
    QVERIFY(rows.size() >= 15);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QStringList &row = rows[i];
        if (i == 0 || rows[i - 1][0] != row[0]) {
            next(row[0]);
        }
        if (i == 0 || rows[i - 1][2] != row[2]) {
            next(row[2]);
        }
        if (!row[4].isEmpty()) {
            next(u"%1 (%2)"_s.arg(row[5], row[4]));
            const qsizetype lineStart = text.lastIndexOf(u'\n', at) + 1;
            const QString marks = text.mid(lineStart, text.indexOf(u'\n', at) - lineStart)
                                      .remove(QRegularExpression(u"[^\u2610\u2611]"_s));
            const auto mark = [](const QString &flag) { return flag == u"S"_s ? u"\u2611"_s : u"\u2610"_s; };
            QCOMPARE(marks, mark(row[6]) + mark(row[7]));
        }
    }
    QVERIFY(text.contains(u"Vigência: desde "_s));
    QVERIFY(text.contains(u"Situação: Encerrado; "_s));
    QVERIFY(text.contains(u"Obs.: Fechar o depósito; avisar \"todos\""_s));
    QVERIFY(text.contains(u"Unidade 0001 - Loja Centro"_s));
    QVERIFY(text.contains(u"Operador SUPERVISOR - Supervisor da Loja Centro"_s));
    QCOMPARE(pdfPages(pdf), report.pages().pageCount());
    QVERIFY(text.contains(u"Página 1 de %1"_s.arg(report.pages().pageCount())));
    // Printed through Qt's printer (to a PDF file, as the print dialog
    // offers), whose printable area is not quite the page layout's: the
    // texts at the right margin arrive whole.
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(m_dir.filePath(u"printed.pdf"_s));
    printer.setPageLayout(ReportPages::pageLayout());
    QVERIFY(report.pages().print(&printer));
    const QString printed = pdfText(printer.outputFileName());
    QVERIFY2(printed.contains(u"Todos os processos, encerrados inclusive"_s), qPrintable(printed.left(600)));
    QVERIFY(printed.contains(u"Página 1 de 1"_s) && printed.contains(u"Mensal - último dia"_s));
    // Nothing passes the right margin (a text past it is cut off on paper).
    static const QRegularExpression right(u"xMax=\"([\\d.]+)\""_s);
    double rightmost = 0;
    for (auto it = right.globalMatch(run(u"pdftotext"_s, {u"-bbox"_s, printer.outputFileName(), u"-"_s}));
         it.hasNext();) {
        rightmost = std::max(rightmost, it.next().captured(1).toDouble());
    }
    const QRectF area = ReportPages::pageLayout().paintRect(QPageLayout::Point);
    QVERIFY2(rightmost > area.right() - 20 && rightmost <= area.right() + 0.3, qPrintable(QString::number(rightmost)));
    // The fonts travel inside the file.
    const QStringList fonts = run(u"pdffonts"_s, {pdf}).split(u'\n', Qt::SkipEmptyParts).mid(2);
    QVERIFY(!fonts.isEmpty());
    for (const QString &font : fonts) {
        QVERIFY2(font.contains(u" yes "_s), qPrintable(font));
    }

    // The CSV file: a record per responsible, equal to what is stored.
    const QString csv = m_dir.filePath(u"demo.csv"_s);
    QVERIFY2(report.saveCsv(csv, &error), qPrintable(error));
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    const QList<QStringList> records = readCsv(bytes);
    QCOMPARE(records.size(), rows.size() + 1);
    QCOMPARE(records[0].value(1), u"Processo"_s);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QStringList &r = records[i + 1];
        const QStringList &row = rows[i];
        QCOMPARE(r.size(), 16);
        const auto yesNo = [](const QString &flag) {
            return flag.isEmpty() ? QString() : flag == u"S"_s ? u"Sim"_s : u"Não"_s;
        };
        QCOMPARE(QStringList({r[1], r[5], r[6], r[10], r[12], r[13], r[14], r[15]}),
                 QStringList({row[0], row[1], row[2], row[3], row[4], row[5], yesNo(row[6]), yesNo(row[7])}));
        QVERIFY(QRegularExpression(u"^\\d\\d/\\d\\d/\\d{4}$"_s).match(r[2]).hasMatch());
    }
    QVERIFY(bytes.contains("\"Fechar o dep\xC3\xB3sito; avisar \"\"todos\"\"\nantes da contagem.\""));
    QVERIFY(std::any_of(records.cbegin(), records.cend(),
                        [this](const QStringList &r) { return r.value(10) == m_awkward; }));
    // The options keep what they say: ended processes out by default, or
    // one process alone.
    const auto names = [&report](const Report::Options &options) {
        report.load(options);
        QStringList out;
        for (const Report::Process &p : report.processes()) {
            out << p.name;
        }
        return out;
    };
    const QStringList current = names({});
    QVERIFY(!current.contains(u"Campanha de inverno"_s) && current.contains(u"Reforma do depósito"_s));
    QCOMPARE(names({std::nullopt, false, report.processList().at(1).first}),
             QStringList{report.processList().at(1).second});
}

void TestReport::pagesOfManyProcesses()
{
    // Processes of 1 to 7 tasks land their names at every height of a page;
    // every tenth one runs over a page on its own.
    QList<Report::Process> processes;
    for (int p = 1; p <= 40; ++p) {
        Report::Process process;
        process.name = u"Processo %1"_s.arg(p, 3, 10, QChar(u'0'));
        process.start = QDate(2026, 1, 1);
        for (int t = 1; t <= (p % 10 == 0 ? 40 : p % 7 + 1); ++t) {
            Report::Task task;
            task.order = t;
            task.description = u"Tarefa %1 do %2"_s.arg(t).arg(process.name);
            task.responsibles << Report::Responsible{false, u"MARIA"_s, u"Maria"_s, true, false};
            process.tasks << task;
        }
        processes << process;
    }
    const Report::Header header{u"0009"_s, u"Loja Sul"_s, u"MARIA"_s, u"Maria"_s, {}, u"Todos"_s};
    // Cancelled at its first progress, nothing is left.
    ReportPages pages;
    QVERIFY(!pages.layOut(header, processes, QDate(2026, 6, 1), [](qsizetype, qsizetype) { return false; }));
    QCOMPARE(pages.pageCount(), 0);

    QVERIFY(pages.layOut(header, processes, QDate(2026, 6, 1)));
    const int count = pages.pageCount();
    QVERIFY2(count >= 8, qPrintable(QString::number(count)));
    const QString pdf = m_dir.filePath(u"many.pdf"_s);
    QString error;
    QVERIFY2(pages.writePdf(pdf, &error), qPrintable(error));
    QCOMPARE(pdfPages(pdf), count);
    static const QRegularExpression title(u"^(Processo \\d{3})\\s+Vigência"_s, QRegularExpression::MultilineOption);
    int continued = 0;
    for (int page = 1; page <= count; ++page) {
        const QString text = pdfText(pdf, page);
        // The header on every page.
        QVERIFY2(text.contains(u"Página %1 de %2"_s.arg(page).arg(count)), qPrintable(text.left(400)));
        QVERIFY(text.contains(u"Unidade 0009 - Loja Sul"_s));
        // A process starts on a page only with its first task under it.
        for (auto it = title.globalMatch(text); it.hasNext();) {
            const QString name = it.next().captured(1);
            QVERIFY2(text.contains(u"Tarefa 1 do %1"_s.arg(name)), qPrintable(u"page %1: %2"_s.arg(page).arg(name)));
        }
        // A table that goes on repeats its column headers.
        if (const qsizetype at = text.indexOf(u"(continuação)"_s); at >= 0) {
            ++continued;
            QVERIFY(text.indexOf(u"Ordem"_s, at) > at && text.indexOf(u"Responsável"_s, at) > at);
        }
    }
    QVERIFY(continued > 0);
}

void TestReport::fromTheHostMenu()
{
    logIn(u"SUPERVISOR"_s);
    HostMainWindow window;
    setMainWindow(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QString csv = m_dir.filePath(u"menu.csv"_s);
    ProcessReport::setFileChooser([&csv](QWidget *, const QString &, const QString &suggested, const QString &) {
        return suggested.endsWith(u".csv"_s) ? csv : QString();
    });
    int previewPages = -1;
    whenShown(u"frmRelProcessos"_s, [&](QWidget *options) {
        // Only the processes in force today.
        auto *inForce = options->findChild<QAbstractButton *>(u"rbEmVigor"_s);
        QTest::mouseClick(inForce, Qt::LeftButton, {}, inForce->rect().center());
        whenShown(u"dlgVisualizar"_s, [&](QWidget *preview) {
            previewPages = preview->findChild<QPrintPreviewWidget *>()->pageCount();
            preview->findChild<QAction *>(u"actExportarCsv"_s)->trigger();
            preview->close();
        });
        auto *show = options->findChild<QAbstractButton *>(u"btnVisualizar"_s);
        QTest::mouseClick(show, Qt::LeftButton, {}, show->rect().center());
    });
    window.workspace()->setFocus();
    QTest::keyClick(&window, Qt::Key_P, Qt::ControlModifier);
    // The keyboard is back where it was, without a window manager too.
    QTRY_COMPARE(QApplication::focusWidget(), window.workspace());
    setMainWindow(nullptr);
    QCOMPARE(previewPages, 1);
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList names;
    for (const QStringList &record : readCsv(file.readAll()).mid(1)) {
        if (!names.contains(record[1])) {
            names << record[1];
        }
    }
    // The ended campaign and the renovation still to come stay out.
    QCOMPARE(names, QStringList({u"Abertura da loja"_s, u"Fechamento do caixa"_s, u"Controle de estoque"_s}));
}

QTEST_MAIN(TestReport)
#include "tst_report.moc"
