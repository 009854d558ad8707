#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QSqlDatabase>

class QCommandLineParser;
class QTextStream;

// The command-line side of the reference data (ReferenceData): options to
// add, change, remove, list, import and export each kind.
namespace ReferenceCommands {
QList<QCommandLineOption> options();
bool requested(const QCommandLineParser &parser);
// Runs every reference command given, in a fixed order; throws EDatabaseError.
void run(const QCommandLineParser &parser, QSqlDatabase &db, QTextStream &out);
} // namespace ReferenceCommands
