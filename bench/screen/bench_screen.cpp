// The screen "Processos da Unidade" over a large unit (1,000 processes, 20
// tasks each, 5 responsibles per task), inside the host's main window under
// the offscreen platform, against the real server started in this program on
// a loopback port. Each time is set against what the same work costs at the
// least, measured in the same run:
//   a. opening the screen (the host's call that ends in the module's IniProc,
//      until the three grids have painted their rows) against the server's
//      date call, three bare round trips of the real calls' sizes and the
//      three SELECTs the loads run, read directly;
//   b. moving to the next process with the Down key, until its tasks and its
//      first task's responsibles are painted, against two bare round trips
//      and the two SELECTs;
//   c. scrolling the 1,000 processes: the Down key (each row loads its
//      process's tasks), PageDown, and the scroll bar, which moves no row;
//      the worst and the median frame.
// SQLite always; PostgreSQL too when PRU_TEST_PG names a server. Arguments
// "a", "b" or "c" run only those measurements (c moves the screen as b does).

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

#include "Admin.h"
#include "BareRoundTrip.h"
#include "Database.h"
#include "Fields.h"
#include "FrameworkServices.h"
#include "Guard.h"
#include "HostMainWindow.h"
#include "RdmProcessoUnidade.h"
#include "RpcClient.h"
#include "RpcServer.h"
#include "Sql.h"
#include "TDBGrid.h"

using namespace Qt::StringLiterals;

namespace {

constexpr int processCount = 1000;
constexpr int tasksPerProcess = 20;
constexpr int responsiblesPerTask = 5;
constexpr int timeoutMs = 30'000;
const QString unitCode = u"0009"_s;
const QString password = u"senha"_s;

void print(const QString &text)
{
    std::fputs(qPrintable(text + u'\n'), stdout);
    std::fflush(stdout);
}

double median(QList<double> values)
{
    if (values.isEmpty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

double worst(const QList<double> &values)
{
    return values.isEmpty() ? 0 : *std::max_element(values.begin(), values.end());
}

double microsSince(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1000.0;
}

// The three grids of the screen, by the names the screen gives them.
enum Grid { Processes, Tasks, Responsibles, GridCount };
const char *const gridNames[GridCount] = {"dbgPadrao", "dbgTarefas", "dbgOperadores"};

// Watches, for the whole application, the paint events of the grids'
// viewports. A paint counts once armed; with fresh content required, only
// after the grid's rows were replaced since arming.
class PaintWatch : public QObject
{
public:
    PaintWatch() { qApp->installEventFilter(this); }
    ~PaintWatch() override { qApp->removeEventFilter(this); }

    void arm(bool freshContent)
    {
        m_requireFresh = freshContent;
        for (int g = 0; g < GridCount; ++g) {
            m_painted[g] = false;
            m_fresh[g] = false;
        }
    }

    // The screen's grids, once it exists (their model resets say the content is new).
    void follow(const std::array<TDBGrid *, GridCount> &grids)
    {
        for (int g = 0; g < GridCount; ++g) {
            m_grids[g] = grids[g];
            QObject::connect(grids[g]->dataModel(), &QAbstractItemModel::modelReset, this,
                             [this, g] { m_fresh[g] = true; });
        }
    }

    bool painted(Grid grid) const { return m_painted[grid]; }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Paint) {
            return false;
        }
        auto *grid = qobject_cast<TDBGrid *>(watched->parent());
        if (!grid || grid->viewport() != watched) {
            return false;
        }
        for (int g = 0; g < GridCount; ++g) {
            if (grid->objectName() == QLatin1StringView(gridNames[g]) && grid->dataModel()->rowCount() > 0
                && (!m_requireFresh || m_fresh[g] || g == Processes)) {
                m_painted[g] = true;
            }
        }
        return false;
    }

private:
    bool m_requireFresh = false;
    bool m_painted[GridCount] = {};
    bool m_fresh[GridCount] = {};
    QPointer<TDBGrid> m_grids[GridCount];
};

// Lets the window system's paints run until the grids asked for have painted.
bool waitPainted(const PaintWatch &watch, std::initializer_list<Grid> grids,
                 const std::array<TDBGrid *, GridCount> *forced)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        QCoreApplication::processEvents();
        bool all = true;
        for (const Grid g : grids) {
            all = all && watch.painted(g);
        }
        if (all) {
            return true;
        }
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        if (forced) {
            for (const Grid g : grids) {
                if (!watch.painted(g)) {
                    (*forced)[g]->viewport()->repaint();
                }
            }
        }
    }
}

// A direct SELECT, prepared once as the server's own sessions do, reading
// every column of every row.
class DirectSelect
{
public:
    DirectSelect(QSqlDatabase &db, const QString &text)
        : m_text(text)
        , m_query(db)
    {
        m_query.setForwardOnly(true);
        m_query.prepare(text);
    }
    int run(const QVariant &key)
    {
        Sql::rerun(m_query, m_text, {key});
        const int columns = m_query.record().count();
        int rows = 0;
        while (m_query.next()) {
            for (int c = 0; c < columns; ++c) {
                m_sink += m_query.value(c).isNull() ? 0 : 1;
            }
            ++rows;
        }
        m_query.finish();
        return rows;
    }

private:
    QString m_text;
    QSqlQuery m_query;
    qint64 m_sink = 0;
};

struct CallSize
{
    qsizetype request = 0;
    qsizetype reply = 0;
};

CallSize sizeOf(RpcClient &client, const QString &method, const QCborArray &args)
{
    const RpcReply reply = client.call(method, args, timeoutMs);
    if (!reply.ok) {
        throw EDatabaseError(u"%1: %2"_s.arg(method, reply.error));
    }
    return {BareRoundTrip::callBytes(method, args), BareRoundTrip::replyBytes(reply.value)};
}

class ScreenBench
{
public:
    ScreenBench(const DatabaseConfig &config, const QString &lookupOptions, const QStringList &parts)
        : m_config(config)
        , m_lookupOptions(lookupOptions)
        , m_parts(parts)
    { }
    void run();

private:
    bool openScreen(double *micros);
    void closeScreen();
    std::optional<double> moveDown(Qt::Key key, bool fresh);
    double scrollBarFrame(QScrollBar *bar, QAbstractSlider::SliderAction action);
    void benchOpening();
    void benchMoving();
    void benchScrolling();
    void reportFrames(const QString &what, const QList<QList<double>> &rounds);

    DatabaseConfig m_config;
    QString m_lookupOptions;
    QStringList m_parts; // "a", "b", "c": the measurements to run
    std::unique_ptr<ScopedConnection> m_direct;
    std::unique_ptr<RpcServer> m_server;
    std::unique_ptr<RpcClient> m_client;
    std::unique_ptr<BareEchoServer> m_echo;
    std::unique_ptr<BareRoundTrip> m_bare;
    std::unique_ptr<HostMainWindow> m_window;
    std::unique_ptr<PaintWatch> m_watch;
    std::unique_ptr<DirectSelect> m_selectProcesses, m_selectTasks, m_selectResponsibles;
    QString m_module;
    QList<qint64> m_processes; // in the screen's order
    QHash<qint64, qint64> m_firstTask; // of each process
    CallSize m_processesSize, m_tasksSize, m_responsiblesSize;
    QPointer<QWidget> m_screen;
    std::array<TDBGrid *, GridCount> m_grids{};
};

void ScreenBench::run()
{
    m_direct = std::make_unique<ScopedConnection>(m_config, u"bench-direct"_s);
    QElapsedTimer load;
    load.start();
    const Admin::LargeUnit made = Admin::loadLargeUnit(m_direct->db(), unitCode, processCount, tasksPerProcess,
                                                       responsiblesPerTask, password, PasswordHash::Cost::minimal());
    print(u"  unidade %1: %2 processos, %3 tarefas, %4 responsáveis, gerados em %5 s"_s.arg(unitCode)
              .arg(made.processes)
              .arg(made.tasks)
              .arg(made.responsibles)
              .arg(double(load.elapsed()) / 1000.0, 0, 'f', 1));
    {
        QSqlQuery query = Sql::exec(
            m_direct->db(),
            u"SELECT p.NRPROCESSOFILIAL, MIN(t.NRATIVIDADEFILIAL) FROM PROCESSOFILIAL p JOIN ATIVIDADEFILIAL t "
            "ON t.NRPROCESSOFILIAL = p.NRPROCESSOFILIAL AND t.NRORDENAATIVIDADE = 1 WHERE p.CDUNIDADE = ? "
            "GROUP BY p.NRPROCESSOFILIAL ORDER BY p.NRPROCESSOFILIAL"_s,
            {unitCode});
        while (query.next()) {
            m_processes << query.value(0).toLongLong();
            m_firstTask.insert(query.value(0).toLongLong(), query.value(1).toLongLong());
        }
    }

    auto state = std::make_shared<ServerState>(m_config);
    m_server = std::make_unique<RpcServer>(RdmProcessoUnidade::factory(state));
    QString error;
    if (!m_server->listen(QHostAddress::LocalHost, 0, &error)) {
        throw EDatabaseError(u"listen: "_s + error);
    }
    // The first login also generates the day's activities of 20,000 tasks.
    m_client = std::make_unique<RpcClient>();
    if (!m_client->open(u"127.0.0.1"_s, m_server->port(), RdmProcessoUnidade::serverName, made.firstOperator, password,
                        timeoutMs, &error)) {
        throw EDatabaseError(u"login: "_s + error);
    }
    m_processesSize = sizeOf(*m_client, u"GetProcessos"_s, {});
    m_tasksSize = sizeOf(*m_client, u"GetTarefas"_s, {double(m_processes.first())});
    m_responsiblesSize = sizeOf(*m_client, u"GetOperadores"_s, {double(m_firstTask.value(m_processes.first()))});
    print(u"  bytes por chamada (pedido/resposta): GetProcessos %1/%2, GetTarefas %3/%4, GetOperadores %5/%6"_s
              .arg(m_processesSize.request)
              .arg(m_processesSize.reply)
              .arg(m_tasksSize.request)
              .arg(m_tasksSize.reply)
              .arg(m_responsiblesSize.request)
              .arg(m_responsiblesSize.reply));
    m_echo = std::make_unique<BareEchoServer>();
    m_bare = std::make_unique<BareRoundTrip>(m_echo->port());
    if (!m_bare->isOpen()) {
        throw EDatabaseError(u"ida e volta simples: sem conexão"_s);
    }
    m_selectProcesses = std::make_unique<DirectSelect>(m_direct->db(), Fields::selectProcessos);
    m_selectTasks = std::make_unique<DirectSelect>(m_direct->db(), Fields::selectTarefas);
    m_selectResponsibles = std::make_unique<DirectSelect>(m_direct->db(), Fields::selectOperadores);

    // The host as its program sets it up after the login.
    SessionInfo session;
    session.operatorCode = made.firstOperator;
    session.password = password;
    session.host = u"127.0.0.1"_s;
    session.port = m_server->port();
    setSession(session);
    setLookupDatabaseOptions(m_lookupOptions);
    m_window = std::make_unique<HostMainWindow>();
    setMainWindow(m_window.get());
    setChildWindowPresenter([this](QWidget *child) { m_window->presentChild(child); });
    m_window->show();
    if (!QTest::qWaitForWindowActive(m_window.get())) {
        print(u"  (janela principal não ficou ativa)"_s);
    }
    m_watch = std::make_unique<PaintWatch>();

    if (m_parts.contains(u"a"_s)) {
        benchOpening();
    }
    if (m_parts.contains(u"b"_s) || m_parts.contains(u"c"_s)) {
        benchMoving();
    }
    if (m_parts.contains(u"c"_s)) {
        benchScrolling();
    }

    closeScreen();
    setChildWindowPresenter({});
    setMainWindow(nullptr);
    m_window.reset();
    m_bare.reset();
    m_echo.reset();
    m_client->close();
    m_server->close();
    m_selectProcesses.reset();
    m_selectTasks.reset();
    m_selectResponsibles.reset();
}

// The host's own call: loads the module (once) and calls its IniProc; the
// time runs until the three grids have painted their rows.
bool ScreenBench::openScreen(double *micros)
{
    m_watch->arm(false);
    QElapsedTimer timer;
    timer.start();
    const bool opened = m_window->openScreen(QStringLiteral(PRU_MODULE_FILE));
    QMdiSubWindow *sub = m_window->workspace()->activeSubWindow();
    if (!opened || !sub || !sub->widget()) {
        return false;
    }
    m_screen = sub->widget();
    for (int g = 0; g < GridCount; ++g) {
        m_grids[g] = m_screen->findChild<TDBGrid *>(QLatin1StringView(gridNames[g]));
        if (!m_grids[g]) {
            return false;
        }
    }
    if (!waitPainted(*m_watch, {Processes, Tasks, Responsibles}, &m_grids)) {
        return false;
    }
    *micros = microsSince(timer);
    m_watch->follow(m_grids);
    return true;
}

void ScreenBench::closeScreen()
{
    if (!m_screen) {
        return;
    }
    if (QMdiSubWindow *sub = m_window->workspace()->activeSubWindow()) {
        sub->close();
    }
    while (m_screen || !m_window->workspace()->subWindowList().isEmpty()) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    m_grids = {};
}

void ScreenBench::benchOpening()
{
    double micros = 0;
    // The first opening loads the module; one more warms the rest.
    for (int warm = 0; warm < 2; ++warm) {
        if (!openScreen(&micros)) {
            throw EDatabaseError(u"a tela não abriu"_s);
        }
        closeScreen();
    }
    const qint64 firstProcess = m_processes.first();
    const qint64 firstTask = m_firstTask.value(firstProcess);
    auto baseline = [&] {
        QElapsedTimer timer;
        timer.start();
        if (!m_client->call(u"GetDataServidor"_s, {}, timeoutMs).ok) {
            throw EDatabaseError(u"GetDataServidor falhou"_s);
        }
        m_bare->run(m_processesSize.request, m_processesSize.reply);
        m_selectProcesses->run(unitCode);
        m_bare->run(m_tasksSize.request, m_tasksSize.reply);
        m_selectTasks->run(firstProcess);
        m_bare->run(m_responsiblesSize.request, m_responsiblesSize.reply);
        m_selectResponsibles->run(firstTask);
        return microsSince(timer);
    };
    // Rounds alternate the screen and its floor, and the median round is
    // reported, so that the noise of a shared machine hits both alike.
    const int rounds = 7;
    const int baselineRuns = 5;
    QList<double> screen, floor, ratio;
    for (int r = 0; r < rounds; ++r) {
        double sum = 0;
        for (int i = 0; i < baselineRuns; ++i) {
            sum += baseline();
        }
        floor << sum / baselineRuns;
        if (!openScreen(&micros)) {
            throw EDatabaseError(u"a tela não abriu"_s);
        }
        screen << micros;
        closeScreen();
        ratio << screen.last() / floor.last();
    }
    print(
        u"  a. abrir a tela (IniProc até a primeira pintura com dados): %1 ms; base (GetDataServidor + 3 idas e voltas "
        "simples + 3 SELECTs) %2 ms; razão %3 (meta ≤ 2)"_s.arg(median(screen) / 1000, 0, 'f', 2)
            .arg(median(floor) / 1000, 0, 'f', 2)
            .arg(median(ratio), 0, 'f', 2));
}

// One key in the processes grid, as the keyboard gives it, until the grids
// have painted what it brought. Empty when the current process did not move.
std::optional<double> ScreenBench::moveDown(Qt::Key key, bool fresh)
{
    const int before = m_grids[Processes]->dataSet()->currentRow();
    m_watch->arm(fresh);
    QElapsedTimer timer;
    timer.start();
    QTest::keyClick(m_window->windowHandle(), key);
    if (m_grids[Processes]->dataSet()->currentRow() == before) {
        return std::nullopt;
    }
    if (!waitPainted(*m_watch, {Processes, Tasks, Responsibles}, &m_grids)) {
        throw EDatabaseError(u"as grades não foram pintadas"_s);
    }
    return microsSince(timer);
}

void ScreenBench::benchMoving()
{
    double micros = 0;
    if (!openScreen(&micros)) {
        throw EDatabaseError(u"a tela não abriu"_s);
    }
    m_grids[Processes]->setFocus();
    QCoreApplication::processEvents();
    for (int warm = 0; warm < 5; ++warm) {
        moveDown(Qt::Key_Down, true);
    }
    auto baseline = [&](qint64 process) {
        QElapsedTimer timer;
        timer.start();
        m_bare->run(m_tasksSize.request, m_tasksSize.reply);
        m_selectTasks->run(process);
        m_bare->run(m_responsiblesSize.request, m_responsiblesSize.reply);
        m_selectResponsibles->run(m_firstTask.value(process));
        return microsSince(timer);
    };
    // The same two calls through the real server, without the screen: what
    // of a move is the server's and the wire's.
    auto calls = [&](qint64 process) {
        QElapsedTimer timer;
        timer.start();
        const bool ok = m_client->call(u"GetTarefas"_s, {double(process)}, timeoutMs).ok
                        && m_client->call(u"GetOperadores"_s, {double(m_firstTask.value(process))}, timeoutMs).ok;
        if (!ok) {
            throw EDatabaseError(u"GetTarefas ou GetOperadores falhou"_s);
        }
        return microsSince(timer);
    };
    const int rounds = 7;
    const int moves = 10;
    QList<double> screen, floor, ratio, server;
    for (int r = 0; r < rounds; ++r) {
        double floorSum = 0;
        double serverSum = 0;
        for (int i = 0; i < moves; ++i) {
            const int row = m_grids[Processes]->dataSet()->currentRow() + 1 + i;
            const qint64 process = m_processes.at(qMin(row, int(m_processes.size()) - 1));
            floorSum += baseline(process);
            serverSum += calls(process);
        }
        floor << floorSum / moves;
        server << serverSum / moves;
        double screenSum = 0;
        for (int i = 0; i < moves; ++i) {
            const std::optional<double> move = moveDown(Qt::Key_Down, true);
            if (!move) {
                throw EDatabaseError(u"a seta para baixo não mudou de processo"_s);
            }
            screenSum += *move;
        }
        screen << screenSum / moves;
        ratio << screen.last() / floor.last();
    }
    print(u"  b. ir ao processo seguinte (seta para baixo até pintar tarefas e responsáveis): %1 ms; base (2 idas e "
          "voltas simples + 2 SELECTs) %2 ms; razão %3 (meta ≤ 1,5)"_s.arg(median(screen) / 1000, 0, 'f', 2)
              .arg(median(floor) / 1000, 0, 'f', 2)
              .arg(median(ratio), 0, 'f', 2));
    print(u"     as mesmas 2 chamadas pelo servidor real, sem a tela: %1 ms (razão à base %2)"_s
              .arg(median(server) / 1000, 0, 'f', 2)
              .arg(median(server) / median(floor), 0, 'f', 2));
}

// One step of the processes grid's scroll bar (the current row stays), until
// the viewport painted.
double ScreenBench::scrollBarFrame(QScrollBar *bar, QAbstractSlider::SliderAction action)
{
    m_watch->arm(false);
    QElapsedTimer timer;
    timer.start();
    bar->triggerAction(action);
    if (!waitPainted(*m_watch, {Processes}, &m_grids)) {
        throw EDatabaseError(u"a grade de processos não foi pintada"_s);
    }
    return microsSince(timer);
}

void ScreenBench::reportFrames(const QString &what, const QList<QList<double>> &rounds)
{
    QList<double> worsts, medians;
    int frames = 0;
    int over = 0;
    double worstOfAll = 0;
    for (const QList<double> &round : rounds) {
        worsts << worst(round);
        medians << median(round);
        frames += int(round.size());
        over += int(std::count_if(round.begin(), round.end(), [](double us) { return us > 16'000; }));
        worstOfAll = qMax(worstOfAll, worst(round));
    }
    print(
        u"     %1: %2 quadros; mediana %3 ms; pior %4 ms (mediana das rodadas), %5 ms (de todas); acima de 16 ms: %6"_s
            .arg(what)
            .arg(frames)
            .arg(median(medians) / 1000, 0, 'f', 2)
            .arg(median(worsts) / 1000, 0, 'f', 2)
            .arg(worstOfAll / 1000, 0, 'f', 2)
            .arg(over));
}

void ScreenBench::benchScrolling()
{
    QScrollBar *bar = m_grids[Processes]->verticalScrollBar();
    const int rounds = 3;
    QList<QList<double>> down, pageDown, singleStep, pageStep;
    for (int r = 0; r < rounds; ++r) {
        // Each pass starts on the first process.
        QTest::keyClick(m_window->windowHandle(), Qt::Key_Home, Qt::ControlModifier);
        QCoreApplication::processEvents();
        down.append(QList<double>());
        while (const std::optional<double> frame = moveDown(Qt::Key_Down, true)) {
            down.last() << *frame;
        }
        QTest::keyClick(m_window->windowHandle(), Qt::Key_Home, Qt::ControlModifier);
        QCoreApplication::processEvents();
        pageDown.append(QList<double>());
        while (const std::optional<double> frame = moveDown(Qt::Key_PageDown, true)) {
            pageDown.last() << *frame;
        }
        singleStep.append(QList<double>());
        bar->setValue(bar->minimum());
        QCoreApplication::processEvents();
        while (bar->value() < bar->maximum()) {
            singleStep.last() << scrollBarFrame(bar, QAbstractSlider::SliderSingleStepAdd);
        }
        pageStep.append(QList<double>());
        bar->setValue(bar->minimum());
        QCoreApplication::processEvents();
        while (bar->value() < bar->maximum()) {
            pageStep.last() << scrollBarFrame(bar, QAbstractSlider::SliderPageStepAdd);
        }
    }
    print(u"  c. rolar os %1 processos (%2 rodadas; cada quadro até a grade pintar):"_s.arg(m_processes.size())
              .arg(rounds));
    reportFrames(u"seta para baixo (cada linha carrega as tarefas e os responsáveis)"_s, down);
    reportFrames(u"PageDown (cada página carrega as tarefas e os responsáveis)"_s, pageDown);
    reportFrames(u"barra de rolagem, linha a linha (a linha atual não muda)"_s, singleStep);
    reportFrames(u"barra de rolagem, página a página (a linha atual não muda)"_s, pageStep);
}

QString withDatabase(const QString &options, const QString &name)
{
    QString out = options;
    static const QRegularExpression dbname(u"dbname=\\S+"_s);
    return out.contains(dbname) ? out.replace(dbname, u"dbname="_s + name) : out + u" dbname="_s + name;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    // The measurements named on the command line (a profile wants one), or all.
    QStringList parts = QCoreApplication::arguments().mid(1);
    if (parts.isEmpty()) {
        parts = {u"a"_s, u"b"_s, u"c"_s};
    }
    // No one answers a box here: an error is printed and counted.
    setErrorDisplay([](const QString &text, QWidget *) { print(u"  erro mostrado pela tela: "_s + text); });
    print(u"bench_screen: %1 núcleos; plataforma %2"_s.arg(QThread::idealThreadCount())
              .arg(QGuiApplication::platformName()));
    int failures = 0;
    try {
        print(u"== SQLite"_s);
        QTemporaryDir dir;
        const QString file = dir.filePath(u"bench.sqlite"_s);
        ScreenBench bench(DatabaseConfig::sqlite(file), u"QSQLITE:"_s + file, parts);
        bench.run();
    } catch (const EDatabaseError &e) {
        print(u"  falha: "_s + e.message());
        ++failures;
    }
    const QString pg = qEnvironmentVariable("PRU_TEST_PG");
    if (!pg.isEmpty()) {
        const QString name = u"pru_bench_screen_%1"_s.arg(QCoreApplication::applicationPid());
        try {
            print(u"== PostgreSQL"_s);
            {
                ScopedConnection admin(DatabaseConfig::postgres(pg), u"bench-admin"_s);
                Sql::exec(admin.db(), u"CREATE DATABASE "_s + name);
            }
            const QString options = withDatabase(pg, name);
            {
                ScreenBench bench(DatabaseConfig::postgres(options), u"QPSQL: "_s + options, parts);
                bench.run();
            }
            ScopedConnection admin(DatabaseConfig::postgres(pg), u"bench-admin"_s);
            Sql::exec(admin.db(), u"DROP DATABASE IF EXISTS %1 WITH (FORCE)"_s.arg(name));
        } catch (const EDatabaseError &e) {
            print(u"  falha: "_s + e.message());
            ++failures;
        }
    } else {
        print(u"(PostgreSQL: defina PRU_TEST_PG para medir também)"_s);
    }
    return failures == 0 ? 0 : 1;
}
