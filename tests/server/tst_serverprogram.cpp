// The program pru_server as an administrator runs it: the administration
// commands, serving clients on a port it reports, the configuration file,
// one line on standard error per start, stop and failure, and a clean stop on
// SIGTERM and SIGINT.

#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include "Database.h"
#include "ServerLog.h"
#include "ServerTestSupport.h"

using namespace ServerTest;

class TestServerProgram : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void administrationCommands();
    void servesUntilSignalled_data();
    void servesUntilSignalled();
    void configurationFile();
    void checkConfig_data();
    void checkConfig();
    void failuresAreReported_data();
    void failuresAreReported();
    void floodedLinesAreCounted();

private:
    struct Result
    {
        int exitCode = -1;
        QString out;
        QString err;
    };
    Result run(const QStringList &args, const QByteArray &input = {});
    // Starts serving with a port file and returns the port it names; the
    // start line goes to startLine.
    quint16 startServing(QProcess &process, const QStringList &args, QString *startLine);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_file;
};

void TestServerProgram::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_file = m_dir->filePath(u"pru.sqlite"_s);
}

TestServerProgram::Result TestServerProgram::run(const QStringList &args, const QByteArray &input)
{
    QProcess process;
    process.start(QStringLiteral(PRU_SERVER_BINARY), args);
    Result result;
    if (!process.waitForStarted(10'000)) {
        return result;
    }
    if (!input.isEmpty()) {
        process.write(input);
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(120'000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

quint16 TestServerProgram::startServing(QProcess &process, const QStringList &args, QString *startLine)
{
    const QString portFile = m_dir->filePath(u"pru_server.port"_s);
    QFile::remove(portFile);
    process.start(QStringLiteral(PRU_SERVER_BINARY), QStringList(args) << u"--port-file"_s << portFile);
    if (!process.waitForStarted(10'000)) {
        return 0;
    }
    // The port file appears whole once the server listens; the start line is
    // written right after it.
    QElapsedTimer timer;
    timer.start();
    QString err;
    QString content;
    while (timer.elapsed() < 60'000 && process.state() != QProcess::NotRunning) {
        QFile file(portFile);
        if (file.open(QIODevice::ReadOnly)) {
            content = QString::fromUtf8(file.readAll());
            break;
        }
        process.waitForReadyRead(100);
        err += QString::fromUtf8(process.readAllStandardError());
    }
    static const QRegularExpression portLine(u"^(\\S+) (\\d+)\n$"_s);
    const QRegularExpressionMatch match = portLine.match(content);
    if (!match.hasMatch()) {
        qWarning("server did not write its port file (\"%s\"): %s", qPrintable(content), qPrintable(err));
        return 0;
    }
    while (!err.contains(u'\n') && timer.elapsed() < 60'000) {
        process.waitForReadyRead(100);
        err += QString::fromUtf8(process.readAllStandardError());
    }
    *startLine = err.section(u'\n', 0, 0);
    return quint16(match.captured(2).toUInt());
}

void TestServerProgram::administrationCommands()
{
    QCOMPARE(run({u"--version"_s}).out, u"pru_server " PRU_VERSION "\n"_s);
    Result r = run({u"--sqlite"_s, m_file, u"--create-db"_s});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains(u"versão %1"_s.arg(Database::latestVersion())), qPrintable(r.out));

    r = run({u"--sqlite"_s, m_file, u"--add-unit"_s, u"0009"_s, u"--name"_s, u"Loja Sul"_s});
    QCOMPARE(r.exitCode, 0);
    // The password read from standard input never shows on a command line.
    r = run(
        {u"--sqlite"_s, m_file, u"--add-operator"_s, u"CAIXA1"_s, u"--name"_s, u"Caixa Um"_s, u"--unit"_s, u"0009"_s},
        "segredo\n");
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    r = run({u"--sqlite"_s, m_file, u"--demo"_s});
    QVERIFY2(r.exitCode == 1 && r.err.contains(u"falha:"_s), qPrintable(r.err)); // the database already has units

    ScopedConnection connection(DatabaseConfig::sqlite(m_file), u"check"_s);
    QCOMPARE(Sql::scalar(connection.db(), u"SELECT NMOPERADOR FROM OPERADOR WHERE CDOPERADOR = 'CAIXA1'"_s).toString(),
             u"Caixa Um"_s);
    const qint64 process = Sql::insertReturningKey(
        connection.db(),
        u"INSERT INTO PROCESSOFILIAL (CDUNIDADE, NMPROCESSOFILIAL, DTINIVIGENCIA) VALUES ('0009', 'P', ?) RETURNING NRPROCESSOFILIAL"_s,
        {today() - 1});
    Sql::exec(connection.db(),
              u"INSERT INTO PERIENTR (CDPERIENTR, NMPERIENTR, IDTIPODIA) VALUES ('DI', 'Diária', 'D')"_s);
    Sql::exec(
        connection.db(),
        u"INSERT INTO ATIVIDADEFILIAL (NRPROCESSOFILIAL, NMATIVIDADEFILIAL, CDPERIENTR, NRORDENAATIVIDADE) VALUES (?, 'T', 'DI', 1)"_s,
        {process});

    const QString day = ServerClock::today().toString(Qt::ISODate);
    r = run({u"--sqlite"_s, m_file, u"--generate-day"_s, day});
    QVERIFY2(r.exitCode == 0 && r.out.contains(u"1 atividades"_s), qPrintable(r.out + r.err));
    r = run({u"--sqlite"_s, m_file, u"--generate-day"_s, day});
    QVERIFY2(r.exitCode == 0 && r.out.contains(u"já tinha sido gerado"_s), qPrintable(r.out));
    r = run({u"--sqlite"_s, m_file, u"--list-activities"_s, u"hoje"_s});
    QCOMPARE(r.exitCode, 0);
    const QString number = r.out.section(u'\n', 1, 1).section(u'\t', 0, 0);
    QVERIFY2(!number.isEmpty(), qPrintable(r.out));
    r = run({u"--sqlite"_s, m_file, u"--mark-executed"_s, number, u"--operator"_s, u"CAIXA1"_s});
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    r = run({u"--sqlite"_s, m_file, u"--list-activities"_s, day});
    QVERIFY2(r.out.contains(u"executada por CAIXA1"_s), qPrintable(r.out));
    r = run({u"--sqlite"_s, m_file, u"--mark-executed"_s, number, u"--operator"_s, u"CAIXA1"_s});
    QVERIFY2(r.exitCode == 1 && r.err.contains(u"já foi executada"_s), qPrintable(r.err));

    // A large unit for measurements, its operators' password on standard input.
    r = run({u"--sqlite"_s, m_file, u"--large-unit"_s, u"0007"_s, u"--processes"_s, u"2"_s, u"--tasks"_s, u"3"_s,
             u"--responsibles"_s, u"2"_s},
            "segredo\n");
    QVERIFY2(r.exitCode == 0 && r.out.contains(u"2 processos, 6 tarefas, 12 responsáveis"_s),
             qPrintable(r.out + r.err));
    r = run(
        {u"--sqlite"_s, m_file, u"--large-unit"_s, u"0008"_s, u"--processes"_s, u"muitos"_s, u"--password"_s, u"x"_s});
    QVERIFY2(r.exitCode == 1 && r.err.contains(u"--processes"_s), qPrintable(r.err));
    QVERIFY2(r.err.contains(u"aviso: a senha dada em --password fica visível"_s), qPrintable(r.err));
    QCOMPARE(Sql::scalar(connection.db(), u"SELECT COUNT(*) FROM PROCESSOFILIAL WHERE CDUNIDADE = '0007'"_s).toInt(),
             2);

    // Reference data: a weekly periodicity, a group with a member, the
    // listing, and a periodicity in use that stays.
    r = run({u"--sqlite"_s, m_file, u"--add-periodicity"_s, u"QS"_s, u"--name"_s, u"Quartas e sextas"_s,
             u"--day-kind"_s, u"S"_s, u"--weekdays"_s, u"NNNSNSN"_s});
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    r = run({u"--sqlite"_s, m_file, u"--add-group"_s, u"CA"_s, u"--name"_s, u"Caixas"_s});
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    r = run({u"--sqlite"_s, m_file, u"--add-member"_s, u"CA"_s, u"--operator"_s, u"CAIXA1"_s});
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    r = run({u"--sqlite"_s, m_file, u"--list"_s, u"periodicities"_s});
    QVERIFY2(r.out.contains(u"\nQS\tQuartas e sextas\tS\tNNNSNSN\t\n"_s), qPrintable(r.out));
    r = run({u"--sqlite"_s, m_file, u"--export"_s, u"members"_s});
    QCOMPARE(r.out, u"CDGRUPOPER,CDOPERADOR\r\nCA,CAIXA1\r\n"_s
                        + u"%1,OP0007_01\r\n%1,OP0007_02\r\n"_s.arg(
                            Sql::scalar(connection.db(), u"SELECT CDGRUPOPER FROM GRUPOPER WHERE CDGRUPOPER <> 'CA'"_s)
                                .toString()));
    r = run({u"--sqlite"_s, m_file, u"--remove-periodicity"_s, u"DI"_s});
    QVERIFY2(r.exitCode == 1 && r.err.contains(u"é usada por 7 tarefa(s)"_s), qPrintable(r.err));
    r = run({u"--sqlite"_s, m_file, u"--remove-periodicity"_s, u"QS"_s});
    QVERIFY2(r.exitCode == 0 && r.out.contains(u"Periodicidade QS removida"_s), qPrintable(r.out + r.err));
}

void TestServerProgram::servesUntilSignalled_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("tls");
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("SIGINT") << int(SIGINT) << false;
    QTest::newRow("SIGTERM, over TLS") << int(SIGTERM) << true;
}

void TestServerProgram::servesUntilSignalled()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, tls);
    QCOMPARE(run({u"--sqlite"_s, m_file, u"--demo"_s}).exitCode, 0);
    QProcess server;
    QString line;
    QStringList args{u"--sqlite"_s, m_file, u"--port"_s, u"0"_s};
    const QString data = QStringLiteral(PRU_TEST_DATA_DIR);
    if (tls) {
        args << u"--tls-cert"_s << data + u"/pru-server.crt"_s << u"--tls-key"_s << data + u"/pru-server.key"_s;
    }
    const quint16 port = startServing(server, args, &line);
    QVERIFY(port != 0);
    if (tls) {
        // TLS 1.2 with forward secrecy and authenticated encryption is served;
        // CBC suites are not (RSA key exchange cannot even be named with this EC key).
        const auto handshakes = [port](const QStringList &ciphers) {
            QSslSocket socket;
            QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
            configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
            configuration.setProtocol(QSsl::TlsV1_2);
            configuration.setCiphers(ciphers.join(u':'));
            socket.setSslConfiguration(configuration);
            socket.connectToHostEncrypted(u"127.0.0.1"_s, port);
            return socket.waitForEncrypted(10'000);
        };
        QVERIFY(handshakes({u"ECDHE-ECDSA-AES128-GCM-SHA256"_s}));
        QVERIFY(handshakes({u"ECDHE-ECDSA-CHACHA20-POLY1305"_s}));
        QVERIFY(!handshakes({u"ECDHE-ECDSA-AES128-SHA"_s, u"ECDHE-ECDSA-AES256-SHA384"_s}));
    }
    // The start line says which version runs, as --version and the packages do.
    QVERIFY2(line.startsWith(u"pru_server: iniciado: "_s)
                 && line.contains(u"PRU87000.rdmProcessoUnidade versão " PRU_VERSION " em"_s)
                 && line.contains(u":%1,"_s.arg(port)),
             qPrintable(line));

    if (!tls) {
        Client client;
        QString error;
        QVERIFY2(client.open(port, u"SUPERVISOR"_s, u"senha"_s, &error), qPrintable(error));
        const DataPacket processes = dataOf(client.call(u"GetProcessos"_s));
        QCOMPARE(processes.rows.size(), 5);
    }

    ::kill(pid_t(server.processId()), signalNumber);
    QVERIFY(server.waitForFinished(30'000));
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);
    const QString err = QString::fromUtf8(server.readAllStandardError());
    QVERIFY2(err.contains(u"pru_server: encerrado"_s), qPrintable(err));
    QCOMPARE(err.count(u'\n'), 1); // one line for the stop; the start line was read before
    QVERIFY(!QFile::exists(m_dir->filePath(u"pru_server.port"_s)));
}

void TestServerProgram::configurationFile()
{
    const QString ini = m_dir->filePath(u"pru_server.ini"_s);
    {
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("[server]\naddress=127.0.0.1\nport=0\n[database]\nsqlite=%1\n").arg(m_file).toUtf8());
    }
    QProcess server;
    QString line;
    const quint16 port = startServing(server, {u"--config"_s, ini}, &line);
    QVERIFY(port != 0);
    QVERIFY2(line.contains(m_file), qPrintable(line));
    // Created and migrated on the first start.
    {
        ScopedConnection connection(DatabaseConfig::sqlite(m_file), u"check"_s);
        QCOMPARE(Database::schemaVersion(connection.db()), Database::latestVersion());
        // Today is generated when the server starts, before any client.
        QVERIFY(
            Sql::scalar(connection.db(), u"SELECT 1 FROM GERACAOATIVIDADE WHERE DTATIVIDADE = ?"_s, {qint64(today())})
                .isValid());
    }
    server.terminate();
    QVERIFY(server.waitForFinished(30'000));
    QCOMPARE(server.exitCode(), 0);
}

void TestServerProgram::checkConfig_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("tls");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expected");
    QTest::newRow("accepted") << u"address=127.0.0.1\nport=8787"_s << QString() << 0
                              << u"configuração aceita: 127.0.0.1:8787, SQLite "_s;
    QTest::newRow("plain on every address")
        << u"address=0.0.0.0"_s << QString() << 1 << u"sem TLS o servidor só escuta num endereço local (127.0.0.0/8"_s;
    QTest::newRow("plain on another loopback address")
        << u"address=127.4.5.6"_s << QString() << 0 << u"configuração aceita: 127.4.5.6:"_s;
    QTest::newRow("plain on IPv6 loopback") << u"address=::1"_s << QString() << 0 << u"configuração aceita"_s;
    QTest::newRow("plain allowed") << u"address=0.0.0.0\nallowPlain=true"_s << QString() << 0
                                   << u"configuração aceita"_s;
    QTest::newRow("certificate without key")
        << u"address=127.0.0.1"_s << u"certificate=/nao/existe.crt"_s << 1 << u"--tls-cert e --tls-key juntos"_s;
    QTest::newRow("unreadable certificate")
        << u"address=127.0.0.1"_s << u"certificate=/nao/existe.crt\nkey=/nao/existe.key"_s << 1
        << u"Certificado TLS ilegível"_s;
    QTest::newRow("bad port") << u"port=porta"_s << QString() << 1 << u"Porta inválida"_s;
    const QString data = QStringLiteral(PRU_TEST_DATA_DIR);
    QTest::newRow("TLS key and certificate")
        << u"address=0.0.0.0"_s << u"certificate=%1/pru-server.crt\nkey=%1/pru-server.key"_s.arg(data) << 0
        << u"configuração aceita"_s;
    QTest::newRow("key of another certificate")
        << u"address=0.0.0.0"_s << u"certificate=%1/other-server.crt\nkey=%1/pru-server.key"_s.arg(data) << 1
        << u"não pertence ao certificado"_s;
}

// What a start would refuse, refused without opening the database or the port.
void TestServerProgram::checkConfig()
{
    QFETCH(QString, server);
    QFETCH(QString, tls);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);
    const QString ini = m_dir->filePath(u"pru_server.conf"_s);
    {
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(u"[server]\n%1\n[database]\nsqlite=%2\n[tls]\n%3\n"_s.arg(server, m_file, tls).toUtf8());
    }
    const Result r = run({u"--config"_s, ini, u"--check-config"_s});
    QVERIFY2(r.exitCode == exitCode, qPrintable(r.out + r.err));
    QVERIFY2((r.out + r.err).contains(expected), qPrintable(r.out + r.err));
    QVERIFY(!QFile::exists(m_file));
}

void TestServerProgram::failuresAreReported_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected");
    QTest::newRow("bad port") << QStringList{u"--port"_s, u"porta"_s} << u"Porta inválida"_s;
    QTest::newRow("bad address") << QStringList{u"--address"_s, u"não.é.endereço"_s} << u"Endereço inválido"_s;
    QTest::newRow("missing config") << QStringList{u"--config"_s, u"/nao/existe.ini"_s}
                                    << u"configuração não encontrado"_s;
    QTest::newRow("unwritable database") << QStringList{u"--sqlite"_s, u"/nao/existe/pru.sqlite"_s}
                                         << u"banco de dados"_s;
    QTest::newRow("operator of an unknown unit")
        << QStringList{u"--add-operator"_s, u"X"_s, u"--name"_s, u"X"_s, u"--unit"_s, u"9999"_s}
        << u"A unidade 9999 não existe"_s;
    QTest::newRow("periodicity of an unknown kind")
        << QStringList{u"--add-periodicity"_s, u"XX"_s, u"--name"_s, u"X"_s, u"--day-kind"_s, u"Q"_s} << u"IDTIPODIA"_s;
    QTest::newRow("weekly periodicity without its days")
        << QStringList{u"--add-periodicity"_s, u"XX"_s, u"--name"_s, u"X"_s, u"--day-kind"_s, u"S"_s}
        << u"IDDIASSEMANA"_s;
    QTest::newRow("periodicity without a kind")
        << QStringList{u"--add-periodicity"_s, u"XX"_s, u"--name"_s, u"X"_s} << u"--add-periodicity pede --day-kind"_s;
    QTest::newRow("member of an unknown group")
        << QStringList{u"--add-member"_s, u"ZZ"_s, u"--operator"_s, u"X"_s} << u"O grupo ZZ não existe"_s;
    QTest::newRow("unknown unit removed")
        << QStringList{u"--remove-unit"_s, u"0099"_s} << u"A unidade 0099 não existe"_s;
    QTest::newRow("import of an unknown kind")
        << QStringList{u"--import"_s, u"lojas"_s, u"--file"_s, u"x.csv"_s} << u"Tipo de cadastro desconhecido"_s;
    QTest::newRow("import of a missing file")
        << QStringList{u"--import"_s, u"units"_s, u"--file"_s, u"/nao/existe.csv"_s}
        << u"Não foi possível ler /nao/existe.csv"_s;
    QTest::newRow("stray argument") << QStringList{u"servir"_s} << u"argumento inesperado"_s;
    QTest::newRow("unwritable port file")
        << QStringList{u"--port"_s, u"0"_s, u"--port-file"_s, u"/nao/existe/pru.port"_s} << u"arquivo de porta"_s;
    // "@kind": a database file the test makes first; the server must not serve it.
    const auto serving = [](const QString &kind) { return QStringList{u"--sqlite"_s, kind, u"--port"_s, u"0"_s}; };
    QTest::newRow("not a database") << serving(u"@text"_s) << u"não é um banco de dados SQLite"_s;
    QTest::newRow("damaged database") << serving(u"@damaged"_s) << u"está danificado"_s;
    QTest::newRow("another program's database") << serving(u"@foreign"_s) << u"tabelas de outro programa (CLIENTES"_s;
    QTest::newRow("newer schema") << serving(u"@newer"_s) << u"versão 99 do esquema, mais nova"_s;
}

void TestServerProgram::failuresAreReported()
{
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    if (!args.contains(u"--sqlite"_s) && !args.contains(u"--config"_s)) {
        args << u"--sqlite"_s << m_file;
    }
    // A password, where a row needs one, from the environment: no warning line.
    qputenv("PRU_PASSWORD", "p");
    const auto unset = qScopeGuard([] { qunsetenv("PRU_PASSWORD"); });
    const qsizetype made = args.indexOf(QRegularExpression(u"@.*"_s));
    if (made >= 0) {
        const QString kind = std::exchange(args[made], m_file);
        if (kind == u"@text"_s) {
            QFile file(m_file);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(8192, 'x'));
        } else if (kind == u"@foreign"_s) {
            {
                QSqlDatabase other = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"foreign"_s);
                other.setDatabaseName(m_file);
                QVERIFY(other.open() && QSqlQuery(other).exec(u"CREATE TABLE CLIENTES (ID INTEGER)"_s));
            }
            QSqlDatabase::removeDatabase(u"foreign"_s);
        } else {
            QCOMPARE(run({u"--sqlite"_s, m_file, u"--demo"_s}).exitCode, 0);
            if (kind == u"@damaged"_s) {
                QFile file(m_file);
                QVERIFY(file.open(QIODevice::ReadWrite) && file.size() > 3 * 4096);
                file.seek(2 * 4096);
                file.write(QByteArray(4096, '\xff'));
            } else {
                ScopedConnection direct(DatabaseConfig::sqlite(m_file), u"prepare"_s);
                QVERIFY(
                    QSqlQuery(direct.db()).exec(u"INSERT INTO VERSAOESQUEMA (NRVERSAO, DTAPLICACAO) VALUES (99, 0)"_s));
            }
        }
    }
    const Result r = run(args);
    QVERIFY2(r.exitCode != 0, qPrintable(r.err));
    QVERIFY2(r.err.startsWith(u"pru_server: falha: "_s), qPrintable(r.err));
    QVERIFY2(r.err.contains(expected), qPrintable(r.err));
    QCOMPARE(r.err.count(u'\n'), 1);
}

void TestServerProgram::floodedLinesAreCounted()
{
    LogThrottle throttle;
    qint64 omitted = -1;
    int written = 0;
    for (int i = 0; i < LogThrottle::linesPerWindow + 150; ++i) {
        written += throttle.admit(u"pru.rpc"_s, 1000 + i, &omitted) ? 1 : 0;
        QCOMPARE(omitted, 0);
    }
    QCOMPARE(written, LogThrottle::linesPerWindow);
    // Another category has a window of its own.
    QVERIFY(throttle.admit(u"pru.sql"_s, 2000, &omitted));
    // The next window writes again, after the count of what was left out.
    QVERIFY(throttle.admit(u"pru.rpc"_s, 1000 + LogThrottle::windowMs, &omitted));
    QCOMPARE(omitted, 150);
    QVERIFY(throttle.admit(u"pru.rpc"_s, 1001 + LogThrottle::windowMs, &omitted));
    QCOMPARE(omitted, 0);
}

QTEST_GUILESS_MAIN(TestServerProgram)
#include "tst_serverprogram.moc"
