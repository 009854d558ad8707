// The operators' credentials out of reach of the screen's lookup connection:
// on SQLite they live in the server's own file beside the database (which the
// lookup connection neither holds nor may attach), login and the admin
// commands work as before on every engine, and a database of the earlier
// layout is moved over at the first start, also when the server is killed
// in the middle of the move.

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSqlError>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>

#include "LookupConnection.h"
#include "ServerTestSupport.h"

using namespace ServerTest;

namespace {

const QString oldCredentialsTable =
    u"CREATE TABLE main.OPERADORSENHA ("
    "CDOPERADOR VARCHAR(12) NOT NULL PRIMARY KEY REFERENCES OPERADOR (CDOPERADOR) ON DELETE CASCADE, "
    "DSSALT VARCHAR(64) NOT NULL, DSHASH VARCHAR(128) NOT NULL, NRITERACOES INTEGER NOT NULL, "
    "DTATUALIZACAO DOUBLE PRECISION)"_s;

// Statements on a plain connection, as an earlier version or another tool
// would run them: nothing attached unless the statements say so.
void onPlainConnection(const QString &file, const QStringList &statements)
{
    const QString name = u"plain"_s;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, name);
        db.setDatabaseName(file);
        QVERIFY(db.open());
        for (const QString &statement : statements) {
            QSqlQuery query(db);
            QVERIFY2(query.exec(statement), qPrintable(statement + u": "_s + query.lastError().text()));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

void removeSqliteFile(const QString &file)
{
    for (const QString &suffix : {u""_s, u"-wal"_s, u"-shm"_s}) {
        QFile::remove(file + suffix);
    }
}

bool fileContains(const QString &file, const QByteArray &text)
{
    for (const QString &suffix : {u""_s, u"-wal"_s}) {
        QFile f(file + suffix);
        if (f.open(QIODevice::ReadOnly) && f.readAll().contains(text)) {
            return true;
        }
    }
    return false;
}

bool tableInMainFile(const QString &file)
{
    bool found = false;
    const QString name = u"peek"_s;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, name);
        db.setDatabaseName(file);
        db.setConnectOptions(u"QSQLITE_OPEN_READONLY"_s);
        if (db.open()) {
            QSqlQuery query(db);
            found = query.exec(u"SELECT 1 FROM sqlite_master WHERE name = 'OPERADORSENHA'"_s) && query.next();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return found;
}

} // namespace

class TestCredentialsFile : public QObject
{
    Q_OBJECT

private slots:
    void lookupCannotReadCredentials_data() { engineRows(); }
    void lookupCannotReadCredentials();
    void earlierLayoutMovedOver_data();
    void earlierLayoutMovedOver();
    void moveSurvivesKill();

private:
    // A SQLite database of the earlier layout (credentials in the main file,
    // MARIA's still PBKDF2), in dir; returns the main file.
    QString makeEarlierLayout(const QTemporaryDir &dir);
    // Runs pru_server over file until it listens; 0 when it did not.
    quint16 serve(QProcess &process, const QString &file);
    void stop(QProcess &process);
    // The real server starts over file (moving its credentials), every
    // seeded operator logs in with its own password only, and the main file
    // keeps no credentials table.
    void startAndLogIn(const QString &file);

    Environment m_env;
    PasswordHash::Stored m_legacy;
};

void TestCredentialsFile::lookupCannotReadCredentials()
{
    if (!startEngine(m_env)) {
        return;
    }
    auto guard = qScopeGuard([this] { m_env.stop(); });
    // Login and the admin commands, whatever file the credentials are in.
    QVERIFY(m_env.login(u"MARIA"_s, u"segredo"_s));
    Admin::addUnit(m_env.db(), u"0003"_s, u"Loja Sul"_s);
    Admin::addOperator(m_env.db(), u"MARIA"_s, u"Maria Souza Lima"_s, u"0003"_s, u"trocada"_s, testCost);
    Admin::addOperator(m_env.db(), u"NOVO"_s, u"Operador Novo"_s, u"0003"_s, u"novo"_s, testCost);
    Admin::addGroup(m_env.db(), u"GE"_s, u"Gerência"_s, {u"NOVO"_s});
    QVERIFY(!m_env.login(u"MARIA"_s, u"segredo"_s));
    QVERIFY(m_env.login(u"MARIA"_s, u"trocada"_s));
    QVERIFY(m_env.login(u"NOVO"_s, u"novo"_s));
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM OPERADORSENHA"_s), 4);
    if (!Database::isSQLite(m_env.db())) {
        // The lookup role's refusal is shown by tst_lookupqueries, which runs
        // the administrator's script over these migrations.
        return;
    }
    // The screen's connection over the file it is given.
    const QString file = m_env.state().config.sqliteFile;
    LookupConnection::open(LookupSettings::parse(u"engine=sqlite file="_s + file));
    auto closeLookup = qScopeGuard([] { LookupConnection::close(); });
    auto runs = [](const QString &sql) {
        QSqlQuery query(LookupConnection::database());
        return query.exec(sql) && query.next();
    };
    QVERIFY(runs(u"SELECT CDOPERADOR, NMOPERADOR FROM OPERADOR WHERE CDOPERADOR = 'NOVO'"_s));
    QVERIFY(runs(u"SELECT CDGRUPOPER FROM GRUPOPER WHERE CDGRUPOPER = 'GE'"_s));
    QVERIFY(runs(u"SELECT CDPERIENTR FROM PERIENTR"_s));
    QVERIFY(!runs(u"SELECT * FROM OPERADORSENHA"_s));
    QVERIFY(!runs(u"SELECT * FROM sqlite_master WHERE sql LIKE '%DSHASH%'"_s));
    QVERIFY(!runs(u"ATTACH DATABASE '%1' AS S"_s.arg(Database::credentialsFile(file))));
    // Nor do the bytes of the file hold a hash.
    QVERIFY(!fileContains(file, "$argon2id$"));
    QVERIFY(fileContains(Database::credentialsFile(file), "$argon2id$"));
    QCOMPARE(QFile::permissions(Database::credentialsFile(file)) & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
             QFileDevice::Permissions());
}

QString TestCredentialsFile::makeEarlierLayout(const QTemporaryDir &dir)
{
    const QString file = dir.filePath(u"anterior.sqlite"_s);
    {
        ScopedConnection connection(DatabaseConfig::sqlite(file), u"earlier"_s);
        seed(connection.db());
        m_legacy = PasswordHash::makeLegacy(u"segredo"_s, 1000);
        Sql::exec(connection.db(),
                  u"UPDATE OPERADORSENHA SET DSSALT = ?, DSHASH = ?, NRITERACOES = ? WHERE CDOPERADOR = 'MARIA'"_s,
                  {m_legacy.saltColumn(), m_legacy.hashColumn(), m_legacy.iterations});
    }
    const QString credentials = Database::credentialsFile(file);
    onPlainConnection(file,
                      {u"ATTACH DATABASE '%1' AS S"_s.arg(credentials), oldCredentialsTable,
                       u"INSERT INTO main.OPERADORSENHA SELECT * FROM S.OPERADORSENHA"_s, u"DETACH DATABASE S"_s});
    removeSqliteFile(credentials);
    return file;
}

quint16 TestCredentialsFile::serve(QProcess &process, const QString &file)
{
    const QString portFile = file + u".port"_s;
    QFile::remove(portFile);
    process.start(QStringLiteral(PRU_SERVER_BINARY),
                  {u"--sqlite"_s, file, u"--port"_s, u"0"_s, u"--port-file"_s, portFile});
    if (!process.waitForStarted(10'000)) {
        return 0;
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 60'000 && process.state() != QProcess::NotRunning) {
        QFile port(portFile);
        if (port.open(QIODevice::ReadOnly)) {
            return quint16(QString::fromUtf8(port.readAll()).section(u' ', 1).trimmed().toUInt());
        }
        process.waitForFinished(50);
    }
    qWarning("pru_server did not listen: %s", process.readAllStandardError().constData());
    return 0;
}

void TestCredentialsFile::stop(QProcess &process)
{
    process.terminate();
    QVERIFY(process.waitForFinished(30'000));
    QCOMPARE(process.exitCode(), 0);
}

void TestCredentialsFile::startAndLogIn(const QString &file)
{
    QProcess process;
    const quint16 port = serve(process, file);
    QVERIFY(port);
    const QList<std::pair<QString, QString>> logins = {
        {u"SUPERVISOR"_s, u"senha"_s}, {u"MARIA"_s, u"segredo"_s}, {u"GERENTE"_s, u"senha"_s}};
    for (const auto &[code, password] : logins) {
        Client right;
        Client wrong;
        QString error;
        QVERIFY2(right.open(port, code, password, &error), qPrintable(code + u": "_s + error));
        QVERIFY(!wrong.open(port, code, password + u"x"_s, &error));
    }
    stop(process);
    QVERIFY(!tableInMainFile(file));
}

void TestCredentialsFile::earlierLayoutMovedOver_data()
{
    // Where an earlier start stopped: before the copy, after a copy that an
    // older password has since made stale, and after the copy but before the
    // main file's table was dropped.
    QTest::addColumn<QString>("leftBehind");
    QTest::newRow("nothing copied") << QString();
    QTest::newRow("stale copy") << u"stale"_s;
    QTest::newRow("copied, not dropped") << u"copied"_s;
}

void TestCredentialsFile::earlierLayoutMovedOver()
{
    QFETCH(QString, leftBehind);
    QTemporaryDir dir;
    const QString file = makeEarlierLayout(dir);
    const QString credentials = Database::credentialsFile(file);
    const QString newTable = u"CREATE TABLE S.OPERADORSENHA (CDOPERADOR VARCHAR(12) NOT NULL PRIMARY KEY, "
                             "DSSALT VARCHAR(64) NOT NULL, DSHASH VARCHAR(128) NOT NULL, NRITERACOES INTEGER NOT NULL, "
                             "DTATUALIZACAO DOUBLE PRECISION)"_s;
    const QString attach = u"ATTACH DATABASE '%1' AS S"_s.arg(credentials);
    if (leftBehind == u"stale") {
        const PasswordHash::Stored old = PasswordHash::makeLegacy(u"velha"_s, 1000);
        onPlainConnection(file, {attach, newTable,
                                 u"INSERT INTO S.OPERADORSENHA VALUES ('MARIA', '%1', '%2', 1000, NULL)"_s.arg(
                                     old.saltColumn(), old.hashColumn()),
                                 u"INSERT INTO S.OPERADORSENHA VALUES ('FANTASMA', '', 'x', 0, NULL)"_s});
    } else if (leftBehind == u"copied") {
        onPlainConnection(file, {attach, newTable, u"INSERT INTO S.OPERADORSENHA SELECT * FROM main.OPERADORSENHA"_s});
    }
    QVERIFY(tableInMainFile(file));
    QVERIFY(fileContains(file, m_legacy.hashColumn().toUtf8()));

    startAndLogIn(file);
    if (QTest::currentTestFailed()) {
        return;
    }
    // Dropped pages are overwritten, not merely freed.
    QVERIFY(!fileContains(file, m_legacy.hashColumn().toUtf8()));
    QVERIFY(!fileContains(file, "$argon2id$"));
    ScopedConnection connection(DatabaseConfig::sqlite(file), u"check"_s);
    // MARIA's PBKDF2 row was rewritten as Argon2id at her login, in the new file.
    QVERIFY(Sql::scalar(connection.db(), u"SELECT DSHASH FROM SENHAS.OPERADORSENHA WHERE CDOPERADOR = 'MARIA'"_s)
                .toString()
                .startsWith(u"$argon2id$"_s));
    QCOMPARE(Sql::scalar(connection.db(), u"SELECT COUNT(*) FROM SENHAS.OPERADORSENHA WHERE CDOPERADOR <> 'FANTASMA'"_s)
                 .toInt(),
             3);
}

void TestCredentialsFile::moveSurvivesKill()
{
    // The server killed at moments spread over its start, the move among
    // them; each restart resumes, and the last one serves every operator.
    QTemporaryDir dir;
    const QString file = makeEarlierLayout(dir);
    for (const int delayMs : {0, 5, 15, 30, 60, 120}) {
        QProcess process;
        process.start(QStringLiteral(PRU_SERVER_BINARY), {u"--sqlite"_s, file, u"--port"_s, u"0"_s});
        QVERIFY(process.waitForStarted(10'000));
        QThread::msleep(delayMs);
        ::kill(pid_t(process.processId()), SIGKILL);
        QVERIFY(process.waitForFinished(10'000));
    }
    startAndLogIn(file);
}

QTEST_GUILESS_MAIN(TestCredentialsFile)
#include "tst_credentialsfile.moc"
