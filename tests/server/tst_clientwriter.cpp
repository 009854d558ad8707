// What a client written from docs/protocol.md alone meets: texts counted in
// characters (an emoji is one), field names without regard to case, refusals
// that say their prefix once, echoed arguments cut at a character with "…",
// the range of whole-number keys; and a password kept in the earlier PBKDF2
// form rehashed to Argon2id at the operator's next login.

#include <QTest>

#include "ServerTestSupport.h"

using namespace ServerTest;

namespace {
const QString emoji = u"😀"_s; // two UTF-16 units, one character

QString times(const QString &text, int count)
{
    return text.repeated(count);
}

// A client that declares wider texts than the screen's, so that the server's
// own count is what refuses them.
QList<FieldDef> widened(QList<FieldDef> fields)
{
    for (FieldDef &field : fields) {
        if (field.type == FieldType::Text) {
            field.size = 8000;
        }
    }
    return fields;
}
} // namespace

class TestClientWriter : public QObject
{
    Q_OBJECT

private slots:
    // Every test runs on each engine.
    void init() { startEngine(m_env); }
    void cleanup() { m_env.stop(); }

    void textsCountedInCharacters_data();
    void textsCountedInCharacters();
    void fieldNamesWithoutCase_data() { engineRows(); }
    void fieldNamesWithoutCase();
    void refusalsAndEchoes_data();
    void refusalsAndEchoes();
    void legacyPasswordRehashedAtLogin_data() { engineRows(); }
    void legacyPasswordRehashedAtLogin();

private:
    Environment m_env;
};

void TestClientWriter::textsCountedInCharacters_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("name"); // process name, 100 characters at most
    QTest::addColumn<QString>("observation"); // task description, 4000 at most
    QTest::addColumn<QString>("refusal"); // empty: accepted
    for (const QString &engine : {u"sqlite"_s, u"postgresql"_s}) {
        const auto row = [&engine](const char *tag) {
            return &QTest::newRow(qPrintable(engine + u'/' + QLatin1StringView(tag)));
        };
        *row("51 emoji name") << engine << times(emoji, 51) << u"x"_s << QString();
        *row("100 emoji name, 4000 emoji observation")
            << engine << times(emoji, 100) << times(emoji, 4000) << QString();
        *row("101 emoji name") << engine << times(emoji, 101) << u"x"_s
                               << u"O campo NMPROCESSOFILIAL aceita no máximo 100 caracteres."_s;
        *row("4001 emoji observation") << engine << u"P"_s << times(emoji, 4001)
                                       << u"O campo DSATIVIDADEFILIAL aceita no máximo 4000 caracteres."_s;
    }
}

void TestClientWriter::textsCountedInCharacters()
{
    QFETCH(QString, name);
    QFETCH(QString, observation);
    QFETCH(QString, refusal);
    auto client = m_env.login();
    QVERIFY(client);
    const QList<FieldDef> p = widened(Fields::processos());
    RpcReply reply =
        client->call(u"SetProcessos"_s, packetArg(inserted(p, {makeRow(p, {{u"NRPROCESSOFILIAL"_s, -1},
                                                                           {u"NMPROCESSOFILIAL"_s, name},
                                                                           {u"DTINIVIGENCIA"_s, today() + 1}})})));
    if (!refusal.isEmpty() && textLength(name) > 100) {
        QCOMPARE(refusalOf(reply), refusal);
        return;
    }
    QVERIFY2(reply.ok, qPrintable(reply.error));
    const double process = reply.value.toDouble();
    const QList<FieldDef> t = widened(Fields::tarefas());
    reply =
        client->call(u"SetTarefas"_s, packetArg(inserted(t, {makeRow(t, {{u"NRATIVIDADEFILIAL"_s, -1},
                                                                         {u"NRPROCESSOFILIAL"_s, process},
                                                                         {u"NMATIVIDADEFILIAL"_s, u"Tarefa"_s},
                                                                         {u"DSATIVIDADEFILIAL"_s, observation}})})));
    if (!refusal.isEmpty()) {
        QCOMPARE(refusalOf(reply), refusal);
        return;
    }
    QVERIFY2(reply.ok, qPrintable(reply.error));
    // Both come back whole.
    const DataPacket processes = dataOf(client->call(u"GetProcessos"_s));
    QCOMPARE(valueOf(processes, 0, u"NMPROCESSOFILIAL"_s).toString(), name);
    const DataPacket tasks = dataOf(client->call(u"GetTarefas"_s, {process}));
    QCOMPARE(valueOf(tasks, 0, u"DSATIVIDADEFILIAL"_s).toString(), observation);
}

void TestClientWriter::fieldNamesWithoutCase()
{
    auto client = m_env.login();
    QVERIFY(client);
    // "NmProcessoFilial": neither the stored case nor all lower case.
    QList<FieldDef> mixed = Fields::processos();
    for (FieldDef &field : mixed) {
        field.name = field.name.left(2) + field.name.mid(2).toLower();
    }
    const RpcReply reply = client->call(
        u"SetProcessos"_s, packetArg(inserted(mixed, {makeRow(mixed, {{u"NRprocessofilial"_s, -1},
                                                                      {u"NMprocessofilial"_s, u"Em minúsculas"_s},
                                                                      {u"DTinivigencia"_s, today() + 1}})})));
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QCOMPARE(m_env.scalar(u"SELECT NMPROCESSOFILIAL FROM PROCESSOFILIAL"_s).toString(), u"Em minúsculas"_s);
    QCOMPARE(m_env.scalar(u"SELECT DTINIVIGENCIA FROM PROCESSOFILIAL"_s).toDouble(), today() + 1);
}

void TestClientWriter::refusalsAndEchoes_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QCborArray>("args");
    QTest::addColumn<QString>("expected"); // the whole text, or its start when it ends in "*"
    for (const QString &engine : {u"sqlite"_s, u"postgresql"_s}) {
        const auto row = [&engine](const char *tag) {
            return &QTest::newRow(qPrintable(engine + u'/' + QLatin1StringView(tag)));
        };
        *row("refused packet says its prefix once")
            << engine << u"SetTarefas"_s << QCborArray{QCborValue(QByteArray("\xa0", 1))}
            << u"SetTarefas: Pacote de alterações inválido: *"_s;
        *row("echo cut at a character, marked")
            << engine << u"GetAtividades"_s << QCborArray{times(emoji, 45)}
            << u"GetAtividades: o argumento 1 (número do processo) deve ser um número inteiro escrito em texto; recebido \"%1…\"."_s
                   .arg(times(emoji, 40));
        *row("echo of 40 characters, whole")
            << engine << u"GetAtividades"_s << QCborArray{times(u"ç"_s, 40)}
            << u"GetAtividades: o argumento 1 (número do processo) deve ser um número inteiro escrito em texto; recebido \"%1\"."_s
                   .arg(times(u"ç"_s, 40));
        *row("key past 2^53") << engine << u"GetAtividades"_s << QCborArray{u"9007199254740993"_s}
                              << u"*passa de ±9007199254740992*"_s;
        *row("key of 17 digits") << engine << u"SetAtividades"_s << QCborArray{u"-10000000000000000"_s}
                                 << u"*passa de ±9007199254740992; recebido \"-10000000000000000\"."_s;
        *row("number key past 2^53") << engine << u"GetTarefas"_s << QCborArray{9007199254740994.0}
                                     << u"*deve ser um número inteiro."_s;
    }
}

void TestClientWriter::refusalsAndEchoes()
{
    QFETCH(QString, method);
    QFETCH(QCborArray, args);
    QFETCH(QString, expected);
    auto client = m_env.login();
    QVERIFY(client);
    const RpcReply reply = client->call(method, args);
    QVERIFY(!reply.ok);
    QVERIFY2(!reply.error.contains(QChar::ReplacementCharacter), qPrintable(reply.error));
    QVERIFY2(wellFormedTextLength(reply.error) >= 0, "a character was split in two");
    QVERIFY2(reply.error.count(u"nválido:"_s) <= 1, qPrintable(reply.error));
    if (expected.startsWith(u'*') && expected.endsWith(u'*')) {
        QVERIFY2(reply.error.contains(expected.mid(1, expected.size() - 2)), qPrintable(reply.error));
    } else if (expected.startsWith(u'*')) {
        QVERIFY2(reply.error.endsWith(expected.mid(1)), qPrintable(reply.error));
    } else if (expected.endsWith(u'*')) {
        QVERIFY2(reply.error.startsWith(expected.chopped(1)), qPrintable(reply.error));
    } else {
        QCOMPARE(reply.error, expected);
    }
    // The largest key in range is still a key, and leading zeros count for nothing.
    QVERIFY(client->call(u"GetAtividades"_s, {u"9007199254740992"_s}).ok);
    QVERIFY(client->call(u"GetAtividades"_s, {u"00000000000000001"_s}).ok);
    QVERIFY(client->call(u"GetAtividades"_s, {u"-0009007199254740992"_s}).ok);
}

void TestClientWriter::legacyPasswordRehashedAtLogin()
{
    // MARIA's password as an earlier version stored it.
    const PasswordHash::Stored legacy = PasswordHash::makeLegacy(u"segredo"_s, 1000);
    Sql::exec(m_env.db(),
              u"UPDATE OPERADORSENHA SET DSSALT = ?, DSHASH = ?, NRITERACOES = ? WHERE CDOPERADOR = 'MARIA'"_s,
              {legacy.saltColumn(), legacy.hashColumn(), legacy.iterations});
    QVERIFY(!m_env.login(u"MARIA"_s, u"errada"_s));
    QCOMPARE(m_env.scalar(u"SELECT DSHASH FROM OPERADORSENHA WHERE CDOPERADOR = 'MARIA'"_s).toString(),
             legacy.hashColumn());

    QVERIFY(m_env.login(u"MARIA"_s, u"segredo"_s));
    QSqlQuery query =
        Sql::exec(m_env.db(), u"SELECT DSSALT, DSHASH, NRITERACOES FROM OPERADORSENHA WHERE CDOPERADOR = 'MARIA'"_s);
    QVERIFY(query.next());
    const PasswordHash::Stored stored =
        PasswordHash::Stored::fromColumns(query.value(0).toString(), query.value(1).toString(), query.value(2).toInt());
    query.finish();
    QVERIFY2(stored.isArgon2id(), stored.hash.constData());
    QCOMPARE(stored.iterations, 0);
    // The same password still opens the session, now against the new hash.
    QVERIFY(m_env.login(u"MARIA"_s, u"segredo"_s));
    QVERIFY(!m_env.login(u"MARIA"_s, u"errada"_s));
}

QTEST_GUILESS_MAIN(TestClientWriter)
#include "tst_clientwriter.moc"
