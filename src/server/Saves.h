#pragma once

#include <QSqlDatabase>
#include <QString>

#include "Packet.h"

// Applying a level's change log. Each function runs one transaction: the whole
// delta is written or none of it. Every row rule the screen checks is checked
// again (a refusal carries the screen's catalogue text); a modified or deleted
// row whose original values no longer match the stored row is a conflict; a
// row of another unit is refused. Throws EDatabaseError.
namespace Saves {

struct Session
{
    QString unit;
    QString operatorCode;
};

// Returns the number of the last process inserted, 0 when none was.
qint64 setProcessos(QSqlDatabase &db, const Session &session, const DeltaPacket &delta);
void setTarefas(QSqlDatabase &db, const Session &session, const DeltaPacket &delta);
void setOperadores(QSqlDatabase &db, const Session &session, const DeltaPacket &delta);

// Texts of the refusals that the screen's catalogue does not have.
QString conflictChangedText();
QString conflictDeletedText();
QString otherUnitText();
}
