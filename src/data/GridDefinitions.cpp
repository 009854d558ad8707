#include "GridDefinitions.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include "DataFiles.h"
#include "Exceptions.h"
#include "TDBGrid.h"

using namespace Qt::StringLiterals;

namespace GridDefinitions {

namespace {

[[noreturn]] void fail(const QString &source, const QString &what)
{
    throw EDatabaseError(u"Definição de grade %1 inválida: %2"_s.arg(source, what));
}

Qt::Alignment alignment(const QString &source, const QJsonValue &value)
{
    const QString text = value.toString(u"left"_s);
    if (text == "left"_L1) {
        return Qt::AlignLeft;
    }
    if (text == "center"_L1) {
        return Qt::AlignHCenter;
    }
    if (text == "right"_L1) {
        return Qt::AlignRight;
    }
    fail(source, u"alinhamento \"%1\" desconhecido"_s.arg(text));
}

const QStringList &knownOptions()
{
    static const QStringList options{u"editing"_s,  u"titles"_s, u"columnResize"_s,        u"columnLines"_s,
                                     u"rowLines"_s, u"tabs"_s,   u"alwaysShowSelection"_s, u"cancelOnExit"_s};
    return options;
}

} // namespace

Grid parse(const QString &json, const QString &sourceName)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        fail(sourceName, parseError.errorString());
    }
    const QJsonObject root = document.object();
    Grid grid;
    grid.name = root.value("name"_L1).toString();
    if (root.contains("options"_L1)) {
        grid.hasOptions = true;
        for (const QJsonValue &value : root.value("options"_L1).toArray()) {
            const QString option = value.toString();
            if (!knownOptions().contains(option)) {
                fail(sourceName, u"opção \"%1\" desconhecida"_s.arg(option));
            }
            grid.options << option;
        }
    }
    const QJsonArray columns = root.value("columns"_L1).toArray();
    if (columns.isEmpty()) {
        fail(sourceName, u"lista de colunas ausente"_s);
    }
    for (const QJsonValue &value : columns) {
        const QJsonObject def = value.toObject();
        Column column;
        column.fieldName = def.value("field"_L1).toString();
        if (column.fieldName.isEmpty()) {
            fail(sourceName, u"coluna sem campo"_s);
        }
        column.title = def.value("title"_L1).toString();
        column.width = def.value("width"_L1).toInt(-1);
        column.readOnly = def.value("readOnly"_L1).toBool(false);
        column.alignment = alignment(sourceName, def.value("alignment"_L1));
        column.titleAlignment = alignment(sourceName, def.value("titleAlignment"_L1));
        column.ellipsisButton = def.value("ellipsis"_L1).toBool(false);
        grid.columns << column;
    }
    return grid;
}

Grid load(const QString &gridName)
{
    return DataFiles::parsed(u"grids/%1.json"_s.arg(gridName), &parse);
}

void apply(TDBGrid *grid, const QString &gridName)
{
    const Grid definition = load(gridName);
    TDBGridColumns *columns = grid->Columns();
    columns->Clear();
    for (const Column &def : definition.columns) {
        TColumn *column = columns->Add(def.fieldName);
        if (!def.title.isEmpty()) {
            column->setTitle(def.title);
        }
        if (def.width >= 0) {
            column->setWidth(def.width);
        }
        column->setReadOnly(def.readOnly);
        column->setAlignment(def.alignment | Qt::AlignVCenter);
        column->setTitleAlignment(def.titleAlignment | Qt::AlignVCenter);
        if (def.ellipsisButton) {
            column->setButtonStyle(cbsEllipsis);
        }
    }
    if (!definition.hasOptions) {
        return;
    }
    static const QHash<QString, TDBGridOption> flags{{u"editing"_s, dgEditing},
                                                     {u"titles"_s, dgTitles},
                                                     {u"columnResize"_s, dgColumnResize},
                                                     {u"columnLines"_s, dgColLines},
                                                     {u"rowLines"_s, dgRowLines},
                                                     {u"tabs"_s, dgTabs},
                                                     {u"alwaysShowSelection"_s, dgAlwaysShowSelection},
                                                     {u"cancelOnExit"_s, dgCancelOnExit}};
    TDBGridOptions options;
    for (const QString &option : definition.options) {
        options |= flags.value(option);
    }
    grid->setOptions(options);
}

} // namespace GridDefinitions
