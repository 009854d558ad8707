#include "RecordSetDefinitions.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include "DataFiles.h"
#include "Exceptions.h"
#include "TClientDataSet.h"
#include "TField.h"

using namespace Qt::StringLiterals;

namespace RecordSetDefinitions {

namespace {

[[noreturn]] void fail(const QString &source, const QString &what)
{
    throw EDatabaseError(u"Definição de registros %1 inválida: %2"_s.arg(source, what));
}

FieldType fieldType(const QString &source, const QString &fieldName, const QString &text)
{
    if (const std::optional<FieldType> type = enumFromWire(fieldTypeNames, text)) {
        return *type;
    }
    fail(source, u"tipo \"%1\" desconhecido no campo %2"_s.arg(text, fieldName));
}

FieldDefinition parseField(const QString &source, const QJsonObject &def, const QString &levelTable)
{
    FieldDefinition field;
    field.name = def.value("name"_L1).toString();
    if (field.name.isEmpty()) {
        fail(source, u"campo sem nome"_s);
    }
    field.type = fieldType(source, field.name, def.value("type"_L1).toString());
    field.size = def.value("size"_L1).toInt(0);
    if (field.size < 0 || (field.type != FieldType::Text && field.size != 0)) {
        fail(source, u"tamanho inválido no campo %1"_s.arg(field.name));
    }
    field.calculated = def.value("calculated"_L1).toBool(false);
    field.required = def.value("required"_L1).toBool(false);
    field.checked = def.value("checked"_L1).toBool(false);
    if (field.calculated && field.saved()) {
        fail(source, u"o campo calculado %1 não é gravado"_s.arg(field.name));
    }
    field.table = def.value("table"_L1).toString(levelTable);
    if (field.saved() && field.table != levelTable) {
        fail(source, u"o campo %1 é gravado e vem de outra tabela"_s.arg(field.name));
    }
    field.label = def.value("label"_L1).toString();
    field.displayWidth = def.value("displayWidth"_L1).toInt(-1);
    field.visible = def.value("visible"_L1).toBool(true);
    return field;
}

} // namespace

const FieldDefinition *Definition::field(const QString &fieldName) const
{
    for (const FieldDefinition &f : fields) {
        if (f.name == fieldName) {
            return &f;
        }
    }
    return nullptr;
}

QList<FieldDef> Definition::packetFields() const
{
    QList<FieldDef> list;
    for (const FieldDefinition &f : fields) {
        if (!f.calculated) {
            list.append(f.def());
        }
    }
    return list;
}

QList<FieldDefinition> Definition::savedFields() const
{
    QList<FieldDefinition> list;
    for (const FieldDefinition &f : fields) {
        if (f.saved()) {
            list.append(f);
        }
    }
    return list;
}

Definition parse(const QString &json, const QString &sourceName)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        fail(sourceName, parseError.errorString());
    }
    const QJsonObject root = document.object();
    Definition definition;
    definition.name = root.value("name"_L1).toString();
    definition.table = root.value("table"_L1).toString();
    definition.key = root.value("key"_L1).toString();
    const QJsonValue fieldsValue = root.value("fields"_L1);
    if (!fieldsValue.isArray() || fieldsValue.toArray().isEmpty()) {
        fail(sourceName, u"lista de campos ausente"_s);
    }
    for (const QJsonValue &value : fieldsValue.toArray()) {
        const FieldDefinition field = parseField(sourceName, value.toObject(), definition.table);
        if (definition.field(field.name)) {
            fail(sourceName, u"campo %1 repetido"_s.arg(field.name));
        }
        definition.fields.append(field);
    }
    if (!definition.key.isEmpty()) {
        const FieldDefinition *key = definition.field(definition.key);
        if (!key || !key->required) {
            fail(sourceName, u"a chave %1 não é um campo obrigatório"_s.arg(definition.key));
        }
    }
    for (const QJsonValue &value : root.value("indexes"_L1).toArray()) {
        const QJsonObject def = value.toObject();
        IndexDefinition index{def.value("name"_L1).toString(), def.value("field"_L1).toString()};
        if (index.name.isEmpty() || !definition.field(index.field)) {
            fail(sourceName, u"índice %1 sobre campo desconhecido \"%2\""_s.arg(index.name, index.field));
        }
        definition.indexes.append(index);
    }
    definition.activeIndex = root.value("activeIndex"_L1).toString();
    return definition;
}

namespace {
QString pathOf(const QString &name)
{
    return u"recordsets/%1.json"_s.arg(name);
}
} // namespace

Definition load(const QString &name)
{
    return DataFiles::parsed(pathOf(name), &parse);
}

QStringList names()
{
    QStringList list;
    const QStringList files = QDir(u":/data/recordsets"_s).entryList({u"*.json"_s}, QDir::Files, QDir::Name);
    for (const QString &file : files) {
        list.append(file.chopped(5));
    }
    return list;
}

namespace {
void applyDefinition(TClientDataSet *dataSet, const Definition &definition, const QString &sourceName)
{
    if (!dataSet) {
        fail(sourceName, u"nenhum conjunto de registros"_s);
    }
    if (dataSet->Active()) {
        fail(sourceName, u"o conjunto de registros %1 já está aberto"_s.arg(dataSet->objectName()));
    }
    for (const FieldDefinition &def : definition.fields) {
        if (dataSet->FindField(def.name)) {
            fail(sourceName, u"campo %1 repetido"_s.arg(def.name));
        }
        TField *field = dataSet->addField(def.name, def.type, def.size, def.calculated);
        if (!def.label.isEmpty()) {
            field->setDisplayLabel(def.label);
        }
        if (def.displayWidth >= 0) {
            field->setDisplayWidth(def.displayWidth);
        }
        field->setVisible(def.visible);
    }
    for (const IndexDefinition &index : definition.indexes) {
        dataSet->addIndex(index.name, index.field);
    }
    if (!definition.activeIndex.isEmpty()) {
        dataSet->setIndexName(definition.activeIndex);
    }
}

} // namespace

void applyText(TClientDataSet *dataSet, const QString &json, const QString &sourceName)
{
    applyDefinition(dataSet, parse(json, sourceName), sourceName);
}

void apply(TClientDataSet *dataSet, const QString &name)
{
    applyDefinition(dataSet, load(name), pathOf(name));
}

} // namespace RecordSetDefinitions
