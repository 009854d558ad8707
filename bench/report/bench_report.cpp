// bench_report [processes tasks responsibles]: the report "Processos da
// unidade" of a generated unit, step by step, on the offscreen platform.

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QTemporaryDir>

#include <cstdio>

#include "Admin.h"
#include "Database.h"
#include "FrameworkServices.h"
#include "ProcessReport.h"
#include "RdmProcessoUnidade.h"
#include "KeptModules.h"
#include "RpcServer.h"

using namespace Qt::StringLiterals;

namespace {
void print(const QString &line)
{
    std::printf("%s\n", qUtf8Printable(line));
    std::fflush(stdout);
}
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariable("QT_QPA_PLATFORM", u"offscreen"_s).toUtf8());
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int processes = args.value(1, u"1000"_s).toInt();
    const int tasks = args.value(2, u"20"_s).toInt();
    const int responsibles = args.value(3, u"5"_s).toInt();

    QTemporaryDir dir;
    const DatabaseConfig config = DatabaseConfig::sqlite(dir.filePath(u"bench.sqlite"_s));
    ScopedConnection direct(config, u"bench-direct"_s);
    Database::migrate(direct.db());
    const Admin::LargeUnit made = Admin::loadLargeUnit(direct.db(), u"0001"_s, processes, tasks, responsibles,
                                                       u"senha"_s, PasswordHash::Cost::minimal());
    auto state = std::make_shared<ServerState>(config);
    RpcServer server(KeptModules::factory(state));
    QString error;
    if (!server.listen(QHostAddress::LocalHost, 0, &error)) {
        print(error);
        return 1;
    }
    setSession({made.firstOperator, u"senha"_s, u"127.0.0.1"_s, server.port(), {}, {}});
    print(u"relatório da unidade gerada: %1 processos, %2 tarefas, %3 responsáveis"_s.arg(made.processes)
              .arg(made.tasks)
              .arg(made.responsibles));

    QElapsedTimer clock;
    const auto step = [&clock](const QString &what) {
        print(u"  %1: %2 ms"_s.arg(what, -34).arg(double(clock.nsecsElapsed()) / 1e6, 8, 'f', 1));
        clock.restart();
    };
    try {
        ProcessReport report(nullptr);
        clock.start();
        report.start();
        step(u"conectar, data e lista de processos"_s);
        Report::Options all;
        all.includeEnded = true;
        report.load(all);
        step(u"GetRelatorioProcessos e leitura"_s);
        ReportPages pages;
        QElapsedTimer gap;
        gap.start();
        qint64 longest = 0;
        pages.layOut(report.header(), report.processes(), report.today(), [&](qsizetype, qsizetype) {
            longest = std::max(longest, gap.nsecsElapsed());
            gap.restart();
            return true;
        });
        step(u"páginas montadas"_s);
        {
            // What the print preview does with the pages before it shows them.
            QPrinter printer(QPrinter::HighResolution);
            printer.setPageLayout(ReportPages::pageLayout());
            QPrintPreviewWidget preview(&printer);
            QObject::connect(&preview, &QPrintPreviewWidget::paintRequested,
                             [&pages](QPrinter *target) { pages.print(target); });
            clock.restart();
            preview.updatePreview();
            step(u"pré-visualização desenhada"_s);
        }
        const QString pdf = dir.filePath(u"relatorio.pdf"_s);
        if (!pages.writePdf(pdf, &error)) {
            print(error);
            return 1;
        }
        step(u"PDF gravado"_s);
        if (!report.saveCsv(dir.filePath(u"relatorio.csv"_s), &error)) {
            print(error);
            return 1;
        }
        step(u"CSV gravado"_s);
        print(u"  %1 páginas; PDF %2 MiB; CSV %3 MiB; maior pausa entre avisos de progresso: %4 ms"_s
                  .arg(pages.pageCount())
                  .arg(double(QFileInfo(pdf).size()) / (1 << 20), 0, 'f', 1)
                  .arg(double(QFileInfo(dir.filePath(u"relatorio.csv"_s)).size()) / (1 << 20), 0, 'f', 1)
                  .arg(double(longest) / 1e6, 0, 'f', 1));
    } catch (const std::exception &e) {
        print(QString::fromUtf8(e.what()));
        return 1;
    }
    server.close();
    return 0;
}
