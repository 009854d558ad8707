#pragma once

#include <QString>

#include "ModalDialogs.h"
#include "Packet.h"
#include "TClientDataSet.h"

using namespace Qt::StringLiterals;

// A small record set of people: code, name, birth date, flag.
inline QList<FieldDef> peopleDefs()
{
    return {{u"CODIGO"_s, FieldType::Number, 0},
            {u"NOME"_s, FieldType::Text, 20},
            {u"NASCIMENTO"_s, FieldType::DateTime, 0},
            {u"ATIVO"_s, FieldType::Text, 1}};
}

inline void definePeople(TClientDataSet &ds)
{
    for (const FieldDef &def : peopleDefs()) {
        ds.addField(def.name, def.type, def.size);
    }
}

inline DataPacket people(int count)
{
    static const QStringList names = {u"Ana"_s,   u"Bruno"_s, u"Carla"_s, u"Davi"_s, u"Elisa"_s,
                                      u"Fabio"_s, u"Gabi"_s,  u"Hugo"_s,  u"Iara"_s, u"Joao"_s};
    DataPacket p;
    p.fields = peopleDefs();
    for (int i = 0; i < count; ++i) {
        p.rows.append(Row{double(i + 1), names.at(i % names.size()), QVariant(), u"S"_s});
    }
    return p;
}

// Every test starts with no armed answer and no record of dialogs.
inline void resetDialogs()
{
    ModalDialogs::clearAnswers();
    ModalDialogs::clearShown();
}
