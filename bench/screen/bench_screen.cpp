// The screen "Processos da Unidade" over a large unit (1,000 processes, 20
// tasks each, 5 responsibles per task), inside the host's main window under
// the offscreen platform, against the real server started in this program on
// a loopback port. Each time is set against what the same work costs at the
// least, and against the plain Qt program a user would otherwise write, both
// measured in the same run:
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
// The plain Qt program (PlainProgram below) is three QTableViews with the
// screen's columns, widths and row heights, laid out at the screen's size,
// reading the same database directly (QSQLITE on the server's file, QPSQL on
// the same server) and querying the two lower levels again on every move; once
// over QSqlQueryModel and once over QStandardItemModel. a, b and c time it as
// they time the screen and print the screen's time over its.
//   m. resident memory (VmRSS) of the host with the large unit open and after
//      Down through all of it, against the plain program at the same points:
//      each runs alone in a child process of this program (the screen's host
//      against this program's server), so that neither counts the other, the
//      server or the generated unit.
// SQLite always; PostgreSQL too when PRU_TEST_PG names a server. Arguments
// "a", "b", "c" or "m" run only those measurements (c moves the screen as b
// does). For a profiler: BENCH_SCREEN_ONLY=1 leaves the plain programs out
// of a and b, BENCH_ROUNDS=N runs N rounds of them instead of 7.

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QSqlRecord>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

#include "ProcStatus.h"
#include "Admin.h"
#include "BareRoundTrip.h"
#include "Database.h"
#include "Fields.h"
#include "FrameworkServices.h"
#include "GridDefinitions.h"
#include "Guard.h"
#include "HostMainWindow.h"
#include "RdmProcessoUnidade.h"
#include "KeptModules.h"
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

bool screenOnly()
{
    return qEnvironmentVariableIntValue("BENCH_SCREEN_ONLY") != 0;
}

int roundCount()
{
    const int rounds = qEnvironmentVariableIntValue("BENCH_ROUNDS");
    return rounds > 0 ? rounds : 7;
}
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

// The three grids, by the names the screen gives them (the plain program
// gives its views the same names).
enum Grid { Processes, Tasks, Responsibles, GridCount };
const char *const gridNames[GridCount] = {"dbgPadrao", "dbgTarefas", "dbgOperadores"};
using Views = std::array<QAbstractItemView *, GridCount>;

// Watches, for the whole application, the paint events of the grids'
// viewports. A paint counts once armed; with fresh content required, only
// after the grid's rows changed since arming. One program (the screen or a
// plain one) is open at a time.
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

    // The views once they exist: a reset, rows inserted or removed or values
    // changed say the content is new.
    void follow(const Views &views)
    {
        for (QMetaObject::Connection &c : m_connections) {
            QObject::disconnect(c);
        }
        m_connections.clear();
        for (int g = 0; g < GridCount; ++g) {
            QAbstractItemModel *model = views[g]->model();
            auto fresh = [this, g] { m_fresh[g] = true; };
            m_connections << QObject::connect(model, &QAbstractItemModel::modelReset, this, fresh)
                          << QObject::connect(model, &QAbstractItemModel::rowsInserted, this, fresh)
                          << QObject::connect(model, &QAbstractItemModel::rowsRemoved, this, fresh)
                          << QObject::connect(model, &QAbstractItemModel::dataChanged, this, fresh);
        }
    }

    bool painted(Grid grid) const { return m_painted[grid]; }
    // Paint events of each grid's viewport since this watch was made.
    qint64 paints(Grid grid) const { return m_paints[grid]; }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Paint) {
            return false;
        }
        auto *view = qobject_cast<QAbstractItemView *>(watched->parent());
        if (!view || view->viewport() != watched || !view->model()) {
            return false;
        }
        for (int g = 0; g < GridCount; ++g) {
            if (view->objectName() == QLatin1StringView(gridNames[g])) {
                ++m_paints[g];
            }
            if (view->objectName() == QLatin1StringView(gridNames[g]) && view->model()->rowCount() > 0
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
    qint64 m_paints[GridCount] = {};
    QList<QMetaObject::Connection> m_connections;
};

// Lets the window system's paints run until the grids asked for have painted.
bool waitPainted(const PaintWatch &watch, std::initializer_list<Grid> grids, const Views &forced)
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
        for (const Grid g : grids) {
            if (!watch.painted(g) && forced[g]) {
                forced[g]->viewport()->repaint();
            }
        }
    }
}

// Resident memory of this process, in kB (VmRSS of /proc/self/status).
qint64 residentKb()
{
    return procStatusKiB(u"self"_s, "VmRSS");
}

// What a, b, c and m drive: a program showing the three grids.
class Subject
{
public:
    virtual ~Subject() = default;
    virtual QString name() const = 0;
    // Until the program's window holds the grids (not yet painted).
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual QWindow *keyWindow() const = 0;
    virtual int currentProcessRow() const = 0;
    virtual void focusProcesses() = 0;
    const Views &views() const { return m_views; }

protected:
    Views m_views{};
};

// The screen, opened by the host's own call (loads the module once and calls
// its IniProc).
class ScreenSubject : public Subject
{
public:
    explicit ScreenSubject(HostMainWindow *window)
        : m_window(window)
    { }
    QString name() const override { return u"a tela"_s; }
    bool open() override
    {
        const bool opened = m_window->openScreen(QStringLiteral(PRU_MODULE_FILE));
        QMdiSubWindow *sub = m_window->workspace()->activeSubWindow();
        if (!opened || !sub || !sub->widget()) {
            return false;
        }
        m_screen = sub->widget();
        for (int g = 0; g < GridCount; ++g) {
            m_grids[g] = m_screen->findChild<TDBGrid *>(QLatin1StringView(gridNames[g]));
            m_views[g] = m_grids[g];
            if (!m_grids[g]) {
                return false;
            }
        }
        return true;
    }
    void close() override
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
        m_views = {};
    }
    QWindow *keyWindow() const override { return m_window->windowHandle(); }
    int currentProcessRow() const override { return m_grids[Processes]->dataSet()->currentRow(); }
    void focusProcesses() override
    {
        m_grids[Processes]->setFocus();
        QCoreApplication::processEvents();
    }

private:
    HostMainWindow *m_window;
    QPointer<QWidget> m_screen;
    std::array<TDBGrid *, GridCount> m_grids{};
};

// The straightforward Qt program: three QTableViews straight on the
// database, with the screen's columns (its grid definitions' titles and
// widths), row heights and sizes, the two lower levels queried again on
// every move of the level above.
class PlainProgram : public Subject
{
public:
    enum class Model { Query, Standard };
    PlainProgram(const DatabaseConfig &config, Model model, const QString &unit)
        : m_connection(config, u"bench-plain"_s)
        , m_model(model)
        , m_unit(unit)
    {
        for (int g = 0; g < GridCount; ++g) {
            m_columns[g] = GridDefinitions::load(QString::fromLatin1(gridNames[g])).columns;
        }
    }
    ~PlainProgram() override { close(); }
    QString name() const override
    {
        return m_model == Model::Query ? u"Qt simples, QSqlQueryModel"_s : u"Qt simples, QStandardItemModel"_s;
    }
    bool open() override
    {
        m_widget = std::make_unique<QWidget>();
        m_widget->setWindowTitle(u"Processos da Unidade (Qt simples)"_s);
        auto *page = new QVBoxLayout(m_widget.get());
        page->setContentsMargins(0, 0, 0, 0);
        page->setSpacing(0);
        for (int g = 0; g < GridCount; ++g) {
            auto *view = new QTableView(m_widget.get());
            view->setObjectName(QString::fromLatin1(gridNames[g]));
            view->setSelectionBehavior(QAbstractItemView::SelectRows);
            view->setSelectionMode(QAbstractItemView::SingleSelection);
            // The screen's grids' row height, fixed.
            view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
            view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
            m_views[g] = view;
            if (m_model == Model::Query) {
                auto *model = new QSqlQueryModel(view);
                m_queryModels[g] = model;
                view->setModel(model);
            } else {
                auto *model = new QStandardItemModel(0, int(m_columns[g].size()) + 1, view);
                QStringList titles{u"key"_s};
                for (const GridDefinitions::Column &column : m_columns[g]) {
                    titles << (column.title.isEmpty() ? column.fieldName : column.title);
                }
                model->setHorizontalHeaderLabels(titles);
                m_standardModels[g] = model;
                view->setModel(model);
                applyColumns(Grid(g));
            }
        }
        // The screen's panels: processes 192 px high across, a 25 px title
        // strip, tasks over a 36 px strip, responsibles 408 px wide.
        m_views[Processes]->setFixedHeight(192);
        page->addWidget(m_views[Processes]);
        page->addSpacing(25);
        auto *lower = new QHBoxLayout;
        lower->setSpacing(0);
        auto *left = new QVBoxLayout;
        left->addWidget(m_views[Tasks], 1);
        left->addSpacing(36);
        lower->addLayout(left, 1);
        m_views[Responsibles]->setFixedWidth(408);
        lower->addWidget(m_views[Responsibles]);
        page->addLayout(lower, 1);
        m_widget->setFixedSize(846, 496);

        QObject::connect(m_views[Processes]->selectionModel(), &QItemSelectionModel::currentRowChanged, m_widget.get(),
                         [this](const QModelIndex &current) { loadTasks(current); });
        QObject::connect(m_views[Tasks]->selectionModel(), &QItemSelectionModel::currentRowChanged, m_widget.get(),
                         [this](const QModelIndex &current) { loadResponsibles(current); });
        m_widget->show();
        m_widget->activateWindow();
        load(Processes, m_unit);
        m_views[Processes]->setCurrentIndex(m_views[Processes]->model()->index(0, 1));
        return m_views[Processes]->model()->rowCount() > 0;
    }
    void close() override
    {
        if (!m_widget) {
            return;
        }
        m_widget.reset();
        m_queryModels = {};
        m_standardModels = {};
        m_views = {};
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    QWindow *keyWindow() const override { return m_widget->windowHandle(); }
    int currentProcessRow() const override { return m_views[Processes]->currentIndex().row(); }
    void focusProcesses() override
    {
        m_widget->activateWindow();
        if (!QTest::qWaitForWindowActive(m_widget.get())) {
            print(u"  (janela do programa simples não ficou ativa)"_s);
        }
        m_views[Processes]->setFocus();
        QCoreApplication::processEvents();
    }

private:
    static QString selectOf(Grid grid)
    {
        switch (grid) {
        case Processes:
            return u"SELECT p.NRPROCESSOFILIAL, p.NMPROCESSOFILIAL, p.DTINIVIGENCIA, p.DTFINVIGENCIA, "
                   "o.NMOPERADOR || ' - ' || p.DTATUALIZACAO, p.IDSITUACAO "
                   "FROM PROCESSOFILIAL p LEFT JOIN OPERADOR o ON o.CDOPERADOR = p.CDOPERATU "
                   "WHERE p.CDUNIDADE = ? ORDER BY p.NRPROCESSOFILIAL"_s;
        case Tasks:
            return u"SELECT NRATIVIDADEFILIAL, NRORDENAATIVIDADE, NMATIVIDADEFILIAL, CDTELAATIVIDADE, "
                   "CDMODULOATIVIDADE, CDPERIENTR, DSATIVIDADEFILIAL FROM ATIVIDADEFILIAL "
                   "WHERE NRPROCESSOFILIAL = ? ORDER BY NRORDENAATIVIDADE, NRATIVIDADEFILIAL"_s;
        default:
            return u"SELECT NRRESPATIVFILIAL, CDOPERADOR, CDGRUPOPER, IDEXECUTA, IDVALIDA FROM RESPATIVFILIAL "
                   "WHERE NRATIVIDADEFILIAL = ? ORDER BY NRRESPATIVFILIAL"_s;
        }
    }
    // Widths (and, for the query model, titles: a new query resets them).
    void applyColumns(Grid grid)
    {
        auto *view = static_cast<QTableView *>(m_views[grid]);
        view->setColumnHidden(0, true);
        const QList<GridDefinitions::Column> &columns = m_columns[grid];
        for (int c = 0; c < columns.size(); ++c) {
            if (m_model == Model::Query) {
                m_queryModels[grid]->setHeaderData(
                    c + 1, Qt::Horizontal, columns[c].title.isEmpty() ? columns[c].fieldName : columns[c].title);
            }
            if (columns[c].width >= 0) {
                view->setColumnWidth(c + 1, columns[c].width);
            }
        }
    }
    void load(Grid grid, const QVariant &key)
    {
        QSqlQuery query(m_connection.db());
        if (!query.prepare(selectOf(grid))) {
            throw EDatabaseError(query.lastError().text());
        }
        query.addBindValue(key);
        if (!query.exec()) {
            throw EDatabaseError(query.lastError().text());
        }
        if (m_model == Model::Query) {
            m_queryModels[grid]->setQuery(std::move(query));
            applyColumns(grid);
            return;
        }
        QStandardItemModel *model = m_standardModels[grid];
        model->removeRows(0, model->rowCount());
        const int columns = query.record().count();
        while (query.next()) {
            QList<QStandardItem *> row;
            row.reserve(columns);
            for (int c = 0; c < columns; ++c) {
                auto *item = new QStandardItem;
                item->setData(query.value(c), Qt::DisplayRole);
                row << item;
            }
            model->appendRow(row);
        }
    }
    void clear(Grid grid)
    {
        if (m_model == Model::Query) {
            m_queryModels[grid]->clear();
        } else {
            m_standardModels[grid]->removeRows(0, m_standardModels[grid]->rowCount());
        }
    }
    void loadTasks(const QModelIndex &process)
    {
        if (!process.isValid()) {
            return;
        }
        load(Tasks, process.siblingAtColumn(0).data());
        QAbstractItemModel *tasks = m_views[Tasks]->model();
        if (tasks->rowCount() == 0) {
            clear(Responsibles);
            return;
        }
        m_views[Tasks]->setCurrentIndex(tasks->index(0, 1));
    }
    void loadResponsibles(const QModelIndex &task)
    {
        if (!task.isValid()) {
            return;
        }
        load(Responsibles, task.siblingAtColumn(0).data());
    }

    ScopedConnection m_connection;
    Model m_model;
    QString m_unit;
    std::array<QList<GridDefinitions::Column>, GridCount> m_columns;
    std::unique_ptr<QWidget> m_widget;
    std::array<QSqlQueryModel *, GridCount> m_queryModels{};
    std::array<QStandardItemModel *, GridCount> m_standardModels{};
};

// Opens the subject, timed until its three grids have painted their rows.
std::optional<double> timedOpen(Subject &subject, PaintWatch &watch)
{
    watch.arm(false);
    QElapsedTimer timer;
    timer.start();
    if (!subject.open() || !waitPainted(watch, {Processes, Tasks, Responsibles}, subject.views())) {
        return std::nullopt;
    }
    const double micros = microsSince(timer);
    watch.follow(subject.views());
    return micros;
}

// One key in the processes grid, as the keyboard gives it, until the grids
// have painted what it brought. Empty when the current process did not move.
std::optional<double> moveDown(Subject &subject, PaintWatch &watch, Qt::Key key)
{
    const int before = subject.currentProcessRow();
    watch.arm(true);
    QElapsedTimer timer;
    timer.start();
    QTest::keyClick(subject.keyWindow(), key);
    if (subject.currentProcessRow() == before) {
        return std::nullopt;
    }
    if (!waitPainted(watch, {Processes, Tasks, Responsibles}, subject.views())) {
        throw EDatabaseError(u"as grades não foram pintadas"_s);
    }
    return microsSince(timer);
}

// Down (or PageDown) from the first process to the last: every frame.
QList<double> pass(Subject &subject, PaintWatch &watch, Qt::Key key)
{
    QTest::keyClick(subject.keyWindow(), Qt::Key_Home, Qt::ControlModifier);
    QCoreApplication::processEvents();
    QList<double> frames;
    while (const std::optional<double> frame = moveDown(subject, watch, key)) {
        frames << *frame;
    }
    return frames;
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

struct FrameStats
{
    int frames = 0;
    int over = 0;
    double median = 0; // median of the rounds' medians
    double worst = 0; // median of the rounds' worsts
    double worstOfAll = 0;
};

FrameStats frameStats(const QList<QList<double>> &rounds)
{
    QList<double> worsts, medians;
    FrameStats stats;
    for (const QList<double> &round : rounds) {
        worsts << worst(round);
        medians << median(round);
        stats.frames += int(round.size());
        stats.over += int(std::count_if(round.begin(), round.end(), [](double us) { return us > 16'000; }));
        stats.worstOfAll = qMax(stats.worstOfAll, worst(round));
    }
    stats.median = median(medians);
    stats.worst = median(worsts);
    return stats;
}

QString ms(double micros)
{
    return QString::number(micros / 1000, 'f', 2);
}

QString ratio(double a, double b)
{
    return b > 0 ? QString::number(a / b, 'f', 2) : u"-"_s;
}

// The host alone, as its program sets it up after the login.
// The device token is the one the host's login received (HostApp keeps it in
// the session): each screen's connection presents it, and its login is not
// paced as an unknown host's.
std::unique_ptr<HostMainWindow> startHost(const QString &operatorCode, quint16 port, const QString &lookupOptions,
                                          const QString &deviceToken)
{
    SessionInfo session;
    session.deviceToken = deviceToken;
    session.operatorCode = operatorCode;
    session.password = password;
    session.host = u"127.0.0.1"_s;
    session.port = port;
    setSession(session);
    setLookupDatabaseOptions(lookupOptions);
    auto window = std::make_unique<HostMainWindow>();
    setMainWindow(window.get());
    HostMainWindow *raw = window.get();
    setChildWindowPresenter([raw](QWidget *child) { raw->presentChild(child); });
    window->show();
    if (!QTest::qWaitForWindowActive(window.get())) {
        print(u"  (janela principal não ficou ativa)"_s);
    }
    return window;
}

void stopHost(std::unique_ptr<HostMainWindow> &window)
{
    setChildWindowPresenter({});
    setMainWindow(nullptr);
    window.reset();
}

// The child of "m": one program alone, its resident memory before opening,
// with the unit open and after Down through all of it, on standard output as
// "RSS <point> <kB>".
int memoryChild(const QStringList &args)
{
    // rss <screen|query|standard> <sqlite FILE | postgres OPTIONS> <port> <operator> <lookup options> <token>
    const QString kind = args.value(1);
    const DatabaseConfig config =
        args.value(2) == "sqlite"_L1 ? DatabaseConfig::sqlite(args.value(3)) : DatabaseConfig::postgres(args.value(3));
    PaintWatch watch;
    std::unique_ptr<HostMainWindow> host;
    std::unique_ptr<Subject> subject;
    if (kind == "screen"_L1) {
        host = startHost(args.value(5), quint16(args.value(4).toUInt()), args.value(6), args.value(7));
        subject = std::make_unique<ScreenSubject>(host.get());
    } else {
        subject = std::make_unique<PlainProgram>(
            config, kind == "query"_L1 ? PlainProgram::Model::Query : PlainProgram::Model::Standard, unitCode);
    }
    QCoreApplication::processEvents();
    std::printf("RSS base %lld\n", residentKb());
    if (!timedOpen(*subject, watch)) {
        return 1;
    }
    std::printf("RSS open %lld\n", residentKb());
    subject->focusProcesses();
    pass(*subject, watch, Qt::Key_Down);
    std::printf("RSS scrolled %lld\n", residentKb());
    std::fflush(stdout);
    subject->close();
    subject.reset();
    if (host) {
        stopHost(host);
    }
    return 0;
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
    double scrollBarFrame(QScrollBar *bar, QAbstractSlider::SliderAction action);
    void benchOpening();
    void benchMoving();
    void benchScrolling();
    void benchMemory();
    void reportFrames(const QString &what, const QList<QList<double>> &rounds);
    std::unique_ptr<PlainProgram> plain(PlainProgram::Model model)
    {
        return std::make_unique<PlainProgram>(m_config, model, unitCode);
    }

    DatabaseConfig m_config;
    QString m_lookupOptions;
    QStringList m_parts; // "a", "b", "c", "m": the measurements to run
    std::unique_ptr<ScopedConnection> m_direct;
    std::unique_ptr<RpcServer> m_server;
    std::unique_ptr<RpcClient> m_client;
    std::unique_ptr<BareEchoServer> m_echo;
    std::unique_ptr<BareRoundTrip> m_bare;
    std::unique_ptr<HostMainWindow> m_window;
    std::unique_ptr<PaintWatch> m_watch;
    std::unique_ptr<ScreenSubject> m_screen;
    std::unique_ptr<DirectSelect> m_selectProcesses, m_selectTasks, m_selectResponsibles;
    QString m_firstOperator;
    QList<qint64> m_processes; // in the screen's order
    QHash<qint64, qint64> m_firstTask; // of each process
    CallSize m_processesSize, m_tasksSize, m_responsiblesSize;
};

void ScreenBench::run()
{
    m_direct = std::make_unique<ScopedConnection>(m_config, u"bench-direct"_s);
    QElapsedTimer load;
    load.start();
    const Admin::LargeUnit made = Admin::loadLargeUnit(m_direct->db(), unitCode, processCount, tasksPerProcess,
                                                       responsiblesPerTask, password, PasswordHash::Cost::minimal());
    m_firstOperator = made.firstOperator;
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
    m_server = std::make_unique<RpcServer>(KeptModules::factory(state));
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

    m_window = startHost(made.firstOperator, m_server->port(), m_lookupOptions, m_client->deviceToken());
    m_watch = std::make_unique<PaintWatch>();
    m_screen = std::make_unique<ScreenSubject>(m_window.get());

    if (m_parts.contains(u"a"_s)) {
        benchOpening();
    }
    if (m_parts.contains(u"b"_s) || m_parts.contains(u"c"_s)) {
        benchMoving();
    }
    if (m_parts.contains(u"c"_s)) {
        benchScrolling();
    }
    m_screen->close();
    if (m_parts.contains(u"m"_s)) {
        benchMemory();
    }

    m_screen.reset();
    stopHost(m_window);
    m_bare.reset();
    m_echo.reset();
    m_client->close();
    m_server->close();
    m_selectProcesses.reset();
    m_selectTasks.reset();
    m_selectResponsibles.reset();
}

void ScreenBench::benchOpening()
{
    auto openClose = [this](Subject &subject) {
        const std::optional<double> micros = timedOpen(subject, *m_watch);
        if (!micros) {
            throw EDatabaseError(subject.name() + u" não abriu"_s);
        }
        subject.close();
        return *micros;
    };
    std::unique_ptr<PlainProgram> query = plain(PlainProgram::Model::Query);
    std::unique_ptr<PlainProgram> standard = plain(PlainProgram::Model::Standard);
    // The first opening loads the module; one more warms the rest.
    for (int warm = 0; warm < 2; ++warm) {
        openClose(*m_screen);
        if (!screenOnly()) {
            openClose(*query);
            openClose(*standard);
        }
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
    // Rounds alternate the screen, its floor and the plain programs, and the
    // median round is reported, so that the noise of a shared machine hits
    // all alike.
    const int rounds = roundCount();
    const int baselineRuns = 5;
    QList<double> screen, floor, floorRatio, plainQuery, plainStandard, queryRatio, standardRatio;
    for (int r = 0; r < rounds; ++r) {
        double sum = 0;
        for (int i = 0; i < baselineRuns; ++i) {
            sum += baseline();
        }
        floor << sum / baselineRuns;
        screen << openClose(*m_screen);
        floorRatio << screen.last() / floor.last();
        if (!screenOnly()) {
            plainQuery << openClose(*query);
            plainStandard << openClose(*standard);
            queryRatio << screen.last() / plainQuery.last();
            standardRatio << screen.last() / plainStandard.last();
        }
    }
    print(
        u"  a. abrir a tela (IniProc até a primeira pintura com dados): %1 ms; base (GetDataServidor + 3 idas e voltas "
        "simples + 3 SELECTs) %2 ms; razão %3 (meta ≤ 2)"_s.arg(ms(median(screen)), ms(median(floor)))
            .arg(median(floorRatio), 0, 'f', 2));
    print(u"     Qt simples: QSqlQueryModel %1 ms, razão tela/simples %2; QStandardItemModel %3 ms, razão %4 "
          "(meta ≤ 0,5)"_s.arg(ms(median(plainQuery)))
              .arg(median(queryRatio), 0, 'f', 2)
              .arg(ms(median(plainStandard)))
              .arg(median(standardRatio), 0, 'f', 2));

    // The unit's operators have the least hash so far; a site's have the
    // interactive one, and each screen's connection logs in with it.
    const QString name =
        Sql::scalar(m_direct->db(), u"SELECT NMOPERADOR FROM OPERADOR WHERE CDOPERADOR = ?"_s, {m_firstOperator})
            .toString();
    const auto setCost = [&](const PasswordHash::Cost &cost) {
        Admin::addOperator(m_direct->db(), m_firstOperator, name, unitCode, password, cost);
    };
    setCost(PasswordHash::Cost::interactive());
    const auto leastAgain = qScopeGuard([&] { setCost(PasswordHash::Cost::minimal()); });
    QList<double> site;
    for (int r = 0; r < rounds; ++r) {
        site << openClose(*m_screen);
    }
    print(u"     com a senha no custo de um site (Argon2id interativo): primeira %1 ms, mediana %2 ms"_s.arg(
        ms(site.first()), ms(median(site))));
}

void ScreenBench::benchMoving()
{
    if (!timedOpen(*m_screen, *m_watch)) {
        throw EDatabaseError(u"a tela não abriu"_s);
    }
    m_screen->focusProcesses();
    for (int warm = 0; warm < 5; ++warm) {
        moveDown(*m_screen, *m_watch, Qt::Key_Down);
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
    const int rounds = roundCount();
    const int moves = 10;
    std::array<qint64, GridCount> painted{};
    int moved = 0;
    auto moveRound = [&](Subject &subject) {
        std::array<qint64, GridCount> before;
        for (int g = 0; g < GridCount; ++g) {
            before[g] = m_watch->paints(Grid(g));
        }
        struct Count
        {
            std::array<qint64, GridCount> &painted;
            std::array<qint64, GridCount> &before;
            PaintWatch &watch;
            ~Count()
            {
                for (int g = 0; g < GridCount; ++g) {
                    painted[g] += watch.paints(Grid(g)) - before[g];
                }
            }
        } count{painted, before, *m_watch};
        moved += moves;
        double sum = 0;
        for (int i = 0; i < moves; ++i) {
            const std::optional<double> move = moveDown(subject, *m_watch, Qt::Key_Down);
            if (!move) {
                throw EDatabaseError(u"a seta para baixo não mudou de processo"_s);
            }
            sum += *move;
        }
        return sum / moves;
    };
    QList<double> screen, floor, ratioToFloor, server;
    for (int r = 0; r < rounds; ++r) {
        double floorSum = 0;
        double serverSum = 0;
        for (int i = 0; i < moves; ++i) {
            const int row = m_screen->currentProcessRow() + 1 + i;
            const qint64 process = m_processes.at(qMin(row, int(m_processes.size()) - 1));
            floorSum += baseline(process);
            serverSum += calls(process);
        }
        floor << floorSum / moves;
        server << serverSum / moves;
        screen << moveRound(*m_screen);
        ratioToFloor << screen.last() / floor.last();
    }
    print(u"  b. ir ao processo seguinte (seta para baixo até pintar tarefas e responsáveis): %1 ms; base (2 idas e "
          "voltas simples + 2 SELECTs) %2 ms; razão %3 (meta ≤ 1,5)"_s.arg(ms(median(screen)), ms(median(floor)))
              .arg(median(ratioToFloor), 0, 'f', 2));
    print(u"     as mesmas 2 chamadas pelo servidor real, sem a tela: %1 ms (razão à base %2)"_s.arg(ms(median(server)))
              .arg(median(server) / median(floor), 0, 'f', 2));
    print(u"     pinturas por movimento: processos %1, tarefas %2, responsáveis %3"_s
              .arg(double(painted[Processes]) / moved, 0, 'f', 2)
              .arg(double(painted[Tasks]) / moved, 0, 'f', 2)
              .arg(double(painted[Responsibles]) / moved, 0, 'f', 2));
    // The plain programs, each open alone, the same moves over the same rows.
    m_screen->close();
    QStringList plainText;
    for (const PlainProgram::Model model : {PlainProgram::Model::Query, PlainProgram::Model::Standard}) {
        if (screenOnly()) {
            break;
        }
        std::unique_ptr<PlainProgram> program = plain(model);
        if (!timedOpen(*program, *m_watch)) {
            throw EDatabaseError(program->name() + u" não abriu"_s);
        }
        program->focusProcesses();
        for (int warm = 0; warm < 5; ++warm) {
            moveDown(*program, *m_watch, Qt::Key_Down);
        }
        QList<double> times;
        for (int r = 0; r < rounds; ++r) {
            times << moveRound(*program);
        }
        program->close();
        plainText << u"%1 %2 ms, razão tela/simples %3"_s.arg(
            model == PlainProgram::Model::Query ? u"QSqlQueryModel"_s : u"QStandardItemModel"_s, ms(median(times)),
            ratio(median(screen), median(times)));
    }
    print(u"     Qt simples: %1 (meta ≤ 0,5)"_s.arg(plainText.join(u"; "_s)));
    if (!timedOpen(*m_screen, *m_watch)) {
        throw EDatabaseError(u"a tela não abriu"_s);
    }
    m_screen->focusProcesses();
}

// One step of the processes grid's scroll bar (the current row stays), until
// the viewport painted.
double ScreenBench::scrollBarFrame(QScrollBar *bar, QAbstractSlider::SliderAction action)
{
    m_watch->arm(false);
    QElapsedTimer timer;
    timer.start();
    bar->triggerAction(action);
    if (!waitPainted(*m_watch, {Processes}, m_screen->views())) {
        throw EDatabaseError(u"a grade de processos não foi pintada"_s);
    }
    return microsSince(timer);
}

void ScreenBench::reportFrames(const QString &what, const QList<QList<double>> &rounds)
{
    const FrameStats stats = frameStats(rounds);
    print(
        u"     %1: %2 quadros; mediana %3 ms; pior %4 ms (mediana das rodadas), %5 ms (de todas); acima de 16 ms: %6"_s
            .arg(what)
            .arg(stats.frames)
            .arg(ms(stats.median), ms(stats.worst), ms(stats.worstOfAll))
            .arg(stats.over));
}

void ScreenBench::benchScrolling()
{
    QScrollBar *bar = static_cast<QAbstractScrollArea *>(m_screen->views()[Processes])->verticalScrollBar();
    const int rounds = 3;
    QList<QList<double>> down, pageDown, singleStep, pageStep;
    for (int r = 0; r < rounds; ++r) {
        // Each pass starts on the first process.
        down << pass(*m_screen, *m_watch, Qt::Key_Down);
        pageDown << pass(*m_screen, *m_watch, Qt::Key_PageDown);
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
    m_screen->close();

    // The plain programs, the same passes.
    const FrameStats screenDown = frameStats(down);
    const FrameStats screenPage = frameStats(pageDown);
    for (const PlainProgram::Model model : {PlainProgram::Model::Query, PlainProgram::Model::Standard}) {
        std::unique_ptr<PlainProgram> program = plain(model);
        if (!timedOpen(*program, *m_watch)) {
            throw EDatabaseError(program->name() + u" não abriu"_s);
        }
        program->focusProcesses();
        QList<QList<double>> plainDown, plainPage;
        for (int r = 0; r < rounds; ++r) {
            plainDown << pass(*program, *m_watch, Qt::Key_Down);
            plainPage << pass(*program, *m_watch, Qt::Key_PageDown);
        }
        program->close();
        const FrameStats d = frameStats(plainDown);
        const FrameStats p = frameStats(plainPage);
        print(
            u"     %1: seta para baixo %2 quadros, mediana %3 ms (razão tela/simples %4), pior %5 ms, acima de 16 ms: "
            "%6; PageDown %7 quadros, mediana %8 ms (razão %9), pior %10 ms, acima de 16 ms: %11"_s.arg(program->name())
                .arg(d.frames)
                .arg(ms(d.median), ratio(screenDown.median, d.median), ms(d.worst))
                .arg(d.over)
                .arg(p.frames)
                .arg(ms(p.median), ratio(screenPage.median, p.median), ms(p.worst))
                .arg(p.over));
    }
    if (!timedOpen(*m_screen, *m_watch)) {
        throw EDatabaseError(u"a tela não abriu"_s);
    }
}

// Each program alone in a child process of this one: the host against this
// program's server, the plain ones on the database.
void ScreenBench::benchMemory()
{
    const bool sqlite = m_config.engine == DatabaseConfig::Engine::SQLite;
    auto child = [&](const QString &kind) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QCoreApplication::applicationFilePath(),
                      {u"rss"_s, kind, sqlite ? u"sqlite"_s : u"postgres"_s,
                       sqlite ? m_config.sqliteFile : m_config.pgOptions, QString::number(m_server->port()),
                       m_firstOperator, m_lookupOptions, m_client->deviceToken()});
        // The server answers from this program's event loop.
        QEventLoop loop;
        QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(10 * timeoutMs, &loop, &QEventLoop::quit);
        if (process.state() != QProcess::NotRunning) {
            loop.exec();
        }
        QHash<QString, qint64> kb;
        for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> words = line.split(' ');
            if (words.size() == 3 && words[0] == "RSS") {
                kb.insert(QString::fromLatin1(words[1]), words[2].toLongLong());
            }
        }
        if (process.exitCode() != 0 || kb.size() != 3) {
            throw EDatabaseError(u"memória: o processo filho (%1) falhou"_s.arg(kind));
        }
        return kb;
    };
    const QHash<QString, qint64> screen = child(u"screen"_s);
    const QHash<QString, qint64> query = child(u"query"_s);
    const QHash<QString, qint64> standard = child(u"standard"_s);
    auto mb = [](qint64 kb) { return QString::number(double(kb) / 1024, 'f', 1); };
    print(u"  m. memória residente (VmRSS, cada programa sozinho num processo filho; antes de abrir / aberta / depois "
          "de descer por todos os processos):"_s);
    for (const auto &[name, kb] :
         {std::pair{u"a tela (o host)"_s, screen}, std::pair{u"Qt simples, QSqlQueryModel"_s, query},
          std::pair{u"Qt simples, QStandardItemModel"_s, standard}}) {
        print(u"     %1: %2 / %3 / %4 MB"_s.arg(name, mb(kb.value(u"base"_s)), mb(kb.value(u"open"_s)),
                                                mb(kb.value(u"scrolled"_s))));
    }
    print(u"     razão tela/QSqlQueryModel: aberta %1, depois de rolar %2; tela/QStandardItemModel: aberta %3, depois "
          "de rolar %4 (meta ≤ 1,2)"_s.arg(ratio(screen.value(u"open"_s), query.value(u"open"_s)),
                                           ratio(screen.value(u"scrolled"_s), query.value(u"scrolled"_s)),
                                           ratio(screen.value(u"open"_s), standard.value(u"open"_s)),
                                           ratio(screen.value(u"scrolled"_s), standard.value(u"scrolled"_s))));
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
    // No one answers a box here: an error is printed and counted.
    setErrorDisplay([](const QString &text, QWidget *) { print(u"  erro mostrado pela tela: "_s + text); });
    QStringList parts = QCoreApplication::arguments().mid(1);
    if (parts.value(0) == "rss"_L1) {
        try {
            return memoryChild(parts);
        } catch (const EDatabaseError &e) {
            print(u"  falha: "_s + e.message());
            return 1;
        }
    }
    // The measurements named on the command line (a profile wants one), or all.
    if (parts.isEmpty()) {
        parts = {u"a"_s, u"b"_s, u"c"_s, u"m"_s};
    }
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
