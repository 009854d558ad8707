#pragma once

#include <QList>
#include <QString>

#include "Packet.h"
#include "RecordSetDefinitions.h"

// The rows the remote module sends, read from the screen's own record-set
// definitions (so both ends agree field for field), and the SELECTs that
// produce them (the benchmark runs the same texts directly). A reply reads
// the SELECT's columns by name.
namespace Fields {
// The definition of a level's record set ("cdsProcessos", "cdsTarefas",
// "cdsOperadores", "cdsAtividades"); throws for another name.
const RecordSetDefinitions::Definition &definition(const QString &recordSet);

// The fields of each level's data packet, in the record set's order.
QList<FieldDef> processos();
QList<FieldDef> tarefas();
QList<FieldDef> operadores();
QList<FieldDef> atividades();

// One "?" each: the unit; the process number; the task number; the process
// number; the task number. The task and operator texts give the unit of the
// owning process as an extra first column, with one row of nulls for a
// parent without children.
extern const QString selectProcessos;
extern const QString selectTarefas;
extern const QString selectOperadores;
extern const QString selectAtividadesProcesso;
extern const QString selectAtividadesTarefa;
} // namespace Fields
