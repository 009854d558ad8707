// The server's dispatch under mutated calls: each input becomes one
// well-formed call frame (a method of the remote module, or a mangled name,
// with arguments and delta packets built from the input's bytes), cut by the
// frame decoder and read by the message parser as a connection reads it, then
// run by a logged-in session of the real remote module over a temporary
// SQLite database. A call must end in a value that travels or a failure with
// a text; a data packet in a reply must decode; another unit's rows must
// never change (triggers refuse any change to them inside the very save that
// tries it); a database error (a rule the save did not check) stops the
// fuzzer, as does any crash or sanitizer finding.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "Admin.h"
#include "Database.h"
#include "DateTime.h"
#include "Exceptions.h"
#include "Fields.h"
#include "RpcWire.h"
#include "Packet.h"
#include "RdmProcessoUnidade.h"
#include "ServerClock.h"
#include "Sql.h"

using namespace Qt::StringLiterals;

namespace {

// Reads the input a piece at a time; past its end every read gives zero.
class Input
{
public:
    Input(const std::uint8_t *data, std::size_t size)
        : m_data(data)
        , m_size(size)
    { }
    std::uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    QByteArray bytes(std::size_t count)
    {
        count = std::min(count, m_size - m_pos);
        QByteArray out(reinterpret_cast<const char *>(m_data + m_pos), qsizetype(count));
        m_pos += count;
        return out;
    }
    QByteArray rest() { return bytes(m_size - m_pos); }
    QString text(int maxLength)
    {
        const int length = byte() % (maxLength + 1);
        // Invalid UTF-8 becomes U+FFFD: the text is still well-formed.
        return QString::fromUtf8(bytes(std::size_t(length)));
    }
    double number()
    {
        double d = 0;
        const QByteArray raw = bytes(sizeof d);
        std::memcpy(&d, raw.constData(), std::size_t(raw.size()));
        return d;
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// Keys of the seeded rows: 0001's processes 1, 2 (ended) and 4 (future), its
// tasks 11, 12, 13; unit 0002's process 3 with task 14 and responsible 23.
const double seededKeys[] = {1, 2, 3, 4, 11, 12, 13, 14, 21, 22, 23, 31, 32, 33, -1, 0, 999};

// A folder in memory when the system has one: the database's writes then
// cost no disk.
QString scratchFolder()
{
    const QString memory = u"/dev/shm"_s;
    return QFileInfo(memory).isDir() && QFileInfo(memory).isWritable() ? memory : QDir::tempPath();
}

struct World
{
    QTemporaryDir folder{scratchFolder() + u"/pru-fuzz-XXXXXX"_s};
    DatabaseConfig config;
    std::unique_ptr<ScopedConnection> direct;
    std::unique_ptr<RdmProcessoUnidade> session;
    QHash<QString, QList<FieldDef>> fields;
    QHash<QString, QList<Row>> rows; // as the session read them, per Set method
    QStringList methods;
    qint64 changes = 0; // the session connection's count of changed rows after the last reset
};

// Rows inserted, changed or removed by the connection so far (SQLite's
// total_changes): an input that changed none needs no reset. The reset runs
// on the session's own connection, so that its cache of the database's pages
// stays valid (a commit by another connection would empty it).
qint64 changedRows(QSqlDatabase &db)
{
    return Sql::scalar(db, u"SELECT total_changes()"_s).toLongLong();
}

// The seeded rows of both units, written once.
void seedRows(QSqlDatabase &db)
{
    const double today = ServerClock::todayDays();
    const double now = ServerClock::nowDays();
    TransactionGuard guard(db);
    const QString process =
        u"INSERT INTO PROCESSOFILIAL (NRPROCESSOFILIAL, CDUNIDADE, NMPROCESSOFILIAL, DTINIVIGENCIA, "
        "DTFINVIGENCIA, CDOPERATU, DTATUALIZACAO, IDSITUACAO) VALUES (?, ?, ?, ?, ?, 'OP0', ?, 'S')"_s;
    Sql::exec(db, process, {1, u"0001"_s, u"Abertura"_s, today - 10, Sql::nullNumber(), now});
    Sql::exec(db, process, {2, u"0001"_s, u"Encerrado"_s, today - 30, today - 1, now});
    Sql::exec(db, process, {4, u"0001"_s, u"Futuro"_s, today + 5, Sql::nullNumber(), now});
    const QString task =
        u"INSERT INTO ATIVIDADEFILIAL (NRATIVIDADEFILIAL, NRPROCESSOFILIAL, NMATIVIDADEFILIAL, CDMODULOATIVIDADE, "
        "CDPERIENTR, DSATIVIDADEFILIAL, NRORDENAATIVIDADE, CDOPERATU, DTATUALIZACAO) VALUES (?, ?, ?, 'MOD', ?, ?, ?, 'OP0', ?)"_s;
    Sql::exec(db, task, {11, 1, u"Conferir caixa"_s, u"DI"_s, u"Nota"_s, 1, now});
    Sql::exec(db, task, {12, 1, u"Repor"_s, u"SG"_s, Sql::nullText(), 2, now});
    Sql::exec(db, task, {13, 2, u"Antiga"_s, u"DI"_s, Sql::nullText(), 1, now});
    const QString responsible =
        u"INSERT INTO RESPATIVFILIAL (NRRESPATIVFILIAL, NRATIVIDADEFILIAL, NRPROCESSOFILIAL, CDOPERADOR, "
        "CDGRUPOPER, IDEXECUTA, IDVALIDA, CDOPERATU, DTATUALIZACAO) VALUES (?, ?, ?, ?, ?, ?, ?, 'OP0', ?)"_s;
    Sql::exec(db, responsible, {21, 11, 1, u"OP0"_s, Sql::nullText(), u"S"_s, u"N"_s, now});
    Sql::exec(db, responsible, {22, 11, 1, Sql::nullText(), u"CX"_s, u"N"_s, u"S"_s, now});
    Sql::exec(db, process, {3, u"0002"_s, u"Outra loja"_s, today - 10, Sql::nullNumber(), now});
    Sql::exec(db, task, {14, 3, u"Alheia"_s, u"DI"_s, Sql::nullText(), 1, now});
    Sql::exec(db, responsible, {23, 14, 3, u"OP9"_s, Sql::nullText(), u"S"_s, u"S"_s, now});
    const double day = double(DateTime::dayNumber(ServerClock::today()));
    const QString occurrence =
        u"INSERT INTO ATIVIDADEDIA (NRATIVIDADEDIA, NRPROCESSOFILIAL, NRATIVIDADEFILIAL, DTATIVIDADE, "
        "CDOPERCONCL, DTCONCLUSAO) VALUES (?, ?, ?, ?, ?, ?)"_s;
    Sql::exec(db, occurrence, {31, 1, 11, day, Sql::nullText(), Sql::nullNumber()});
    Sql::exec(db, occurrence, {32, 1, 11, day - 1, u"OP0"_s, now - 1});
    Sql::exec(db, occurrence, {33, 2, 13, day - 3, Sql::nullText(), Sql::nullNumber()});
    guard.commit();
}

// The tables an input may write, each with the rows of unit 0001 in it: a
// copy of those is kept beside them (FUZZSEED_<table>) and written back after
// every input that committed, one statement a table. The other unit's rows
// (process 3, task 14, responsible 23) are never written again: the triggers
// keep them as they are.
const struct
{
    const char *table;
    const char *firstUnit;
} writable[] = {{"PROCESSOFILIAL", "CDUNIDADE <> '0002'"},
                {"ATIVIDADEFILIAL", "NRPROCESSOFILIAL <> 3"},
                {"RESPATIVFILIAL", "NRPROCESSOFILIAL <> 3"},
                {"ATIVIDADEDIA", "1"},
                {"REDEFATIVIDADE", "1"}};

void keepSeed(QSqlDatabase &db)
{
    for (const auto &w : writable) {
        Sql::exec(db, u"CREATE TABLE FUZZSEED_%1 AS SELECT * FROM %1 WHERE %2"_s.arg(QLatin1StringView(w.table),
                                                                                     QLatin1StringView(w.firstUnit)));
    }
}

void restoreSeed(QSqlDatabase &db)
{
    TransactionGuard guard(db);
    // Children first, so that no key of a parent is missing meanwhile.
    for (auto w = std::rbegin(writable); w != std::rend(writable); ++w) {
        Sql::exec(db, u"DELETE FROM %1 WHERE %2"_s.arg(QLatin1StringView(w->table), QLatin1StringView(w->firstUnit)));
    }
    for (const auto &w : writable) {
        Sql::exec(db, u"INSERT INTO %1 SELECT * FROM FUZZSEED_%1"_s.arg(QLatin1StringView(w.table)));
    }
    guard.commit();
}

// The text every trigger below fails with.
constexpr auto otherUnitTouched = "fuzz: linha de outra unidade alterada"_L1;

// Any insert, change or removal of a row of unit 0002 fails the statement.
void guardOtherUnit(QSqlDatabase &db)
{
    const struct
    {
        const char *table;
        const char *test; // on the row as "R."
    } guarded[] = {{"PROCESSOFILIAL", "R.CDUNIDADE = '0002'"},
                   {"ATIVIDADEFILIAL", "R.NRPROCESSOFILIAL = 3"},
                   {"RESPATIVFILIAL", "R.NRPROCESSOFILIAL = 3"}};
    for (const auto &g : guarded) {
        const QString table = QString::fromLatin1(g.table);
        const QString test = QString::fromLatin1(g.test);
        const QString raise = u" BEGIN SELECT RAISE(ABORT, '%1'); END"_s.arg(otherUnitTouched);
        const QString oldRow = QString(test).replace(u"R."_s, u"OLD."_s);
        const QString newRow = QString(test).replace(u"R."_s, u"NEW."_s);
        Sql::exec(db, u"CREATE TRIGGER fuzz_ins_%1 BEFORE INSERT ON %1 WHEN %2"_s.arg(table, newRow) + raise);
        Sql::exec(db,
                  u"CREATE TRIGGER fuzz_upd_%1 BEFORE UPDATE ON %1 WHEN %2 OR %3"_s.arg(table, oldRow, newRow) + raise);
        Sql::exec(db, u"CREATE TRIGGER fuzz_del_%1 BEFORE DELETE ON %1 WHEN %2"_s.arg(table, oldRow) + raise);
    }
}

QList<Row> readRows(RdmProcessoUnidade &session, const QString &method, const QCborArray &args)
{
    return DataPacket::decode(session.call(method, args).toByteArray()).rows;
}

// The database's folder, removed at exit (the world itself is never
// destroyed: Qt's SQL globals may already be gone by then).
std::string &folderToRemove()
{
    static std::string path;
    return path;
}

World &world()
{
    static World &w = *new World;
    static const bool ready = [] {
        World *created = &w;
        created->folder.setAutoRemove(false);
        folderToRemove() = created->folder.path().toStdString();
        created->config = DatabaseConfig::sqlite(created->folder.filePath(u"fuzz.sqlite"_s));
        created->direct = std::make_unique<ScopedConnection>(created->config, u"fuzz-direct"_s);
        QSqlDatabase &db = created->direct->db();
        Admin::createDatabase(db);
        Admin::addUnit(db, u"0001"_s, u"Loja"_s);
        Admin::addUnit(db, u"0002"_s, u"Outra"_s);
        Admin::addOperator(db, u"OP0"_s, u"Operador"_s, u"0001"_s, u"senha"_s, PasswordHash::Cost::minimal());
        Admin::addOperator(db, u"OP9"_s, u"Outro"_s, u"0002"_s, u"senha"_s, PasswordHash::Cost::minimal());
        Admin::addGroup(db, u"CX"_s, u"Caixa"_s, {u"OP0"_s});
        Sql::exec(db, u"INSERT INTO PERIENTR (CDPERIENTR, NMPERIENTR, IDTIPODIA) VALUES ('DI', 'Diária', 'D')"_s);
        Sql::exec(
            db,
            u"INSERT INTO PERIENTR (CDPERIENTR, NMPERIENTR, IDTIPODIA, IDDIASSEMANA) VALUES ('SG', 'Segundas', 'S', 'NSNNNNN')"_s);
        Sql::exec(db,
                  u"INSERT INTO PERIENTR (CDPERIENTR, NMPERIENTR, IDTIPODIA) VALUES ('RQ', 'Sob solicitação', 'R')"_s);
        seedRows(db);
        auto state = std::make_shared<ServerState>(created->config);
        created->session = std::make_unique<RdmProcessoUnidade>(state);
        RdmProcessoUnidade::Identity who;
        if (!RdmProcessoUnidade::checkLogin(*state, {RdmProcessoUnidade::serverName, u"OP0"_s, u"senha"_s, {}, false},
                                            &who)
                 .ok) {
            std::fprintf(stderr, "fuzz_dispatch: login failed\n");
            std::abort();
        }
        created->session->begin(who);
        RdmProcessoUnidade &s = *created->session;
        created->fields = {{u"SetProcessos"_s, Fields::processos()},
                           {u"SetTarefas"_s, Fields::tarefas()},
                           {u"SetOperadores"_s, Fields::operadores()}};
        created->rows = {{u"SetProcessos"_s, readRows(s, u"GetProcessos"_s, {})},
                         {u"SetTarefas"_s, readRows(s, u"GetTarefas"_s, {1.0}) + readRows(s, u"GetTarefas"_s, {2.0})},
                         {u"SetOperadores"_s, readRows(s, u"GetOperadores"_s, {11.0})}};
        // Rows of the other unit as a forged client would write them: the
        // session cannot read them, so they are made from its own rows.
        auto forged = [created](const QString &method, const QHash<QString, QVariant> &values) {
            const QList<FieldDef> &fields = created->fields[method];
            Row row = created->rows[method].value(0, Row(fields.size()));
            for (qsizetype i = 0; i < fields.size(); ++i) {
                if (values.contains(fields.at(i).name)) {
                    row[i] = values.value(fields.at(i).name);
                }
            }
            created->rows[method] << row;
        };
        forged(u"SetProcessos"_s, {{u"NRPROCESSOFILIAL"_s, 3.0}, {u"NMPROCESSOFILIAL"_s, u"Outra loja"_s}});
        forged(u"SetTarefas"_s,
               {{u"NRATIVIDADEFILIAL"_s, 14.0}, {u"NRPROCESSOFILIAL"_s, 3.0}, {u"NMATIVIDADEFILIAL"_s, u"Alheia"_s}});
        forged(u"SetOperadores"_s, {{u"NRRESPATIVFILIAL"_s, 23.0},
                                    {u"NRATIVIDADEFILIAL"_s, 14.0},
                                    {u"NRPROCESSOFILIAL"_s, 3.0},
                                    {u"CDOPERADOR"_s, u"OP9"_s},
                                    {u"CDGRUPOPER"_s, QVariant()},
                                    {u"IDEXECUTA"_s, u"S"_s},
                                    {u"IDVALIDA"_s, u"S"_s}});
        keepSeed(db);
        guardOtherUnit(db);
        created->methods = RdmProcessoUnidade::methodNames();
        created->changes = changedRows(created->session->db());
        // Registered after Qt's globals came to be, so it runs before they go.
        std::atexit([] { QDir(QString::fromStdString(folderToRemove())).removeRecursively(); });
        return true;
    }();
    Q_UNUSED(ready);
    return w;
}

QVariant valueFor(Input &in, const FieldDef &field)
{
    const std::uint8_t choice = in.byte();
    if (choice % 8 == 0) {
        return {};
    }
    if (field.type == FieldType::Text) {
        static const QStringList codes{u"S"_s,  u"N"_s,  u"OP0"_s, u"OP9"_s, u"CX"_s,
                                       u"DI"_s, u"SG"_s, u"RQ"_s,  u" "_s,   QString()};
        if (choice % 8 < 4) {
            return codes.at(in.byte() % codes.size());
        }
        // Texts past the field's size as well, up to what a packet takes.
        const QString text = in.text(choice % 2 == 0 ? 120 : 255);
        return text.left(field.size);
    }
    static const double today = ServerClock::todayDays();
    switch (choice % 8) {
    case 1:
    case 2:
        return seededKeys[in.byte() % std::size(seededKeys)];
    case 3:
        return today + double(qint8(in.byte()));
    case 4:
        return double(qint8(in.byte())) / 4.0;
    case 5: {
        const double d = in.number();
        return std::isfinite(d) && std::fabs(d) < 1e15 ? QVariant(d) : QVariant(9007199254740992.0);
    }
    default:
        return double(in.byte()) * 1e6;
    }
}

// A delta of the level's own fields, possibly with one of them dropped,
// renamed or retyped, whose entries start from rows the session read.
QByteArray deltaFor(Input &in, const QString &method)
{
    World &w = world();
    if (in.byte() % 8 == 0) {
        return in.rest(); // packet bytes as they come
    }
    DeltaPacket delta;
    delta.fields = w.fields.value(method);
    const std::uint8_t shape = in.byte();
    const int target = int(in.byte() % delta.fields.size());
    if (shape % 16 == 1) {
        delta.fields.removeAt(target);
    } else if (shape % 16 == 2) {
        delta.fields[target].name = delta.fields[target].name.toLower();
    } else if (shape % 16 == 3) {
        delta.fields[target].type = delta.fields[target].type == FieldType::Text ? FieldType::Number : FieldType::Text;
        delta.fields[target].size = delta.fields[target].type == FieldType::Text ? 40 : 0;
    }
    const QList<Row> &known = w.rows.value(method);
    const int entries = in.byte() % 5;
    for (int e = 0; e < entries; ++e) {
        DeltaEntry entry;
        entry.kind = static_cast<ChangeKind>(in.byte() % 3);
        Row base = known.isEmpty() ? Row() : known.at(in.byte() % known.size());
        if (shape % 16 == 1) {
            base.removeAt(target);
        }
        base.resize(delta.fields.size());
        Row current = base;
        const int changes = in.byte() % 4;
        for (int c = 0; c < changes; ++c) {
            const int f = int(in.byte() % delta.fields.size());
            current[f] = valueFor(in, delta.fields.at(f));
        }
        if (entry.kind != ChangeKind::Inserted) {
            entry.original = base;
        }
        if (entry.kind != ChangeKind::Deleted) {
            entry.current = current;
        }
        delta.entries << entry;
    }
    try {
        return delta.encode();
    } catch (const EPacketError &) {
        // A value of the wrong type for a retyped field: send it as it
        // would be mis-encoded by hand, through its raw bytes.
        return in.rest();
    }
}

QCborArray argumentsFor(Input &in, const QString &method)
{
    QCborArray args;
    if (method.startsWith(u"Set"_s) && method != u"SetAtividades"_s) {
        args << QCborValue(deltaFor(in, method));
    } else {
        const int count = in.byte() % 3;
        for (int i = 0; i < count; ++i) {
            const std::uint8_t kind = in.byte();
            const double key = seededKeys[in.byte() % std::size(seededKeys)];
            switch (kind % 5) {
            case 0:
                args << key;
                break;
            case 1:
                args << QString::number(qint64(key));
                break;
            case 2:
                args << in.text(24);
                break;
            case 3:
                args << u"OP0"_s;
                break;
            default:
                args << QCborValue(QCborValue::Null);
                break;
            }
        }
    }
    if (in.byte() % 32 == 0) {
        args << 1.0; // one too many
    }
    return args;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // The zone read once: with TZ unset, every reading of the clock looks at
    // /etc/localtime again (two or three a call).
    setenv("TZ", ":/etc/localtime", 0);
    static QCoreApplication app(*argc, *argv);
    world();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    World &w = world();
    Input in(data, size);
    const QStringList &methods = w.methods;
    const std::uint8_t pick = in.byte();
    QString method = methods.at(pick % methods.size());
    if (pick >= 250) {
        method = in.text(40); // an unknown or mangled name
        if (method.isEmpty()) {
            method = u"X"_s;
        }
    }
    const QCborArray args = argumentsFor(in, method);

    // As a connection receives it: a frame cut from the stream, then parsed.
    const QByteArray frame = RpcWire::callFrame(quint64(size) + 1, method, args);
    if (frame.isEmpty()) {
        return 0;
    }
    FrameDecoder decoder;
    decoder.feed(QByteArrayView(frame));
    QByteArray payload;
    if (decoder.next(&payload) != FrameDecoder::Status::Frame) {
        std::fprintf(stderr, "a well-formed frame was not cut\n");
        std::abort();
    }
    const RpcMessage message = RpcWire::parse(payload);
    if (message.kind != RpcMessage::Kind::Call) {
        std::fprintf(stderr, "a well-formed call was refused: %s\n", qPrintable(message.error));
        std::abort();
    }

    bool wrote = false;
    QCborValue value;
    try {
        value = w.session->call(message.method, message.args);
        wrote = !message.method.startsWith(u"Get"_s);
    } catch (const EServerFailure &e) {
        if (e.message().contains(otherUnitTouched)) {
            std::fprintf(stderr, "%s changed another unit's rows\n", qPrintable(message.method));
            std::abort();
        }
        std::fprintf(stderr, "%s reached the database unchecked: %s\n", qPrintable(message.method),
                     qPrintable(e.message()));
        std::abort();
    } catch (const EDatabaseError &e) {
        // Refused, as a rule or a bad argument: the text must say why. A
        // packet the server could not build for its own rows is a fault.
        if (e.message().isEmpty() || e.message().startsWith(u"Não foi possível gerar"_s)) {
            std::fprintf(stderr, "%s refused: \"%s\"\n", qPrintable(message.method), qPrintable(e.message()));
            std::abort();
        }
        return 0;
    }
    if (!RpcWire::isWireValue(value) || RpcWire::replyFrame(*message.id, value).isEmpty()) {
        std::fprintf(stderr, "%s answered a value that cannot travel\n", qPrintable(message.method));
        std::abort();
    }
    if (value.isByteArray()) {
        try {
            DataPacket::decode(value.toByteArray());
        } catch (const EPacketError &e) {
            std::fprintf(stderr, "%s answered a packet that does not decode: %s\n", qPrintable(message.method),
                         e.what());
            std::abort();
        }
    }
    QSqlDatabase &db = w.session->db();
    if (wrote && changedRows(db) != w.changes) {
        // Every input starts from the same rows.
        restoreSeed(db);
        w.changes = changedRows(db);
    }
    return 0;
}
