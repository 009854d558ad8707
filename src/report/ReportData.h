#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

#include "Packet.h"

// The unit's processes as the report shows them, read from the packet of
// GetRelatorioProcessos, and the options a person chooses before printing.
namespace Report {

struct Responsible
{
    bool group = false; // a group of operators, or a single operator
    QString code;
    QString name;
    bool executes = false;
    bool validates = false;
    // "João Carlos Pereira (JOAO)", "Grupo Operadores de caixa (CX)".
    QString label() const;
};

struct Task
{
    double order = 0;
    QString description;
    QString screen;
    QString module;
    QString periodicityCode;
    QString periodicity; // its name
    QString observation;
    QList<Responsible> responsibles;
};

struct Process
{
    qint64 number = 0;
    QString name;
    std::optional<QDate> start;
    std::optional<QDate> end;
    QString situation; // IDSITUACAO: "S" the day's activities agree with the tasks
    QList<Task> tasks;

    bool inForceOn(const QDate &day) const;
    bool endedBy(const QDate &day) const { return end && *end < day; }
    // "desde 08/11/2026", "de 09/09/2026 a 28/11/2026".
    QString validityText() const;
    // The validity on the server's day and the state of the day's activities.
    QString situationText(const QDate &today) const;
};

struct Header
{
    QString unitCode;
    QString unitName;
    QString operatorCode;
    QString operatorName;
    QDateTime issued; // the server's date and time
    QString scope; // what was chosen, as the header says it
};

struct Options
{
    // Unset: every process; set: only those in force on that day.
    std::optional<QDate> inForceOn;
    bool includeEnded = false;
    qint64 process = 0; // one process, or 0 for all
    // The header's words for the choice.
    QString describe() const;
};

struct Contents
{
    QString unitCode;
    QString unitName;
    QList<Process> processes;
};

// Reads the report packet; refuses rows out of order or of an unknown kind
// with EDatabaseError, so a damaged reply never prints half a unit.
Contents fromPacket(const DataPacket &packet);
// The processes the options keep; today is the server's date.
QList<Process> chosen(const QList<Process> &all, const Options &options, const QDate &today);

} // namespace Report
