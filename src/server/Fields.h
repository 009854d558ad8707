#pragma once

#include <QList>
#include <QString>

#include "Packet.h"

// The rows the remote module sends, field for field as the screen's record
// sets hold them, and the SELECTs that produce them (the benchmark runs the
// same texts directly).
namespace Fields {
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
}
