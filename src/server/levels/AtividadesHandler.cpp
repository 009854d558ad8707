#include "AtividadesHandler.h"

#include <QSqlQuery>

#include "Activities.h"
#include "DateTime.h"
#include "Exceptions.h"
#include "Fields.h"
#include "RdmProcessoUnidade.h"
#include "RemoteCalls.h"
#include "ServerClock.h"
#include "Sql.h"

using namespace Qt::StringLiterals;
using namespace RemoteCalls;

namespace AtividadesHandler {

QCborValue GetAtividades(RdmProcessoUnidade &session, const QCborArray &args)
{
    expectCount(u"GetAtividades"_s, args, 1);
    const qint64 process = keyTextArg(u"GetAtividades"_s, args, 0, u"número do processo"_s);
    DataPacket packet;
    packet.fields = Fields::atividades();
    if (session.checkProcessUnit(process).isEmpty()) {
        return reply(packet);
    }
    return QCborValue(session.packet(Fields::selectAtividadesProcesso, {process}, packet.fields));
}

QCborValue SetAtividades(RdmProcessoUnidade &session, const QCborArray &args)
{
    expectCount(u"SetAtividades"_s, args, 1);
    const qint64 process = keyTextArg(u"SetAtividades"_s, args, 0, u"número do processo"_s);
    QSqlDatabase &db = session.db();
    TransactionGuard guard(db);
    if (session.checkProcessUnit(process).isEmpty()) {
        return QCborValue(0.0);
    }
    // Executed occurrences are history: they are never deleted.
    QSqlQuery query = Sql::exec(
        db, u"DELETE FROM ATIVIDADEDIA WHERE NRPROCESSOFILIAL = ? AND "_s + Activities::notExecutedCondition(QString()),
        {process});
    const int deleted = qMax(0, query.numRowsAffected());
    query.finish();
    Activities::refreshSituation(db, process, ServerClock::today());
    guard.commit();
    return QCborValue(double(deleted));
}

QCborValue GetVerifTarefas(RdmProcessoUnidade &session, const QCborArray &args)
{
    expectCount(u"GetVerifTarefas"_s, args, 2);
    const qint64 process = keyTextArg(u"GetVerifTarefas"_s, args, 0, u"número do processo"_s);
    const qint64 task = keyTextArg(u"GetVerifTarefas"_s, args, 1, u"número da tarefa"_s);
    DataPacket packet;
    packet.fields = Fields::atividades();
    if (session.checkProcessUnit(process).isEmpty()) {
        return reply(packet);
    }
    const QVariant owner = Sql::scalar(
        session.db(), u"SELECT NRPROCESSOFILIAL FROM ATIVIDADEFILIAL WHERE NRATIVIDADEFILIAL = ?"_s, {task});
    if (!owner.isValid()) {
        return reply(packet);
    }
    if (owner.toLongLong() != process) {
        throw EDatabaseError(u"A tarefa %1 não pertence ao processo %2."_s.arg(task).arg(process));
    }
    return QCborValue(session.packet(Fields::selectAtividadesTarefa, {task}, packet.fields));
}

QCborValue RedefinirAtividadesDia(RdmProcessoUnidade &session, const QCborArray &args)
{
    expectCount(u"RedefinirAtividadesDia"_s, args, 2);
    const qint64 process = keyTextArg(u"RedefinirAtividadesDia"_s, args, 0, u"número do processo"_s);
    const QString operatorCode = textArg(u"RedefinirAtividadesDia"_s, args, 1, u"código do operador"_s);
    if (operatorCode != session.operatorCode()) {
        throw EDatabaseError(u"O operador informado (%1) não é o operador conectado (%2)."_s.arg(
            elidedText(operatorCode, 12), session.operatorCode()));
    }
    const QDate today = ServerClock::today();
    QSqlDatabase &db = session.db();
    TransactionGuard guard(db);
    if (session.checkProcessUnit(process).isEmpty()) {
        throw EDatabaseError(u"O processo %1 não existe; atualize a tela."_s.arg(process));
    }
    const int created = Activities::regenerateProcessDay(db, process, today);
    Sql::exec(
        db,
        u"INSERT INTO REDEFATIVIDADE (NRPROCESSOFILIAL, DTATIVIDADE, CDOPERADOR, DTREDEFINICAO) VALUES (?, ?, ?, ?)"_s,
        {process, DateTime::dayNumber(today), session.operatorCode(), ServerClock::nowDays()});
    Activities::refreshSituation(db, process, today);
    guard.commit();
    return QCborValue(double(created));
}

QCborValue GetDataServidor(RdmProcessoUnidade &, const QCborArray &args)
{
    expectCount(u"GetDataServidor"_s, args, 0);
    return QCborValue(ServerClock::nowDays());
}

} // namespace AtividadesHandler
