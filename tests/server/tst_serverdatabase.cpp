// The server's own pieces below the wire: schema migrations on each engine,
// what the lookups rely on, password hashes, recurrences, the catalogue and
// the PostgreSQL connection options, and the reference data a site imports.

#include <QSqlRecord>
#include <QTest>

#include "Activities.h"
#include "Catalogue.h"
#include "PasswordHash.h"
#include "ReferenceData.h"
#include "ServerTestSupport.h"

using namespace ServerTest;

class TestServerDatabase : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        m_connection.reset();
        m_database.reset();
    }

    void migrationsAreRepeatable_data() { engineRows(); }
    void migrationsAreRepeatable();
    void lookupColumns_data() { engineRows(); }
    void lookupColumns();
    void credentialsKeptApart_data() { engineRows(); }
    void credentialsKeptApart();
    void demoData_data() { engineRows(); }
    void demoData();
    void referenceData_data() { engineRows(); }
    void referenceData();
    void referenceRefusals_data();
    void referenceRefusals();

    void pbkdf2KnownAnswers_data();
    void pbkdf2KnownAnswers();
    void passwordVerify();
    void fallsOn_data();
    void fallsOn();
    void catalogueTexts();
    void pgOptions_data();
    void pgOptions();

private:
    // A new database on the current row's engine, and a connection to it as
    // db(); false when the test failed or was skipped for the engine.
    bool openEngine(std::source_location where = std::source_location::current());
    QSqlDatabase &db() { return m_connection->db(); }

    std::unique_ptr<TestDatabase> m_database;
    std::unique_ptr<ScopedConnection> m_connection;
};

bool TestServerDatabase::openEngine(std::source_location where)
{
    QFETCH(QString, engine);
    QString why;
    m_database = TestDatabase::create(engine, &why);
    if (!m_database) {
        return engineUnavailable(engine, why, where);
    }
    m_connection = std::make_unique<ScopedConnection>(m_database->config, u"test"_s);
    return true;
}

void TestServerDatabase::migrationsAreRepeatable()
{
    if (!openEngine()) {
        return;
    }
    QCOMPARE(Database::schemaVersion(db()), 0);
    Database::migrate(db());
    QCOMPARE(Database::schemaVersion(db()), Database::latestVersion());
    Database::migrate(db()); // a second start changes nothing
    QCOMPARE(Database::schemaVersion(db()), Database::latestVersion());
    QCOMPARE(Sql::scalar(db(), u"SELECT COUNT(*) FROM VERSAOESQUEMA"_s).toInt(), Database::latestVersion());
    if (Database::isSQLite(db())) {
        QCOMPARE(Sql::scalar(db(), u"PRAGMA journal_mode"_s).toString(), u"wal"_s);
        QCOMPARE(Sql::scalar(db(), u"PRAGMA foreign_keys"_s).toInt(), 1);
    }
}

void TestServerDatabase::lookupColumns()
{
    if (!openEngine()) {
        return;
    }
    seed(db());
    // The three lookup tables with the columns the screen's queries name.
    QSqlQuery query =
        Sql::exec(db(), u"SELECT CDPERIENTR, NMPERIENTR FROM PERIENTR WHERE IDTIPODIA <> 'R' ORDER BY CDPERIENTR"_s);
    QStringList codes;
    while (query.next()) {
        codes << query.value(0).toString();
    }
    query.finish();
    QCOMPARE(codes, (QStringList{u"DI"_s, u"NU"_s}));
    QCOMPARE(Sql::scalar(db(), u"SELECT NMOPERADOR FROM OPERADOR WHERE CDOPERADOR = 'MARIA'"_s).toString(),
             u"Maria Souza"_s);
    QCOMPARE(Sql::scalar(db(), u"SELECT DSGRUPOPER FROM GRUPOPER WHERE CDGRUPOPER = 'CX'"_s).toString(), u"Caixas"_s);
    if (!Database::isSQLite(db())) {
        // PostgreSQL provides PARAM itself; the lookup text runs as written.
        query = Sql::exec(
            db(),
            u"SELECT\n   CDOPERADOR,\n   NMOPERADOR\nFROM\n   OPERADOR,\n   PARAM(:CDOPERADOR) P,\n"
            "   PARAM(:TCDOPERADOR) P2\nWHERE \n(('T' = P2.PARAM) OR (CDOPERADOR = P.PARAM))\nORDER BY CDOPERADOR"_s,
            {u"MARIA"_s, QString()});
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), u"MARIA"_s);
        QVERIFY(!query.next());
        query.finish();
        QCOMPARE(
            Sql::scalar(
                db(),
                u"SELECT COUNT(*) FROM OPERADOR, PARAM('x') P, PARAM('T') P2 WHERE (('T' = P2.PARAM) OR (CDOPERADOR = P.PARAM))"_s)
                .toInt(),
            3);
    }
}

void TestServerDatabase::credentialsKeptApart()
{
    if (!openEngine()) {
        return;
    }
    seed(db());
    const QStringList columns = [this] {
        QStringList names;
        const QSqlRecord record = db().record(Database::isSQLite(db()) ? u"OPERADOR"_s : u"operador"_s);
        for (int i = 0; i < record.count(); ++i) {
            names << record.fieldName(i).toUpper();
        }
        return names;
    }();
    QCOMPARE(columns, (QStringList{u"CDOPERADOR"_s, u"NMOPERADOR"_s, u"CDUNIDADE"_s}));
    QSqlQuery query =
        Sql::exec(db(), u"SELECT DSSALT, DSHASH, NRITERACOES FROM OPERADORSENHA WHERE CDOPERADOR = 'MARIA'"_s);
    QVERIFY(query.next());
    const PasswordHash::Stored stored =
        PasswordHash::Stored::fromColumns(query.value(0).toString(), query.value(1).toString(), query.value(2).toInt());
    query.finish();
    QVERIFY2(stored.isArgon2id(), stored.hash.constData());
    QVERIFY(PasswordHash::verify(u"segredo"_s, stored));
    QVERIFY(!PasswordHash::verify(u"senha"_s, stored));
}

void TestServerDatabase::demoData()
{
    if (!openEngine()) {
        return;
    }
    Admin::loadDemo(db());
    QCOMPARE(Sql::scalar(db(), u"SELECT COUNT(*) FROM UNIDADE"_s).toInt(), 2);
    QCOMPARE(Sql::scalar(db(), u"SELECT COUNT(*) FROM PERIENTR WHERE IDTIPODIA = 'R'"_s).toInt(), 1);
    QVERIFY(Sql::scalar(db(), u"SELECT COUNT(*) FROM RESPATIVFILIAL"_s).toInt() > 5);
    QCOMPARE(Sql::scalar(db(), u"SELECT COUNT(*) FROM PROCESSOFILIAL WHERE IDSITUACAO = 'N'"_s).toInt(), 1);
    QVERIFY(Sql::scalar(
                db(), u"SELECT COUNT(*) FROM ATIVIDADEDIA WHERE CDOPERCONCL IS NOT NULL AND DTCONCLUSAO IS NOT NULL"_s)
                .toInt()
            > 0);
    QSqlQuery query = Sql::exec(
        db(), u"SELECT s.DSSALT, s.DSHASH, s.NRITERACOES FROM OPERADORSENHA s WHERE s.CDOPERADOR = 'SUPERVISOR'"_s);
    QVERIFY(query.next());
    const PasswordHash::Stored stored =
        PasswordHash::Stored::fromColumns(query.value(0).toString(), query.value(1).toString(), query.value(2).toInt());
    query.finish();
    // A site's hashes take libsodium's interactive memory, not the tests' minimum.
    QVERIFY2(stored.hash.startsWith("$argon2id$v=19$m=65536,"), stored.hash.constData());
    QVERIFY(PasswordHash::verify(u"senha"_s, stored));
    // Loading twice is refused instead of doubling everything.
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, Admin::loadDemo(db()));
}

namespace {
using ReferenceData::Kind;
const QList<std::pair<Kind, QString>> exampleFiles = {{Kind::Units, u"unidades.csv"_s},
                                                      {Kind::Operators, u"operadores.csv"_s},
                                                      {Kind::Groups, u"grupos.csv"_s},
                                                      {Kind::Members, u"membros.csv"_s},
                                                      {Kind::Periodicities, u"periodicidades.csv"_s}};

QByteArray exampleFile(const QString &name)
{
    QFile file(QStringLiteral(PRU_EXAMPLES_DIR "/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void importExamples(QSqlDatabase &db)
{
    for (const auto &[kind, name] : exampleFiles) {
        ReferenceData::importCsv(db, kind, exampleFile(name), name);
    }
}
} // namespace

// The site's example files load as they are and come back out byte for byte;
// what tasks still use cannot be removed.
void TestServerDatabase::referenceData()
{
    if (!openEngine()) {
        return;
    }
    Database::migrate(db());
    importExamples(db());
    for (const auto &[kind, name] : exampleFiles) {
        const QByteArray file = exampleFile(name);
        QVERIFY2(!file.isEmpty(), qPrintable(name));
        QCOMPARE(ReferenceData::exportCsv(db(), kind), file);
    }
    QCOMPARE(Sql::scalar(db(), u"SELECT NRDIAMES FROM PERIENTR WHERE CDPERIENTR = 'FM'"_s).toInt(), 31);
    QVERIFY(Sql::scalar(db(), u"SELECT IDDIASSEMANA FROM PERIENTR WHERE CDPERIENTR = 'DI'"_s).isNull());
    // A second import changes rows in place.
    ReferenceData::importCsv(db(), Kind::Units, "CDUNIDADE,NMUNIDADE\n0001,Loja Centro Nova\n", u"u.csv"_s);
    QCOMPARE(Sql::scalar(db(), u"SELECT NMUNIDADE FROM UNIDADE WHERE CDUNIDADE = '0001'"_s).toString(),
             u"Loja Centro Nova"_s);

    const qint64 process = Sql::insertReturningKey(
        db(),
        u"INSERT INTO PROCESSOFILIAL (CDUNIDADE, NMPROCESSOFILIAL, DTINIVIGENCIA) VALUES ('0001', 'P', 1) RETURNING NRPROCESSOFILIAL"_s,
        {});
    const qint64 task = Sql::insertReturningKey(
        db(),
        u"INSERT INTO ATIVIDADEFILIAL (NRPROCESSOFILIAL, NMATIVIDADEFILIAL, CDPERIENTR, NRORDENAATIVIDADE) VALUES (?, 'T', 'DI', 1) "
        "RETURNING NRATIVIDADEFILIAL"_s,
        {process});
    Sql::exec(
        db(),
        u"INSERT INTO RESPATIVFILIAL (NRATIVIDADEFILIAL, NRPROCESSOFILIAL, CDGRUPOPER, IDEXECUTA, IDVALIDA) VALUES (?, ?, 'CX', 'S', 'N')"_s,
        {task, process});
    Sql::exec(
        db(),
        u"INSERT INTO RESPATIVFILIAL (NRATIVIDADEFILIAL, NRPROCESSOFILIAL, CDOPERADOR, IDEXECUTA, IDVALIDA) VALUES (?, ?, 'MARIA', 'S', 'N')"_s,
        {task, process});
    const QList<std::pair<Kind, QString>> inUse = {{Kind::Periodicities, u"DI"_s},
                                                   {Kind::Groups, u"CX"_s},
                                                   {Kind::Operators, u"MARIA"_s},
                                                   {Kind::Units, u"0001"_s}};
    for (const std::pair<Kind, QString> &use : inUse) {
        const QString said = refusalOf([&] { ReferenceData::remove(db(), use.first, {use.second}); });
        QVERIFY2(said.contains(u"Nada foi removido"_s),
                 qPrintable(ReferenceData::nameOf(use.first) + u' ' + use.second + u": "_s + said));
    }
    QVERIFY_THROWS_EXCEPTION(EDatabaseError,
                             ReferenceData::put(db(), Kind::Periodicities, {u"DI"_s, u"Pedido"_s, u"R"_s}));
    // What nothing uses goes, an operator with its memberships and password.
    Admin::addOperator(db(), u"JOAO"_s, u"João"_s, u"0001"_s, u"x"_s, testCost);
    ReferenceData::remove(db(), Kind::Operators, {u"JOAO"_s});
    QCOMPARE(Sql::scalar(db(), u"SELECT COUNT(*) FROM GRUPOPEROPER WHERE CDOPERADOR = 'JOAO'"_s).toInt(), 0);
    QCOMPARE(Sql::scalar(db(), u"SELECT COUNT(*) FROM OPERADORSENHA WHERE CDOPERADOR = 'JOAO'"_s).toInt(), 0);
    ReferenceData::remove(db(), Kind::Periodicities, {u"RQ"_s});
    ReferenceData::remove(db(), Kind::Members, {u"GE"_s, u"GERENTE"_s});
    ReferenceData::remove(db(), Kind::Groups, {u"GE"_s});
    const QList<QStringList> groups = {{u"CX"_s, u"Operadores de caixa"_s}};
    QCOMPARE(ReferenceData::rows(db(), Kind::Groups), groups);
}

// A bad file is refused at its first bad row, naming line and column, and
// nothing of it is written, even the good rows before.
void TestServerDatabase::referenceRefusals_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QString>("expected");
    const QByteArray good = "CDPERIENTR,NMPERIENTR,IDTIPODIA,IDDIASSEMANA,NRDIAMES\r\nQA,Quartas,S,NNNSNNN,\r\n";
    const struct
    {
        const char *name;
        Kind kind;
        QByteArray csv;
        QString expected;
    } cases[] = {
        {"unknown day kind", Kind::Periodicities, good + "QB,Quinzenal,Q,,\r\n", u"linha 3, coluna IDTIPODIA"_s},
        {"six weekdays", Kind::Periodicities, good + "QB,Seis,S,NSNNNN,\r\n", u"linha 3, coluna IDDIASSEMANA"_s},
        {"weekday other than S/N", Kind::Periodicities, good + "QB,Letra,S,NSNNNNX,\r\n",
         u"linha 3, coluna IDDIASSEMANA"_s},
        {"weekdays without a weekly kind", Kind::Periodicities, good + "QB,Dia,D,NSNNNNN,\r\n",
         u"coluna IDDIASSEMANA"_s},
        {"day of month 0", Kind::Periodicities, good + "QB,Zero,M,,0\r\n", u"linha 3, coluna NRDIAMES"_s},
        {"day of month 32", Kind::Periodicities, good + "QB,Trinta e dois,M,,32\r\n", u"linha 3, coluna NRDIAMES"_s},
        {"day of month not a number", Kind::Periodicities, good + "QB,Texto,M,,dez\r\n", u"linha 3, coluna NRDIAMES"_s},
        {"name too long", Kind::Periodicities, good + "QB,Um nome longo demais para caber,D,,\r\n",
         u"linha 3, coluna NMPERIENTR"_s},
        {"quoted line break counts lines", Kind::Periodicities, good + "QB,\"Duas\nlinhas\",D,,\r\nQC,,D,,\r\n",
         u"linha 5, coluna NMPERIENTR"_s},
        {"key twice", Kind::Periodicities, good + "QA,De novo,D,,\r\n", u"já veio na linha 2"_s},
        {"unknown column", Kind::Periodicities, "CDPERIENTR,NMPERIENTR,IDTIPODIA,COR\r\n", u"linha 1, coluna COR"_s},
        {"missing column", Kind::Periodicities, "CDPERIENTR,NMPERIENTR\r\nQB,Sem tipo\r\n",
         u"linha 1, coluna IDTIPODIA"_s},
        {"short row", Kind::Periodicities, good + "QB,Curta\r\n", u"linha 3: a linha tem 2 campo(s)"_s},
        {"not UTF-8", Kind::Periodicities, good + "QB,Di\xe1ria,D,,\r\n", u"linha 3: o arquivo não está em UTF-8"_s},
        {"quote left open", Kind::Periodicities, good + "QB,\"Aberta,D,,\r\n", u"linha 3: aspas abertas"_s},
        {"operator of an unknown unit", Kind::Operators,
         "CDOPERADOR,NMOPERADOR,CDUNIDADE\nANA,Ana,0001\nBIA,Bia,0099\n",
         u"linha 3, coluna CDUNIDADE: A unidade 0099 não existe"_s},
        {"member of an unknown group", Kind::Members, "CDGRUPOPER,CDOPERADOR\nCX,MARIA\nZZ,MARIA\n",
         u"linha 3, coluna CDGRUPOPER"_s},
        {"unit code too long", Kind::Units, "CDUNIDADE,NMUNIDADE\n0009,Nova\n00010,Longa\n",
         u"linha 3, coluna CDUNIDADE"_s},
    };
    for (const char *engine : {"sqlite", "postgresql"}) {
        for (const auto &c : cases) {
            QTest::addRow("%s: %s", engine, c.name)
                << QString::fromLatin1(engine) << int(c.kind) << c.csv << c.expected;
        }
    }
}

void TestServerDatabase::referenceRefusals()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, csv);
    QFETCH(QString, expected);
    if (!openEngine()) {
        return;
    }
    Database::migrate(db());
    importExamples(db());
    const auto before = ReferenceData::rows(db(), Kind(kind));
    const QString said = refusalOf([&] { ReferenceData::importCsv(db(), Kind(kind), csv, u"ruim.csv"_s); });
    QVERIFY2(said.startsWith(u"ruim.csv, "_s) && said.contains(expected)
                 && said.endsWith(u"Nada do arquivo foi gravado."_s),
             qPrintable(said));
    QCOMPARE(ReferenceData::rows(db(), Kind(kind)), before);
}

void TestServerDatabase::pbkdf2KnownAnswers_data()
{
    // Published PBKDF2-HMAC-SHA256 test vectors.
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("salt");
    QTest::addColumn<int>("iterations");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("c=1") << QByteArray("password") << QByteArray("salt") << 1 << 32
                         << QByteArray::fromHex("120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b");
    QTest::newRow("c=2") << QByteArray("password") << QByteArray("salt") << 2 << 32
                         << QByteArray::fromHex("ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43");
    QTest::newRow("c=4096") << QByteArray("password") << QByteArray("salt") << 4096 << 32
                            << QByteArray::fromHex("c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a");
    QTest::newRow("two blocks")
        << QByteArray("passwordPASSWORDpassword") << QByteArray("saltSALTsaltSALTsaltSALTsaltSALTsalt") << 4096 << 40
        << QByteArray::fromHex("348c89dbcbd32b2f32d814b8116e84cf2b17347ebc1800181c4e2a1fb8dd53e1c635518c7dac47e9");
}

void TestServerDatabase::pbkdf2KnownAnswers()
{
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, salt);
    QFETCH(int, iterations);
    QFETCH(int, length);
    QFETCH(QByteArray, expected);
    QCOMPARE(PasswordHash::pbkdf2Sha256(password, salt, iterations, length).toHex(), expected.toHex());
}

void TestServerDatabase::passwordVerify()
{
    const PasswordHash::Stored a = PasswordHash::make(u"Çedilha ção"_s, PasswordHash::Cost::minimal());
    const PasswordHash::Stored b = PasswordHash::make(u"Çedilha ção"_s, PasswordHash::Cost::minimal());
    QVERIFY(a.isArgon2id());
    QVERIFY(a.hash != b.hash); // a salt of its own each time
    QVERIFY(PasswordHash::verify(u"Çedilha ção"_s, a));
    QVERIFY(!PasswordHash::verify(u"Cedilha cao"_s, a));
    QVERIFY(!PasswordHash::verify(QString(), a));
    QVERIFY(!PasswordHash::needsRehash(a));
    // Through the columns and back, as the database keeps it.
    const PasswordHash::Stored read = PasswordHash::Stored::fromColumns(a.saltColumn(), a.hashColumn(), a.iterations);
    QVERIFY(PasswordHash::verify(u"Çedilha ção"_s, read));
    PasswordHash::Stored cut = a;
    cut.hash.chop(4);
    QVERIFY(!PasswordHash::verify(u"Çedilha ção"_s, cut));

    // The earlier form is still read, and asks to be replaced.
    const PasswordHash::Stored legacy = PasswordHash::makeLegacy(u"Çedilha ção"_s, 1000);
    QVERIFY(!legacy.isArgon2id());
    QVERIFY(PasswordHash::needsRehash(legacy));
    QCOMPARE(legacy.salt.size(), PasswordHash::saltBytes);
    QVERIFY(PasswordHash::verify(u"Çedilha ção"_s,
                                 PasswordHash::Stored::fromColumns(legacy.saltColumn(), legacy.hashColumn(), 1000)));
    QVERIFY(!PasswordHash::verify(u"Cedilha cao"_s, legacy));
    PasswordHash::Stored broken = legacy;
    broken.iterations = 0;
    QVERIFY(!PasswordHash::verify(u"Çedilha ção"_s, broken));
    QVERIFY(PasswordHash::constantTimeEquals("abc", "abc"));
    QVERIFY(!PasswordHash::constantTimeEquals("abc", "abd"));
    QVERIFY(!PasswordHash::constantTimeEquals("abc", "ab"));
}

void TestServerDatabase::fallsOn_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("weekDays");
    QTest::addColumn<int>("monthDay");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<bool>("falls");
    const QDate monday(2025, 3, 10);
    QTest::newRow("daily") << u"D"_s << QString() << 0 << monday << true;
    QTest::newRow("working day, Monday") << u"U"_s << QString() << 0 << monday << true;
    QTest::newRow("working day, Friday") << u"U"_s << QString() << 0 << monday.addDays(4) << true;
    QTest::newRow("working day, Saturday") << u"U"_s << QString() << 0 << monday.addDays(5) << false;
    QTest::newRow("weekly on Monday") << u"S"_s << u"NSNNNNN"_s << 0 << monday << true;
    QTest::newRow("weekly on Monday, Tuesday") << u"S"_s << u"NSNNNNN"_s << 0 << monday.addDays(1) << false;
    QTest::newRow("weekly on Sunday") << u"S"_s << u"SNNNNNN"_s << 0 << monday.addDays(6) << true;
    QTest::newRow("weekly, marks too short") << u"S"_s << u"NS"_s << 0 << monday.addDays(6) << false;
    QTest::newRow("monthly on the 10th") << u"M"_s << QString() << 10 << monday << true;
    QTest::newRow("monthly on the 11th") << u"M"_s << QString() << 11 << monday << false;
    QTest::newRow("monthly on the 31st in February") << u"M"_s << QString() << 31 << QDate(2025, 2, 28) << true;
    QTest::newRow("monthly on the 31st, 30 April") << u"M"_s << QString() << 31 << QDate(2025, 4, 30) << true;
    QTest::newRow("monthly on the 31st, 30 May") << u"M"_s << QString() << 31 << QDate(2025, 5, 30) << false;
    QTest::newRow("monthly without a day") << u"M"_s << QString() << 0 << monday << false;
    QTest::newRow("on request never") << u"R"_s << QString() << 0 << monday << false;
    QTest::newRow("unknown kind never") << u"X"_s << QString() << 0 << monday << false;
}

void TestServerDatabase::fallsOn()
{
    QFETCH(QString, kind);
    QFETCH(QString, weekDays);
    QFETCH(int, monthDay);
    QFETCH(QDate, date);
    QFETCH(bool, falls);
    QCOMPARE(Activities::fallsOn(kind, weekDays, monthDay, date), falls);
}

void TestServerDatabase::catalogueTexts()
{
    QCOMPARE(Catalogue::text(u"NmProcessoNull"_s), u"Informe o nome do processo."_s);
    QCOMPARE(Catalogue::text(u"CdGrupoperJaCad"_s), u" Código de grupo de operadores informado já cadastrado"_s);
    QCOMPARE(Catalogue::text(u"Data<Atual"_s), u"Data informada não pode ser menor que a data atual."_s);
    QCOMPARE(Catalogue::text(u"PROC_N_EXC"_s),
             u"O processo não pode ser excluído. O mesmo possui atividades que já foram executadas."_s);
    QVERIFY(!Catalogue::contains(u"proc_n_exc"_s));
}

void TestServerDatabase::pgOptions_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("extra");
    QTest::newRow("plain") << u"host=127.0.0.1 port=5433 user=pru dbname=pru87000 password=x"_s << u"127.0.0.1"_s
                           << 5433 << u"pru"_s << u"pru87000"_s << u"x"_s << QString();
    QTest::newRow("quoted") << u"host=db  password='a b\\'c' dbname=x sslmode=require"_s << u"db"_s << -1 << QString()
                            << u"x"_s << u"a b'c"_s << u"sslmode=require"_s;
}

void TestServerDatabase::pgOptions()
{
    QFETCH(QString, options);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, user);
    QFETCH(QString, database);
    QFETCH(QString, password);
    QFETCH(QString, extra);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_s, u"options"_s);
        Database::applyPgOptions(db, options);
        QCOMPARE(db.hostName(), host);
        QCOMPARE(db.port(), port);
        QCOMPARE(db.userName(), user);
        QCOMPARE(db.databaseName(), database);
        QCOMPARE(db.password(), password);
        QCOMPARE(db.connectOptions(), extra);
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, Database::applyPgOptions(db, u"host"_s));
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, Database::applyPgOptions(db, u"port=abc"_s));
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, Database::applyPgOptions(db, u"password='open"_s));
    }
    QSqlDatabase::removeDatabase(u"options"_s);
    QVERIFY(!DatabaseConfig::postgres(options).describe().contains(u"password"_s));
}

QTEST_GUILESS_MAIN(TestServerDatabase)
#include "tst_serverdatabase.moc"
