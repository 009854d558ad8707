#pragma once

#include <QCborArray>
#include <QCborValue>
#include <QList>
#include <QString>

#include "Packet.h"

class RdmProcessoUnidade;

// The unit's three levels in one packet, for the printed report: the unit's
// code and name ("U"), a row per process ("P"), then a row per task in order ("T"), each followed by a row
// per responsible ("R"), with the names of periodicities, operators and
// groups joined. Read-only; the unit is the session's.
namespace RelatorioHandler {

QList<FieldDef> fields();
extern const QString select;

// One argument: the number of a process of the unit, or 0 for every process.
QCborValue GetRelatorioProcessos(RdmProcessoUnidade &session, const QCborArray &args);

} // namespace RelatorioHandler
