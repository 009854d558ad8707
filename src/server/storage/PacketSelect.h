#pragma once

#include <QByteArray>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

#include <memory>
#include <optional>

#include "Packet.h"

// A SELECT a session runs on every call, prepared once on the session's
// connection and read straight from the engine's own library (SQLite,
// libpq) into the bytes of a data packet: no QVariant, no row list, no
// second encoding. Another driver is read through QSqlQuery. Each run is
// reset before it returns, so no statement stays open between calls.
// Used only in the thread of its connection, and gone before the connection.
class PacketSelect
{
public:
    // text takes "?" placeholders (none inside literals).
    PacketSelect(QSqlDatabase &db, const QString &text);
    ~PacketSelect();
    PacketSelect(const PacketSelect &) = delete;
    PacketSelect &operator=(const PacketSelect &) = delete;

    // The rows as a packet of fields, each read from the column of its name.
    // values are whole numbers (qint64) or texts.
    QByteArray packet(const QVariantList &values, const QList<FieldDef> &fields);
    // Rows headed by the unit of their owner (column CDUNIDADE): another
    // unit's owner is refused, the row of nulls of an owner without children
    // (a null first field) is skipped.
    QByteArray ownedPacket(const QVariantList &values, const QList<FieldDef> &fields, const QString &unit);

    class Cursor;

private:
    QByteArray read(const QVariantList &values, const QList<FieldDef> &fields, const QString *unit);

    std::unique_ptr<Cursor> m_cursor;
    // Kept from run to run: the packet's head is written once per fields.
    std::optional<DataPacketWriter> m_writer;
};
