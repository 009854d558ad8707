#pragma once

#include <QCborArray>
#include <QCborValue>

class RdmProcessoUnidade;

// The scheduled occurrences as the screen sees them (cdsAtividades,
// cdsVerifTarefas, table ATIVIDADEDIA): reading them, deleting a process's
// pending ones, redefining a process's day; and the server's date, by which
// the days are counted.
namespace AtividadesHandler {

QCborValue GetAtividades(RdmProcessoUnidade &session, const QCborArray &args);
QCborValue SetAtividades(RdmProcessoUnidade &session, const QCborArray &args);
QCborValue GetVerifTarefas(RdmProcessoUnidade &session, const QCborArray &args);
QCborValue RedefinirAtividadesDia(RdmProcessoUnidade &session, const QCborArray &args);
QCborValue GetDataServidor(RdmProcessoUnidade &session, const QCborArray &args);

} // namespace AtividadesHandler
