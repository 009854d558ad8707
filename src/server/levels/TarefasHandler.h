#pragma once

#include <QCborArray>
#include <QCborValue>
#include <QSqlDatabase>

#include "Packet.h"
#include "Saves.h"

class RdmProcessoUnidade;

// The level of the tasks (cdsTarefas, table ATIVIDADEFILIAL): its remote get and set, and its save rules.
namespace TarefasHandler {

QCborValue GetTarefas(RdmProcessoUnidade &session, const QCborArray &args);
QCborValue SetTarefas(RdmProcessoUnidade &session, const QCborArray &args);

// Applies a change log of the level in one transaction.
void save(QSqlDatabase &db, const Saves::Session &session, const DeltaReader &delta);

} // namespace TarefasHandler
