#include "RecordSetDefinitions.h"

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
    if (const std::optional<FieldType> type = fieldTypeFromName(text)) {
        return *type;
    }
    fail(source, u"tipo \"%1\" desconhecido no campo %2"_s.arg(text, fieldName));
}

} // namespace

void applyText(TClientDataSet *dataSet, const QString &json, const QString &sourceName)
{
    if (!dataSet) {
        fail(sourceName, u"nenhum conjunto de registros"_s);
    }
    if (dataSet->Active()) {
        fail(sourceName, u"o conjunto de registros %1 já está aberto"_s.arg(dataSet->objectName()));
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        fail(sourceName, parseError.errorString());
    }
    const QJsonObject root = document.object();
    const QJsonValue fieldsValue = root.value("fields"_L1);
    if (!fieldsValue.isArray() || fieldsValue.toArray().isEmpty()) {
        fail(sourceName, u"lista de campos ausente"_s);
    }
    for (const QJsonValue &value : fieldsValue.toArray()) {
        const QJsonObject def = value.toObject();
        const QString name = def.value("name"_L1).toString();
        if (name.isEmpty()) {
            fail(sourceName, u"campo sem nome"_s);
        }
        if (dataSet->FindField(name)) {
            fail(sourceName, u"campo %1 repetido"_s.arg(name));
        }
        const FieldType type = fieldType(sourceName, name, def.value("type"_L1).toString());
        const int size = def.value("size"_L1).toInt(0);
        if (size < 0 || (type != FieldType::Text && size != 0)) {
            fail(sourceName, u"tamanho inválido no campo %1"_s.arg(name));
        }
        TField *field = dataSet->addField(name, type, size, def.value("calculated"_L1).toBool(false));
        if (def.contains("label"_L1)) {
            field->setDisplayLabel(def.value("label"_L1).toString());
        }
        if (def.contains("displayWidth"_L1)) {
            field->setDisplayWidth(def.value("displayWidth"_L1).toInt());
        }
        field->setVisible(def.value("visible"_L1).toBool(true));
    }
    for (const QJsonValue &value : root.value("indexes"_L1).toArray()) {
        const QJsonObject def = value.toObject();
        const QString indexName = def.value("name"_L1).toString();
        const QString fieldName = def.value("field"_L1).toString();
        if (indexName.isEmpty() || !dataSet->FindField(fieldName)) {
            fail(sourceName, u"índice %1 sobre campo desconhecido \"%2\""_s.arg(indexName, fieldName));
        }
        dataSet->addIndex(indexName, fieldName);
    }
    const QString activeIndex = root.value("activeIndex"_L1).toString();
    if (!activeIndex.isEmpty()) {
        dataSet->setIndexName(activeIndex);
    }
}

void apply(TClientDataSet *dataSet, const QString &name)
{
    const QString path = u"recordsets/%1.json"_s.arg(name);
    applyText(dataSet, DataFiles::read(path), path);
}

} // namespace RecordSetDefinitions
