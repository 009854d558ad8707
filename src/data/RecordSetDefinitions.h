#pragma once

#include <QList>
#include <QString>

#include "Packet.h"
#include "definitions_export.h"

class TClientDataSet;

// The screen's record sets are described by files under ":/data/recordsets/",
// one per record set: its fields with type, size, label, display width,
// visibility and calculated flag, its indexes and which one is active. The
// same file tells the server what a level sends and how it saves it, so a
// level's fields and sizes are written in one place:
//   "table"       the level's table; "key" its key field (editable levels);
//   field "table" the table a looked-up field comes from (another than the
//                 level's), for the schema check;
//   "required"    a column that every change sent to the server must carry;
//   "checked"     a column the server writes itself (stamps, the owner's
//                 number): compared with the stored row when a change
//                 carries it, like the required ones.
namespace RecordSetDefinitions {

struct PRU_DEFINITIONS_EXPORT FieldDefinition
{
    QString name;
    FieldType type = FieldType::Number;
    int size = 0; // text only
    bool calculated = false;
    bool required = false;
    bool checked = false;
    QString table; // where the value is stored; the level's table unless a field names another
    QString label;
    int displayWidth = -1; // -1: the type's default
    bool visible = true;

    // Saved by the server: a change carries it and it is compared with the stored row.
    bool saved() const { return required || checked; }
    FieldDef def() const { return {name, type, type == FieldType::Text ? size : 0}; }
};

struct PRU_DEFINITIONS_EXPORT IndexDefinition
{
    QString name;
    QString field;
};

struct PRU_DEFINITIONS_EXPORT Definition
{
    QString name;
    QString table;
    QString key;
    QList<FieldDefinition> fields;
    QList<IndexDefinition> indexes;
    QString activeIndex;

    // nullptr when the record set has no such field.
    const FieldDefinition *field(const QString &fieldName) const;
    // The fields as they travel in a data packet: all but the calculated ones, in order.
    QList<FieldDef> packetFields() const;
    // The fields the server saves (required or checked), in order.
    QList<FieldDefinition> savedFields() const;
};

// The definition "<name>.json"; throws EDatabaseError for a missing or
// malformed definition, naming the file and what is wrong.
PRU_DEFINITIONS_EXPORT Definition load(const QString &name);
PRU_DEFINITIONS_EXPORT Definition parse(const QString &json, const QString &sourceName);
// Every record set that has a definition file, by name.
PRU_DEFINITIONS_EXPORT QStringList names();

// Adds the fields and indexes of the definition "<name>.json" to an inactive
// record set and activates the definition's index. Throws EDatabaseError for
// a missing or malformed definition, naming the file and what is wrong.
PRU_DEFINITIONS_EXPORT void apply(TClientDataSet *dataSet, const QString &name);

// Same, from the text of a definition (for checks of the format itself).
PRU_DEFINITIONS_EXPORT void applyText(TClientDataSet *dataSet, const QString &json, const QString &sourceName);

} // namespace RecordSetDefinitions
