#include "ProcessosHandler.h"

#include <QSet>
#include <QSqlQuery>

#include <cmath>
#include <optional>

#include "Activities.h"
#include "Fields.h"
#include "RdmProcessoUnidade.h"
#include "RemoteCalls.h"
#include "ServerClock.h"
#include "Sql.h"

using namespace Qt::StringLiterals;
using namespace Saves;

namespace {

struct ProcessValues
{
    QString name;
    std::optional<double> start;
    std::optional<double> end;
};

ProcessValues readProcess(const Delta &delta, const Row &row)
{
    ProcessValues v;
    v.name = delta.text(row, u"NMPROCESSOFILIAL"_s);
    v.start = delta.number(row, u"DTINIVIGENCIA"_s);
    v.end = delta.number(row, u"DTFINVIGENCIA"_s);
    return v;
}

// The validity rules in the screen's order. storedStart is set for a row that
// exists: its start may only change while the process is not yet in force.
void checkProcess(const ProcessValues &v, std::optional<double> storedStart, double today)
{
    if (v.name.trimmed().isEmpty()) {
        refuse(u"NmProcessoNull"_s);
    }
    const bool inserting = !storedStart.has_value();
    const bool startChanged = inserting || !v.start || std::fabs(*v.start - *storedStart) > 1e-6;
    if (!inserting && startChanged && std::floor(*storedStart) <= today) {
        refuse(u"DataIniInfNotAlt"_s);
    }
    if (startChanged) {
        if (!v.start) {
            refuse(u"DataIniVigNull"_s);
        }
        if (*v.start < today) {
            refuse(u"Data<Atual"_s);
        }
    }
    if (v.end) {
        if (*v.end < today) {
            refuse(u"Data<Atual"_s);
        }
        if (v.start && *v.end < *v.start) {
            refuse(u"DtFin>DtIni"_s);
        }
    }
}

} // namespace

namespace ProcessosHandler {

QCborValue GetProcessos(RdmProcessoUnidade &session, const QCborArray &args)
{
    RemoteCalls::expectCount(u"GetProcessos"_s, args, 0);
    return QCborValue(session.packet(Fields::selectProcessos, {session.unit()}, Fields::processos()));
}

QCborValue SetProcessos(RdmProcessoUnidade &session, const QCborArray &args)
{
    const DeltaReader delta = session.saveArgument(u"SetProcessos"_s, args);
    return QCborValue(double(save(session.db(), session.session(), delta)));
}

qint64 save(QSqlDatabase &db, const Session &session, const DeltaReader &packet)
{
    const Delta delta(packet, Fields::definition(u"cdsProcessos"_s));
    const double today = ServerClock::todayDays();
    const double now = ServerClock::nowDays();
    qint64 inserted = 0;
    QSet<qint64> touched;
    TransactionGuard guard(db);
    for (const DeltaEntry &entry : delta.entries()) {
        if (entry.kind == ChangeKind::Inserted) {
            const ProcessValues v = readProcess(delta, entry.current);
            checkProcess(v, std::nullopt, today);
            inserted = Sql::insertReturningKey(
                db,
                u"INSERT INTO PROCESSOFILIAL (CDUNIDADE, NMPROCESSOFILIAL, DTINIVIGENCIA, DTFINVIGENCIA, CDOPERATU, "
                "DTATUALIZACAO, IDSITUACAO) VALUES (?, ?, ?, ?, ?, ?, 'S') RETURNING NRPROCESSOFILIAL"_s,
                {session.unit, v.name, *v.start, v.end ? QVariant(*v.end) : Sql::nullNumber(), session.operatorCode,
                 now});
            touched.insert(inserted);
            continue;
        }
        const qint64 key = delta.existingKey(entry);
        QSqlQuery stored =
            lockStoredRow(db,
                          u"SELECT CDUNIDADE, NMPROCESSOFILIAL, DTINIVIGENCIA, DTFINVIGENCIA, CDOPERATU, DTATUALIZACAO "
                          "FROM PROCESSOFILIAL WHERE NRPROCESSOFILIAL = ?"_s,
                          key, session, delta, entry);
        const double storedStart = stored.value(u"DTINIVIGENCIA"_s).toDouble();
        stored.finish();
        if (entry.kind == ChangeKind::Modified) {
            ProcessValues v = readProcess(delta, entry.current);
            if (!delta.has(u"DTINIVIGENCIA"_s)) {
                v.start = storedStart;
            }
            checkProcess(v, storedStart, today);
            Sql::exec(
                db,
                u"UPDATE PROCESSOFILIAL SET NMPROCESSOFILIAL = ?, DTINIVIGENCIA = ?, DTFINVIGENCIA = ?, CDOPERATU = ?, "
                "DTATUALIZACAO = ? WHERE NRPROCESSOFILIAL = ?"_s,
                {v.name, *v.start, v.end ? QVariant(*v.end) : Sql::nullNumber(), session.operatorCode, now, key});
            touched.insert(key);
        } else {
            if (hasExecuted(db, u"NRPROCESSOFILIAL"_s, key)) {
                refuse(u"PROC_N_EXC"_s);
            }
            // The process goes with everything under it; only pending
            // occurrences remain at this point.
            Sql::exec(db, u"DELETE FROM ATIVIDADEDIA WHERE NRPROCESSOFILIAL = ?"_s, {key});
            Sql::exec(db,
                      u"DELETE FROM RESPATIVFILIAL WHERE NRPROCESSOFILIAL = ? OR NRATIVIDADEFILIAL IN "
                      "(SELECT NRATIVIDADEFILIAL FROM ATIVIDADEFILIAL WHERE NRPROCESSOFILIAL = ?)"_s,
                      {key, key});
            Sql::exec(db, u"DELETE FROM ATIVIDADEFILIAL WHERE NRPROCESSOFILIAL = ?"_s, {key});
            Sql::exec(db, u"DELETE FROM PROCESSOFILIAL WHERE NRPROCESSOFILIAL = ?"_s, {key});
            touched.remove(key);
        }
    }
    // New validity dates may take a process in or out of today.
    for (qint64 process : std::as_const(touched)) {
        Activities::refreshSituation(db, process, ServerClock::today());
    }
    guard.commit();
    return inserted;
}

} // namespace ProcessosHandler
