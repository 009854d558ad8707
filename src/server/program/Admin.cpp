#include "Admin.h"

#include <QSqlError>
#include <QSqlQuery>

#include "Activities.h"
#include "Database.h"
#include "DateTime.h"
#include "Packet.h"
#include "PasswordHash.h"
#include "ServerClock.h"
#include "Sql.h"

using namespace Qt::StringLiterals;

namespace {

void requireText(const QString &value, const QString &what, int maxSize)
{
    if (value.trimmed().isEmpty()) {
        throw EDatabaseError(u"%1 deve ser informado."_s.arg(what));
    }
    if (textLength(value) > maxSize) {
        throw EDatabaseError(u"%1 aceita no máximo %2 caracteres."_s.arg(what).arg(maxSize));
    }
}

qint64 insertProcess(QSqlDatabase &db, const QString &unit, const QString &name, double start, const QVariant &end)
{
    return Sql::insertReturningKey(
        db,
        u"INSERT INTO PROCESSOFILIAL (CDUNIDADE, NMPROCESSOFILIAL, DTINIVIGENCIA, DTFINVIGENCIA, CDOPERATU, "
        "DTATUALIZACAO, IDSITUACAO) VALUES (?, ?, ?, ?, 'SUPERVISOR', ?, 'S') RETURNING NRPROCESSOFILIAL"_s,
        {unit, name, start, end.isValid() ? end : Sql::nullNumber(), ServerClock::nowDays() - 1});
}

qint64 insertTask(QSqlDatabase &db, qint64 process, int order, const QString &name, const QString &screen,
                  const QString &module, const QString &periodicity, const QString &note)
{
    return Sql::insertReturningKey(
        db,
        u"INSERT INTO ATIVIDADEFILIAL (NRPROCESSOFILIAL, NMATIVIDADEFILIAL, CDTELAATIVIDADE, CDMODULOATIVIDADE, "
        "CDPERIENTR, DSATIVIDADEFILIAL, NRORDENAATIVIDADE, CDOPERATU, DTATUALIZACAO) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, 'SUPERVISOR', ?) RETURNING NRATIVIDADEFILIAL"_s,
        {process, name, Sql::textOrNull(screen), Sql::textOrNull(module), Sql::textOrNull(periodicity),
         Sql::textOrNull(note), order, ServerClock::nowDays() - 1});
}

void insertResponsible(QSqlDatabase &db, qint64 process, qint64 task, const QString &op, const QString &group,
                       const QString &executes, const QString &validates)
{
    Sql::insertReturningKey(
        db,
        u"INSERT INTO RESPATIVFILIAL (NRATIVIDADEFILIAL, NRPROCESSOFILIAL, CDOPERADOR, CDGRUPOPER, IDEXECUTA, "
        "IDVALIDA, CDOPERATU, DTATUALIZACAO) VALUES (?, ?, ?, ?, ?, ?, 'SUPERVISOR', ?) RETURNING NRRESPATIVFILIAL"_s,
        {task, process, Sql::textOrNull(op), Sql::textOrNull(group), executes, validates, ServerClock::nowDays() - 1});
}

// A statement the generator runs many times: prepared once, bound anew each row.
QSqlQuery preparedOnce(QSqlDatabase &db, const QString &text)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(text)) {
        throw EServerFailure(
            u"Erro no banco de dados: %1 [%2]"_s.arg(query.lastError().text(), text.simplified().left(120)));
    }
    return query;
}

void requireCount(int value, int least, int most, const QString &what)
{
    if (value < least || value > most) {
        throw EDatabaseError(
            u"%1 deve estar entre %2 e %3 (informado: %4)."_s.arg(what).arg(least).arg(most).arg(value));
    }
}

// The first two-character group code nobody uses yet.
QString freeGroupCode(QSqlDatabase &db)
{
    QStringList used;
    QSqlQuery query = Sql::exec(db, u"SELECT CDGRUPOPER FROM GRUPOPER"_s);
    while (query.next()) {
        used << query.value(0).toString();
    }
    const QString symbols = u"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"_s;
    for (const QChar first : u"GEQ"_s) {
        for (const QChar second : symbols) {
            const QString code = QString(first) + second;
            if (!used.contains(code)) {
                return code;
            }
        }
    }
    throw EDatabaseError(u"Não há código de grupo livre para a unidade."_s);
}

// On SQLite the credentials are in a file of their own, and a commit in WAL
// mode is atomic per file: a stop between the two may have left a row
// without its operator, which this replaces.
void writePassword(QSqlDatabase &db, const QString &code, const PasswordHash::Stored &stored, double when)
{
    Sql::exec(db, u"DELETE FROM OPERADORSENHA WHERE CDOPERADOR = ?"_s, {code});
    Sql::exec(
        db,
        u"INSERT INTO OPERADORSENHA (CDOPERADOR, DSSALT, DSHASH, NRITERACOES, DTATUALIZACAO) VALUES (?, ?, ?, ?, ?)"_s,
        {code, stored.saltColumn(), stored.hashColumn(), stored.iterations, when});
}

} // namespace

namespace Admin {

void createDatabase(QSqlDatabase &db)
{
    Database::migrate(db);
}

void addUnit(QSqlDatabase &db, const QString &code, const QString &name)
{
    requireText(code, u"O código da unidade"_s, 4);
    requireText(name, u"O nome da unidade"_s, 60);
    TransactionGuard guard(db);
    if (Sql::scalar(db, u"SELECT 1 FROM UNIDADE WHERE CDUNIDADE = ?"_s, {code}).isValid()) {
        Sql::exec(db, u"UPDATE UNIDADE SET NMUNIDADE = ? WHERE CDUNIDADE = ?"_s, {name, code});
    } else {
        Sql::exec(db, u"INSERT INTO UNIDADE (CDUNIDADE, NMUNIDADE) VALUES (?, ?)"_s, {code, name});
    }
    guard.commit();
}

void addOperator(QSqlDatabase &db, const QString &code, const QString &name, const QString &unit,
                 const QString &password, const PasswordHash::Cost &cost)
{
    requireText(code, u"O código do operador"_s, 12);
    requireText(name, u"O nome do operador"_s, 40);
    requireText(unit, u"A unidade do operador"_s, 4);
    if (password.isEmpty()) {
        throw EDatabaseError(u"A senha do operador deve ser informada."_s);
    }
    // The slow hash runs before the write lock is taken.
    const PasswordHash::Stored stored = PasswordHash::make(password, cost);
    TransactionGuard guard(db);
    if (!Sql::scalar(db, u"SELECT 1 FROM UNIDADE WHERE CDUNIDADE = ?"_s, {unit}).isValid()) {
        throw EDatabaseError(u"A unidade %1 não existe."_s.arg(unit));
    }
    if (Sql::scalar(db, u"SELECT 1 FROM OPERADOR WHERE CDOPERADOR = ?"_s, {code}).isValid()) {
        Sql::exec(db, u"UPDATE OPERADOR SET NMOPERADOR = ?, CDUNIDADE = ? WHERE CDOPERADOR = ?"_s, {name, unit, code});
    } else {
        Sql::exec(db, u"INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR, CDUNIDADE) VALUES (?, ?, ?)"_s,
                  {code, name, unit});
    }
    writePassword(db, code, stored, ServerClock::nowDays());
    guard.commit();
}

void addGroup(QSqlDatabase &db, const QString &code, const QString &name, const QStringList &members)
{
    requireText(code, u"O código do grupo"_s, 2);
    requireText(name, u"O nome do grupo"_s, 30);
    TransactionGuard guard(db);
    Sql::exec(db, u"INSERT INTO GRUPOPER (CDGRUPOPER, DSGRUPOPER) VALUES (?, ?)"_s, {code, name});
    for (const QString &member : members) {
        Sql::exec(db, u"INSERT INTO GRUPOPEROPER (CDGRUPOPER, CDOPERADOR) VALUES (?, ?)"_s, {code, member});
    }
    guard.commit();
}

void loadDemo(QSqlDatabase &db)
{
    Database::migrate(db);
    if (Sql::scalar(db, u"SELECT COUNT(*) FROM UNIDADE"_s).toInt() > 0) {
        throw EDatabaseError(u"O banco de dados já tem unidades; os dados de demonstração não foram carregados."_s);
    }
    addUnit(db, u"0001"_s, u"Loja Centro"_s);
    addUnit(db, u"0002"_s, u"Loja Bairro Norte"_s);
    const QString password = u"senha"_s;
    addOperator(db, u"SUPERVISOR"_s, u"Supervisor da Loja Centro"_s, u"0001"_s, password);
    addOperator(db, u"MARIA"_s, u"Maria Aparecida Souza"_s, u"0001"_s, password);
    addOperator(db, u"JOAO"_s, u"João Carlos Pereira"_s, u"0001"_s, password);
    addOperator(db, u"BEATRIZ"_s, u"Beatriz Lima Castro"_s, u"0001"_s, password);
    addOperator(db, u"GERENTE"_s, u"Gerente da Loja Bairro Norte"_s, u"0002"_s, password);
    addOperator(db, u"PAULO"_s, u"Paulo Henrique Dias"_s, u"0002"_s, password);
    addGroup(db, u"CX"_s, u"Operadores de caixa"_s, {u"MARIA"_s, u"JOAO"_s});
    addGroup(db, u"ES"_s, u"Equipe de estoque"_s, {u"BEATRIZ"_s, u"PAULO"_s});
    addGroup(db, u"GE"_s, u"Gerência"_s, {u"SUPERVISOR"_s, u"GERENTE"_s});

    const QDate today = ServerClock::today();
    const double t = double(DateTime::dayNumber(today));
    {
        TransactionGuard guard(db);
        const QList<QVariantList> periodicities = {
            {u"DI"_s, u"Diária"_s, u"D"_s, Sql::nullText(), Sql::nullNumber()},
            {u"DU"_s, u"Dias úteis"_s, u"U"_s, Sql::nullText(), Sql::nullNumber()},
            {u"SG"_s, u"Semanal - segunda"_s, u"S"_s, u"NSNNNNN"_s, Sql::nullNumber()},
            {u"TQ"_s, u"Terças e quintas"_s, u"S"_s, u"NNSNSNN"_s, Sql::nullNumber()},
            {u"M1"_s, u"Mensal - dia 1"_s, u"M"_s, Sql::nullText(), 1},
            {u"FM"_s, u"Mensal - último dia"_s, u"M"_s, Sql::nullText(), 31},
            {u"RQ"_s, u"Sob solicitação"_s, u"R"_s, Sql::nullText(), Sql::nullNumber()},
        };
        for (const QVariantList &row : periodicities) {
            Sql::exec(
                db,
                u"INSERT INTO PERIENTR (CDPERIENTR, NMPERIENTR, IDTIPODIA, IDDIASSEMANA, NRDIAMES) VALUES (?, ?, ?, ?, ?)"_s,
                row);
        }

        // Loja Centro
        const qint64 abertura = insertProcess(db, u"0001"_s, u"Abertura da loja"_s, t - 30, {});
        const qint64 a1 = insertTask(db, abertura, 1, u"Conferir fundo de troco dos caixas"_s, u"CXA01000"_s, u"CXA"_s,
                                     u"DI"_s, u"Conferir o valor de cada gaveta antes da abertura."_s);
        const qint64 a2 =
            insertTask(db, abertura, 2, u"Ligar sistemas e balanças"_s, u"ADM02000"_s, u"ADM"_s, u"DI"_s, {});
        const qint64 a3 =
            insertTask(db, abertura, 3, u"Verificar validade dos perecíveis"_s, u"EST05000"_s, u"EST"_s, u"DU"_s, {});
        insertResponsible(db, abertura, a1, {}, u"CX"_s, u"S"_s, u"N"_s);
        insertResponsible(db, abertura, a1, u"SUPERVISOR"_s, {}, u"N"_s, u"S"_s);
        insertResponsible(db, abertura, a2, u"JOAO"_s, {}, u"S"_s, u"N"_s);
        insertResponsible(db, abertura, a3, {}, u"ES"_s, u"S"_s, u"N"_s);
        insertResponsible(db, abertura, a3, u"SUPERVISOR"_s, {}, u"N"_s, u"S"_s);

        const qint64 fechamento = insertProcess(db, u"0001"_s, u"Fechamento do caixa"_s, t - 20, {});
        const qint64 f1 =
            insertTask(db, fechamento, 1, u"Sangria e contagem das gavetas"_s, u"CXA03000"_s, u"CXA"_s, u"DI"_s, {});
        const qint64 f2 =
            insertTask(db, fechamento, 2, u"Emitir relatório de vendas do dia"_s, u"VEN10000"_s, u"VEN"_s, u"DI"_s, {});
        insertResponsible(db, fechamento, f1, {}, u"CX"_s, u"S"_s, u"N"_s);
        insertResponsible(db, fechamento, f2, u"MARIA"_s, {}, u"S"_s, u"N"_s);
        insertResponsible(db, fechamento, f2, {}, u"GE"_s, u"N"_s, u"S"_s);

        const qint64 estoque = insertProcess(db, u"0001"_s, u"Controle de estoque"_s, t - 60, {});
        const qint64 e1 =
            insertTask(db, estoque, 1, u"Contagem cíclica do depósito"_s, u"EST01000"_s, u"EST"_s, u"TQ"_s, {});
        const qint64 e2 = insertTask(db, estoque, 2, u"Inventário geral"_s, u"EST09000"_s, u"EST"_s, u"FM"_s,
                                     u"Fechar o depósito durante a contagem."_s);
        const qint64 e3 = insertTask(db, estoque, 3, u"Pedido de reposição"_s, u"COM01000"_s, u"COM"_s, u"SG"_s, {});
        const qint64 e4 =
            insertTask(db, estoque, 4, u"Conferência de notas fiscais"_s, u"FIS02000"_s, u"FIS"_s, u"M1"_s, {});
        insertResponsible(db, estoque, e1, {}, u"ES"_s, u"S"_s, u"N"_s);
        insertResponsible(db, estoque, e2, {}, u"ES"_s, u"S"_s, u"N"_s);
        insertResponsible(db, estoque, e2, u"SUPERVISOR"_s, {}, u"N"_s, u"S"_s);
        insertResponsible(db, estoque, e3, u"BEATRIZ"_s, {}, u"S"_s, u"S"_s);
        insertResponsible(db, estoque, e4, {}, u"GE"_s, u"S"_s, u"S"_s);

        const qint64 campanha = insertProcess(db, u"0001"_s, u"Campanha de inverno"_s, t - 90, t - 10);
        const qint64 c1 =
            insertTask(db, campanha, 1, u"Montar vitrine da campanha"_s, u"MKT01000"_s, u"MKT"_s, u"DI"_s, {});
        insertResponsible(db, campanha, c1, u"JOAO"_s, {}, u"S"_s, u"N"_s);

        const qint64 reforma = insertProcess(db, u"0001"_s, u"Reforma do depósito"_s, t + 7, t + 37);
        const qint64 r1 = insertTask(db, reforma, 1, u"Acompanhar a obra"_s, {}, {}, u"DU"_s, {});
        insertResponsible(db, reforma, r1, u"SUPERVISOR"_s, {}, u"S"_s, u"S"_s);

        // Loja Bairro Norte
        const qint64 norte = insertProcess(db, u"0002"_s, u"Abertura da loja"_s, t - 15, {});
        const qint64 n1 = insertTask(db, norte, 1, u"Conferir fundo de troco"_s, u"CXA01000"_s, u"CXA"_s, u"DI"_s, {});
        insertResponsible(db, norte, n1, u"PAULO"_s, {}, u"S"_s, u"N"_s);
        insertResponsible(db, norte, n1, u"GERENTE"_s, {}, u"N"_s, u"S"_s);
        guard.commit();
    }

    // A few past days and today, then some occurrences done by the operators.
    for (int back = 3; back >= 0; --back) {
        Activities::generateDay(db, today.addDays(-back));
    }
    {
        QList<qint64> done;
        QSqlQuery query = Sql::exec(
            db,
            u"SELECT a.NRATIVIDADEDIA FROM ATIVIDADEDIA a JOIN PROCESSOFILIAL p ON p.NRPROCESSOFILIAL = a.NRPROCESSOFILIAL "
            "WHERE p.NMPROCESSOFILIAL IN ('Abertura da loja', 'Campanha de inverno') AND a.DTATIVIDADE < ?"_s,
            {t});
        while (query.next()) {
            done << query.value(0).toLongLong();
        }
        query.finish();
        for (qint64 occurrence : std::as_const(done)) {
            markExecuted(db, occurrence, u"MARIA"_s, ServerClock::nowDays() - 1);
        }
    }
    // A task added to a process after today's occurrences were generated:
    // that process's day is out of date (situation "N") until redefined.
    {
        TransactionGuard guard(db);
        const QVariant fechamento = Sql::scalar(
            db,
            u"SELECT NRPROCESSOFILIAL FROM PROCESSOFILIAL WHERE CDUNIDADE = '0001' AND NMPROCESSOFILIAL = 'Fechamento do caixa'"_s);
        const qint64 process = fechamento.toLongLong();
        const qint64 task =
            insertTask(db, process, 3, u"Recolher malotes para o banco"_s, u"CXA07000"_s, u"CXA"_s, u"DI"_s, {});
        insertResponsible(db, process, task, u"SUPERVISOR"_s, {}, u"S"_s, u"S"_s);
        Activities::refreshSituation(db, process, today);
        guard.commit();
    }
}

LargeUnit loadLargeUnit(QSqlDatabase &db, const QString &unit, int processes, int tasksPerProcess,
                        int responsiblesPerTask, const QString &password, const PasswordHash::Cost &cost)
{
    requireText(unit, u"O código da unidade"_s, 4);
    requireCount(processes, 1, 1'000'000, u"O número de processos"_s);
    requireCount(tasksPerProcess, 1, 10'000, u"O número de tarefas por processo"_s);
    // One group and operators of two-digit numbers.
    requireCount(responsiblesPerTask, 1, 99, u"O número de responsáveis por tarefa"_s);
    if (password.isEmpty()) {
        throw EDatabaseError(u"A senha dos operadores deve ser informada."_s);
    }
    Database::migrate(db);
    const int operatorCount = responsiblesPerTask;
    auto operatorCode = [&unit](int n) { return u"OP%1_%2"_s.arg(unit).arg(n, 2, 10, QChar(u'0')); };
    // The slow hashes run before the write lock is taken.
    QList<PasswordHash::Stored> hashes;
    for (int n = 1; n <= operatorCount; ++n) {
        hashes << PasswordHash::make(password, cost);
    }

    TransactionGuard guard(db);
    if (Sql::scalar(db, u"SELECT 1 FROM UNIDADE WHERE CDUNIDADE = ?"_s, {unit}).isValid()) {
        throw EDatabaseError(u"A unidade %1 já existe; a unidade grande não foi gerada."_s.arg(unit));
    }
    const double now = ServerClock::nowDays();
    Sql::exec(db, u"INSERT INTO UNIDADE (CDUNIDADE, NMUNIDADE) VALUES (?, ?)"_s,
              {unit, u"Unidade %1 (grande)"_s.arg(unit)});
    LargeUnit made;
    made.firstOperator = operatorCode(1);
    made.lastOperator = operatorCode(operatorCount);
    made.group = freeGroupCode(db);
    Sql::exec(db, u"INSERT INTO GRUPOPER (CDGRUPOPER, DSGRUPOPER) VALUES (?, ?)"_s,
              {made.group, u"Equipe da unidade %1"_s.arg(unit)});
    for (int n = 1; n <= operatorCount; ++n) {
        const QString code = operatorCode(n);
        const QString name =
            n == 1 ? u"Supervisor da unidade %1"_s.arg(unit) : u"Operador %1 da unidade %2"_s.arg(n).arg(unit);
        const PasswordHash::Stored &stored = hashes.at(n - 1);
        Sql::exec(db, u"INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR, CDUNIDADE) VALUES (?, ?, ?)"_s,
                  {code, name, unit});
        writePassword(db, code, stored, now);
        Sql::exec(db, u"INSERT INTO GRUPOPEROPER (CDGRUPOPER, CDOPERADOR) VALUES (?, ?)"_s, {made.group, code});
    }
    if (!Sql::scalar(db, u"SELECT 1 FROM PERIENTR WHERE CDPERIENTR = 'DI'"_s).isValid()) {
        Sql::exec(db, u"INSERT INTO PERIENTR (CDPERIENTR, NMPERIENTR, IDTIPODIA) VALUES ('DI', 'Diária', 'D')"_s);
    }

    const QString processText =
        u"INSERT INTO PROCESSOFILIAL (CDUNIDADE, NMPROCESSOFILIAL, DTINIVIGENCIA, DTFINVIGENCIA, CDOPERATU, "
        "DTATUALIZACAO, IDSITUACAO) VALUES (?, ?, ?, ?, ?, ?, 'S') RETURNING NRPROCESSOFILIAL"_s;
    const QString taskText =
        u"INSERT INTO ATIVIDADEFILIAL (NRPROCESSOFILIAL, NMATIVIDADEFILIAL, CDTELAATIVIDADE, CDMODULOATIVIDADE, "
        "CDPERIENTR, DSATIVIDADEFILIAL, NRORDENAATIVIDADE, CDOPERATU, DTATUALIZACAO) "
        "VALUES (?, ?, ?, 'GER', 'DI', ?, ?, ?, ?) RETURNING NRATIVIDADEFILIAL"_s;
    const QString responsibleText =
        u"INSERT INTO RESPATIVFILIAL (NRATIVIDADEFILIAL, NRPROCESSOFILIAL, CDOPERADOR, CDGRUPOPER, IDEXECUTA, "
        "IDVALIDA, CDOPERATU, DTATUALIZACAO) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"_s;
    QSqlQuery processInsert = preparedOnce(db, processText);
    QSqlQuery taskInsert = preparedOnce(db, taskText);
    QSqlQuery responsibleInsert = preparedOnce(db, responsibleText);
    const double today = ServerClock::todayDays();
    const QVariant noText = Sql::nullText();
    for (int p = 1; p <= processes; ++p) {
        // Every tenth process ends in a year; the rest run without an end.
        const QVariant end = p % 10 == 0 ? QVariant(today + 365) : Sql::nullNumber();
        const qint64 process =
            Sql::rerunReturningKey(processInsert, processText,
                                   {unit, u"Processo %1 da unidade %2"_s.arg(p, 4, 10, QChar(u'0')).arg(unit),
                                    today - 30, end, made.firstOperator, now});
        ++made.processes;
        for (int t = 1; t <= tasksPerProcess; ++t) {
            const QVariant note =
                t % 3 == 0 ? QVariant(u"Observação da tarefa %1 do processo %2."_s.arg(t).arg(p)) : noText;
            const qint64 task = Sql::rerunReturningKey(
                taskInsert, taskText,
                {process, u"Tarefa %1 do processo %2"_s.arg(t, 2, 10, QChar(u'0')).arg(p, 4, 10, QChar(u'0')),
                 u"TELA%1"_s.arg(t, 4, 10, QChar(u'0')), note, t, made.firstOperator, now});
            ++made.tasks;
            // The group executes; the operators after it take turns from task
            // to task, each at most once per task.
            for (int r = 0; r < responsiblesPerTask; ++r) {
                const bool group = r == 0;
                const QVariant op = group ? noText : QVariant(operatorCode((t + r) % operatorCount + 1));
                Sql::rerun(responsibleInsert, responsibleText,
                           {task, process, op, group ? QVariant(made.group) : noText,
                            group || r % 2 == 0 ? u"S"_s : u"N"_s, group ? u"N"_s : u"S"_s, made.firstOperator, now});
                ++made.responsibles;
            }
        }
    }
    processInsert.finish();
    taskInsert.finish();
    responsibleInsert.finish();
    guard.commit();
    return made;
}

void markExecuted(QSqlDatabase &db, qint64 occurrence, const QString &operatorCode, double when)
{
    TransactionGuard guard(db);
    if (!Sql::scalar(db, u"SELECT 1 FROM OPERADOR WHERE CDOPERADOR = ?"_s, {operatorCode}).isValid()) {
        throw EDatabaseError(u"O operador %1 não existe."_s.arg(operatorCode));
    }
    QSqlQuery query =
        Sql::exec(db, u"SELECT CDOPERCONCL, DTCONCLUSAO FROM ATIVIDADEDIA WHERE NRATIVIDADEDIA = ?"_s, {occurrence});
    if (!query.next()) {
        throw EDatabaseError(u"A atividade %1 não existe."_s.arg(occurrence));
    }
    const bool executed = !query.value(0).toString().trimmed().isEmpty() && !query.value(1).isNull();
    query.finish();
    if (executed) {
        throw EDatabaseError(u"A atividade %1 já foi executada."_s.arg(occurrence));
    }
    Sql::exec(db, u"UPDATE ATIVIDADEDIA SET CDOPERCONCL = ?, DTCONCLUSAO = ? WHERE NRATIVIDADEDIA = ?"_s,
              {operatorCode, when, occurrence});
    guard.commit();
}

QList<Occurrence> occurrences(QSqlDatabase &db, const QDate &day)
{
    QList<Occurrence> list;
    QSqlQuery query =
        Sql::exec(db,
                  u"SELECT a.NRATIVIDADEDIA, a.NRPROCESSOFILIAL, a.NRATIVIDADEFILIAL, p.CDUNIDADE, p.NMPROCESSOFILIAL, "
                  "t.NMATIVIDADEFILIAL, a.CDOPERCONCL, a.DTCONCLUSAO FROM ATIVIDADEDIA a "
                  "JOIN PROCESSOFILIAL p ON p.NRPROCESSOFILIAL = a.NRPROCESSOFILIAL "
                  "JOIN ATIVIDADEFILIAL t ON t.NRATIVIDADEFILIAL = a.NRATIVIDADEFILIAL "
                  "WHERE a.DTATIVIDADE = ? ORDER BY p.CDUNIDADE, a.NRPROCESSOFILIAL, t.NRORDENAATIVIDADE"_s,
                  {DateTime::dayNumber(day)});
    while (query.next()) {
        Occurrence o;
        o.number = query.value(0).toLongLong();
        o.process = query.value(1).toLongLong();
        o.task = query.value(2).toLongLong();
        o.unit = query.value(3).toString();
        o.processName = query.value(4).toString();
        o.taskName = query.value(5).toString();
        o.concludedBy = query.value(6).toString();
        o.concludedAt = query.value(7).isNull() ? 0 : query.value(7).toDouble();
        list << o;
    }
    return list;
}

} // namespace Admin
