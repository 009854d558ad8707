#pragma once

#include <QCborArray>
#include <QCborValue>
#include <QSqlDatabase>

#include "Packet.h"
#include "Saves.h"

class RdmProcessoUnidade;

// The level of the processes (cdsProcessos, table PROCESSOFILIAL): its remote get and set, and its save rules.
namespace ProcessosHandler {

QCborValue GetProcessos(RdmProcessoUnidade &session, const QCborArray &args);
QCborValue SetProcessos(RdmProcessoUnidade &session, const QCborArray &args);

// Applies a change log of the level in one transaction. Returns the number
// of the last process inserted, 0 when none was.
qint64 save(QSqlDatabase &db, const Saves::Session &session, const DeltaReader &delta);

} // namespace ProcessosHandler
