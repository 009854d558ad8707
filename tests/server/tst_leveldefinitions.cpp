// One description per level holds client and server together: the screen's
// record sets, built from their definitions as the screen builds them, against
// what the real server sends over the wire; the server's refusal of a text one
// character over its size; and the database's columns against the same
// definitions. On SQLite always, on PostgreSQL when a server is given.

#include <QTest>

#include "SchemaCheck.h"
#include "ServerTestSupport.h"
#include "TClientDataSet.h"
#include "TField.h"

using namespace ServerTest;
using RecordSetDefinitions::Definition;

class TestLevelDefinitions : public QObject
{
    Q_OBJECT

private slots:
    // Every test runs on each engine.
    void init() { startEngine(m_env); }
    void cleanup() { m_env.stop(); }
    void screenFieldsAreWhatTheServerSends_data();
    void screenFieldsAreWhatTheServerSends();
    void textOneOverItsSizeIsRefused_data();
    void textOneOverItsSizeIsRefused();
    void schemaHoldsTheDefinitions_data();
    void schemaHoldsTheDefinitions();

private:
    Environment m_env;
};

namespace {

QString describe(const FieldDef &f)
{
    return u"%1 %2(%3)"_s.arg(f.name, enumName(fieldTypeNames, f.type).wire).arg(f.size);
}

const FieldDef *findField(const QList<FieldDef> &fields, const QString &name)
{
    for (const FieldDef &f : fields) {
        if (f.name == name) {
            return &f;
        }
    }
    return nullptr;
}

struct Keys
{
    qint64 process = 0;
    qint64 task = 0;
};

Keys seedLevels(Environment &env)
{
    Keys keys;
    keys.process = env.insertProcess(u"0001"_s, u"Abertura"_s, today());
    keys.task = env.insertTask(keys.process, u"Conferir caixa"_s, u"DI"_s, 1);
    env.insertResponsible(keys.process, keys.task, u"MARIA"_s, QString());
    return keys;
}

} // namespace

void TestLevelDefinitions::screenFieldsAreWhatTheServerSends_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("recordSet");
    QTest::addColumn<QString>("method");
    // cdsVdOperadores is filled from cdsOperadores's packet: it keeps only some of its fields.
    QTest::addColumn<bool>("subset");
    for (const QString &engine : {u"sqlite"_s, u"postgresql"_s}) {
        const auto row = [&](const char *recordSet, const char *method, bool subset) {
            QTest::addRow("%s %s", qPrintable(engine), recordSet)
                << engine << QString::fromLatin1(recordSet) << QString::fromLatin1(method) << subset;
        };
        row("cdsProcessos", "GetProcessos", false);
        row("cdsTarefas", "GetTarefas", false);
        row("cdsOperadores", "GetOperadores", false);
        row("cdsVdOperadores", "GetOperadores", true);
        row("cdsAtividades", "GetAtividades", false);
        row("cdsVerifTarefas", "GetVerifTarefas", false);
    }
}

void TestLevelDefinitions::screenFieldsAreWhatTheServerSends()
{
    QFETCH(QString, recordSet);
    QFETCH(QString, method);
    QFETCH(bool, subset);
    const Keys keys = seedLevels(m_env);
    auto client = m_env.login();
    QVERIFY(client);

    QCborArray args;
    if (method == u"GetTarefas"_s) {
        args = {double(keys.process)};
    } else if (method == u"GetOperadores"_s) {
        args = {double(keys.task)};
    } else if (method == u"GetAtividades"_s) {
        args = {QString::number(keys.process)};
    } else if (method == u"GetVerifTarefas"_s) {
        args = {QString::number(keys.process), QString::number(keys.task)};
    }
    const RpcReply reply = client->call(method, args);
    QVERIFY2(reply.ok, qPrintable(reply.error));
    const DataPacket sent = DataPacket::decode(reply.value.toByteArray());

    // The record set exactly as the screen builds it.
    TClientDataSet screen;
    screen.setObjectName(recordSet);
    RecordSetDefinitions::apply(&screen, recordSet);
    QList<FieldDef> screenFields;
    for (const TField *field : screen.Fields()) {
        if (!field->Calculated()) {
            screenFields << field->def();
        }
    }
    for (const FieldDef &field : std::as_const(screenFields)) {
        const FieldDef *got = findField(sent.fields, field.name);
        QVERIFY2(got, qPrintable(u"%1 defines %2; %3 does not send it"_s.arg(recordSet, describe(field), method)));
        QVERIFY2(*got == field,
                 qPrintable(u"%1 defines %2; %3 sends %4"_s.arg(recordSet, describe(field), method, describe(*got))));
    }
    if (!subset) {
        for (const FieldDef &field : sent.fields) {
            QVERIFY2(findField(screenFields, field.name),
                     qPrintable(u"%1 sends %2; %3 does not define it"_s.arg(method, describe(field), recordSet)));
        }
    }
    // And the screen takes the packet as its content.
    screen.SetData(sent);
    QVERIFY(screen.Active());
}

void TestLevelDefinitions::textOneOverItsSizeIsRefused_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("recordSet");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("size");
    // Every text the server saves, from the definitions themselves, so a
    // field added later is covered too.
    for (const QString &engine : {u"sqlite"_s, u"postgresql"_s}) {
        for (const QString &recordSet : {u"cdsProcessos"_s, u"cdsTarefas"_s, u"cdsOperadores"_s}) {
            for (const RecordSetDefinitions::FieldDefinition &f : RecordSetDefinitions::load(recordSet).savedFields()) {
                if (f.type == FieldType::Text) {
                    QTest::addRow("%s %s.%s", qPrintable(engine), qPrintable(recordSet), qPrintable(f.name))
                        << engine << recordSet << f.name << f.size;
                }
            }
        }
    }
}

void TestLevelDefinitions::textOneOverItsSizeIsRefused()
{
    QFETCH(QString, recordSet);
    QFETCH(QString, field);
    QFETCH(int, size);
    const Keys keys = seedLevels(m_env);
    auto client = m_env.login();
    QVERIFY(client);

    // A row the server would take, as the screen sends it, then one field too long.
    const QList<FieldDef> fields = RecordSetDefinitions::load(recordSet).packetFields();
    QVariantMap values;
    QString method;
    QString table;
    if (recordSet == u"cdsProcessos"_s) {
        method = u"SetProcessos"_s;
        table = u"PROCESSOFILIAL"_s;
        values = {{u"NMPROCESSOFILIAL"_s, u"Novo"_s}, {u"DTINIVIGENCIA"_s, today() + 1}};
    } else if (recordSet == u"cdsTarefas"_s) {
        method = u"SetTarefas"_s;
        table = u"ATIVIDADEFILIAL"_s;
        values = {{u"NRPROCESSOFILIAL"_s, double(keys.process)},
                  {u"NMATIVIDADEFILIAL"_s, u"Nova"_s},
                  {u"CDPERIENTR"_s, u"DI"_s},
                  {u"NRORDENAATIVIDADE"_s, 2.0}};
    } else {
        method = u"SetOperadores"_s;
        table = u"RESPATIVFILIAL"_s;
        values = {{u"NRATIVIDADEFILIAL"_s, double(keys.task)},
                  {u"NRPROCESSOFILIAL"_s, double(keys.process)},
                  {u"CDGRUPOPER"_s, u"CX"_s},
                  {u"IDEXECUTA"_s, u"S"_s},
                  {u"IDVALIDA"_s, u"N"_s}};
    }
    const int before = m_env.count(u"SELECT COUNT(*) FROM %1"_s.arg(table));
    const RpcReply fits = client->call(method, packetArg(inserted(fields, {makeRow(fields, values)})));
    QVERIFY2(fits.ok, qPrintable(fits.error));
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM %1"_s.arg(table)), before + 1);

    // The screen's own field would refuse the text: this is a client whose
    // field is wider (forged, or built from another definition).
    QList<FieldDef> wider = fields;
    wider[fieldIndex(wider, field)].size = size + 1;
    values.insert(field, QString(size + 1, u'X'));
    const RpcReply reply = client->call(method, packetArg(inserted(wider, {makeRow(wider, values)})));
    QCOMPARE(refusalOf(reply), u"O campo %1 aceita no máximo %2 caracteres."_s.arg(field).arg(size));
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM %1"_s.arg(table)), before + 1);
}

void TestLevelDefinitions::schemaHoldsTheDefinitions_data()
{
    engineRows();
}

void TestLevelDefinitions::schemaHoldsTheDefinitions()
{
    QCOMPARE(SchemaCheck::differences(m_env.db()), QStringList());

    // A column narrower than its field is named, and the server refuses the database.
    Sql::exec(m_env.db(), u"ALTER TABLE GRUPOPER RENAME COLUMN DSGRUPOPER TO DSGRUPOPER_ANTIGO"_s);
    Sql::exec(m_env.db(), u"ALTER TABLE GRUPOPER ADD COLUMN DSGRUPOPER VARCHAR(29)"_s);
    const QStringList found = SchemaCheck::differences(m_env.db());
    QVERIFY2(found.contains(u"cdsOperadores.DSGRUPOPER (GRUPOPER.DSGRUPOPER): tamanho 29 no banco, 30 na definição"_s),
             qPrintable(found.join(u'\n')));
    QVERIFY_THROWS_EXCEPTION(EServerFailure, SchemaCheck::require(m_env.db()));
}

QTEST_GUILESS_MAIN(TestLevelDefinitions)
#include "tst_leveldefinitions.moc"
