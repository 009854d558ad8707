#include "OperadoresLevel.h"

#include <QPainter>

#include "Exceptions.h"
#include "FrameworkServices.h"
#include "GridKeys.h"
#include "RecordSetState.h"
#include "ScreenIcons.h"
#include "ScreenImage.h"
#include "TADOIBQuery.h"
#include "TColumn.h"
#include "TField.h"
#include "TMessages.h"
#include "TfrmProcessoUnidade.h"

using namespace Qt::StringLiterals;
using namespace RecordSetState;

namespace {
constexpr quint16 kVKey = 'V';
constexpr quint16 kXKey = 'X';

bool isFlagField(const QString &name)
{
    return name == "IDEXECUTA"_L1 || name == "IDVALIDA"_L1;
}

bool isCodeField(const QString &name)
{
    return name == "CDOPERADOR"_L1 || name == "CDGRUPOPER"_L1;
}
} // namespace

OperadoresLevel::OperadoresLevel(TfrmProcessoUnidade *screen)
    : QObject(screen)
    , m_screen(screen)
    , m_rows(screen->cdsOperadores)
    , m_grid(screen->dbgOperadores)
{
    setObjectName(u"operadores"_s);
    // The working copy carries the operator reactions too; they always act on
    // cdsOperadores and its grid, whichever record set fired them.
    for (TClientDataSet *ds : {m_rows, m_screen->cdsVdOperadores}) {
        ds->AfterOpen = [this](TClientDataSet *d) { cdsOperadoresAfterOpen(d); };
        ds->BeforeInsert = [this](TClientDataSet *d) { cdsOperadoresBeforeInsert(d); };
        ds->AfterInsert = [this](TClientDataSet *d) { cdsOperadoresAfterInsert(d); };
        ds->BeforeEdit = [this](TClientDataSet *d) { cdsOperadoresBeforeEdit(d); };
        ds->AfterEdit = [this](TClientDataSet *d) { cdsOperadoresAfterEdit(d); };
        ds->BeforePost = [this](TClientDataSet *d) { cdsOperadoresBeforePost(d); };
        ds->AfterCancel = [this](TClientDataSet *d) { cdsOperadoresAfterCancel(d); };
        ds->AfterDelete = [this](TClientDataSet *d) { cdsOperadoresAfterDelete(d); };
        ds->AfterScroll = [this](TClientDataSet *d) { cdsOperadoresAfterScroll(d); };
    }
    m_rows->FieldByName(u"CDOPERADOR"_s)->OnGetText = [this](TField *f, QString &text, bool display) {
        cdsOperadoresCDOPERADORGetText(f, text, display);
    };
    m_rows->FieldByName(u"CDGRUPOPER"_s)->OnGetText = [this](TField *f, QString &text, bool display) {
        cdsOperadoresCDGRUPOPERGetText(f, text, display);
    };

    TDBGrid *grid = m_grid;
    grid->OnEnter = [this](QObject *s) { dbgOperadoresEnter(s); };
    grid->OnColEnter = [this](QObject *s) { dbgOperadoresColEnter(s); };
    grid->OnColExit = [this](QObject *s) { dbgOperadoresColExit(s); };
    grid->OnEditButtonClick = [this](QObject *s) { dbgOperadoresEditButtonClick(s); };
    grid->OnDrawColumnCell = [this](QObject *s, QPainter &p, const QRect &r, int col, TColumn *c, TGridDrawState st) {
        dbgOperadoresDrawColumnCell(s, p, r, col, c, st);
    };
    grid->OnDblClick = [this](QObject *s) { dbgOperadoresDblClick(s); };
    grid->OnKeyDown = [this](QObject *sender, quint16 &key, Qt::KeyboardModifiers shift) {
        dbgOperadoresKeyDown(sender, key, shift);
    };
    grid->OnKeyPress = [this](QObject *sender, QChar &key) { dbgOperadoresKeyPress(sender, key); };
    // A stored row's operator or group opens no editor: neither keys nor the
    // editor's menu can paste another code in.
    grid->OnCellProtected = [this](QObject *) { return codeColumnSelected() && currentRowIsStored(); };
}

// ---------------------------------------------------------------------------
// Records

void OperadoresLevel::cdsOperadoresAfterOpen(TClientDataSet *)
{
    if (m_screen->currentGrid() == m_grid) {
        m_screen->Habilita(false);
    }
}

void OperadoresLevel::cdsOperadoresAfterScroll(TClientDataSet *)
{
    m_grid->setTag(m_rows->RecNo());
}

void OperadoresLevel::cdsOperadoresBeforeInsert(TClientDataSet *)
{
    TClientDataSet *operators = m_rows;
    if (isEmptySet(m_screen->cdsTarefas)) {
        Abort();
    }
    m_screen->Habilita(true);
    m_screen->cdsVdOperadores->SetDataFrom(*operators);
    detachGetText();
    try {
        if (!isEmptySet(operators)) {
            operators->FieldByName(u"CDOPERADOR"_s)->FocusControl();
        }
    } catch (...) {
        // No insert follows a refused before-insert: the names come back now.
        attachGetText();
        throw;
    }
}

void OperadoresLevel::cdsOperadoresAfterInsert(TClientDataSet *)
{
    TClientDataSet *operators = m_rows;
    operators->FieldByName(u"IDEXECUTA"_s)->setAsString(u"N"_s);
    operators->FieldByName(u"IDVALIDA"_s)->setAsString(u"N"_s);
    // A temporary key until the server gives the real one; the count leaves the new row out.
    operators->FieldByName(u"NRRESPATIVFILIAL"_s)->setAsFloat(-double(operators->RecordCount() + 1));
    attachGetText();
    m_screen->Habilita(true);
}

void OperadoresLevel::cdsOperadoresBeforeEdit(TClientDataSet *)
{
    if (isEmptySet(m_screen->cdsTarefas)) {
        Abort();
    }
    m_screen->Habilita(true);
    m_screen->cdsVdOperadores->SetDataFrom(*m_rows);
    detachGetText();
}

void OperadoresLevel::cdsOperadoresAfterEdit(TClientDataSet *)
{
    m_screen->Habilita(true);
    attachGetText();
}

void OperadoresLevel::cdsOperadoresBeforePost(TClientDataSet *)
{
    TClientDataSet *operators = m_rows;
    ValidaOperadores();
    operators->FieldByName(u"NRPROCESSOFILIAL"_s)
        ->setAsFloat(currentNumber(m_screen->cdsProcessos, u"NRPROCESSOFILIAL"_s).value_or(0));
    operators->FieldByName(u"NRATIVIDADEFILIAL"_s)->setAsFloat(m_screen->parentKey(m_rows));
    operators->FieldByName(u"CDOPERATU"_s)->setAsString(Operador());
}

void OperadoresLevel::ValidaOperadores()
{
    TClientDataSet *operators = m_rows;
    TField *operatorCode = operators->FieldByName(u"CDOPERADOR"_s);
    if (EmptyString(operatorCode->AsString()) && EmptyString(operators->FieldByName(u"CDGRUPOPER"_s)->AsString())) {
        operatorCode->FocusControl();
        MensErro(m_screen->msgPadrao->Msg(u"CdOpGrupopNull"_s), true);
    }
    // The code cell the user may still be in; the other was checked when left.
    // With both checked, an accepted operator empties the group first.
    const QString selected = selectedFieldName();
    if (selected != "CDGRUPOPER"_L1) {
        VdOperador();
    }
    if (selected != "CDOPERADOR"_L1) {
        VdGrupOper();
    }
}

void OperadoresLevel::cdsOperadoresAfterCancel(TClientDataSet *)
{
    if (m_rows->ChangeCount() == 0) {
        m_screen->Habilita(false);
    }
}

void OperadoresLevel::cdsOperadoresAfterDelete(TClientDataSet *)
{
    m_screen->SetOperadores();
    m_screen->Habilita(false);
    // Back on the same task once the levels above are reloaded.
    m_screen->reloadKeepingTask(0);
}

void OperadoresLevel::detachGetText()
{
    m_operatorTextOff.emplace(m_rows->FieldByName(u"CDOPERADOR"_s)->OnGetText);
    m_groupTextOff.emplace(m_rows->FieldByName(u"CDGRUPOPER"_s)->OnGetText);
}

void OperadoresLevel::attachGetText()
{
    m_operatorTextOff.reset();
    m_groupTextOff.reset();
}

// ---------------------------------------------------------------------------
// Lookups

const OperadoresLevel::ResponsibleKind &OperadoresLevel::operatorKind()
{
    static const ResponsibleKind kind{u"CDOPERADOR"_s,    u"NMOPERADOR"_s,      u"CDGRUPOPER"_s,
                                      u"DSGRUPOPER"_s,    u"TCDOPERADOR"_s,     12,
                                      u"CdOperadorInv"_s, u"CdOperadorJaCad"_s, false};
    return kind;
}

const OperadoresLevel::ResponsibleKind &OperadoresLevel::groupKind()
{
    static const ResponsibleKind kind{u"CDGRUPOPER"_s,    u"DSGRUPOPER"_s,      u"CDOPERADOR"_s,
                                      u"NMOPERADOR"_s,    u"TCDGRUPOPER"_s,     2,
                                      u"CdGrupoperInv"_s, u"CdGrupoperJaCad"_s, true};
    return kind;
}

TADOIBQuery *OperadoresLevel::queryOf(const ResponsibleKind &kind) const
{
    return kind.code == "CDOPERADOR"_L1 ? m_screen->qryVdOperador : m_screen->qryVdGrupoper;
}

void OperadoresLevel::codeOrName(TField *code, const QString &nameField, QString &text) const
{
    TDBGrid *grid = m_grid;
    TClientDataSet *operators = code->DataSet();
    if (selectedFieldName() == code->FieldName() && operators->RecNo() == grid->Tag() && grid->Focused()) {
        text = code->AsString();
    } else {
        text = operators->FieldByName(nameField)->AsString();
    }
}

void OperadoresLevel::cdsOperadoresCDOPERADORGetText(TField *sender, QString &text, bool)
{
    codeOrName(sender, u"NMOPERADOR"_s, text);
}

void OperadoresLevel::cdsOperadoresCDGRUPOPERGetText(TField *sender, QString &text, bool)
{
    codeOrName(sender, u"DSGRUPOPER"_s, text);
}

void OperadoresLevel::VdOperador()
{
    validateCode(operatorKind());
}

void OperadoresLevel::VdGrupOper()
{
    validateCode(groupKind());
}

void OperadoresLevel::validateCode(const ResponsibleKind &kind)
{
    TClientDataSet *operators = m_rows;
    TField *code = operators->FieldByName(kind.code);
    TField *name = operators->FieldByName(kind.name);
    if (EmptyString(code->AsString())) {
        // Nothing typed is no error here; the check before a post wants one of the two.
        code->setAsString(QString());
        name->setAsString(QString());
        return;
    }
    TADOIBQuery *query = queryOf(kind);
    query->Close();
    query->ParamByName(kind.allRowsParam)->setValue(QString());
    query->ParamByName(kind.code)->setValue(Ajusta(code->AsString(), kind.width));
    query->Open();
    if (query->IsEmpty()) {
        code->setAsString(QString());
        name->setAsString(QString());
        code->FocusControl();
        MensErro(m_screen->msgPadrao->Msg(kind.notFound), true);
    }
    // The code as the database holds it, against every other row of the task.
    const QString found = query->FieldByName(kind.code)->AsString();
    const QVariant ownKey = operators->FieldByName(u"NRRESPATIVFILIAL"_s)->Value();
    TClientDataSet *copy = m_screen->cdsVdOperadores;
    bool repeated = false;
    for (copy->First(); !copy->Eof() && !repeated; copy->Next()) {
        repeated = copy->FieldByName(u"NRRESPATIVFILIAL"_s)->Value() != ownKey
                   && copy->FieldByName(kind.code)->AsString() == found;
    }
    if (repeated) {
        if (kind.repeatKeepsName) {
            code->Clear();
        } else {
            code->setAsString(QString());
            name->setAsString(QString());
        }
        code->FocusControl();
        MensErro(m_screen->msgPadrao->Msg(kind.repeated), true);
    }
    code->setAsString(found);
    name->setAsString(query->FieldByName(kind.name)->AsString());
    // A row names an operator or a group, never both.
    operators->FieldByName(kind.otherCode)->setAsString(QString());
    operators->FieldByName(kind.otherName)->setAsString(QString());
}

void OperadoresLevel::GetOperadoresPesq()
{
    searchCode(operatorKind(), m_screen->dtsVdOperador, u"Operadores"_s);
}

void OperadoresLevel::GetGrupOper()
{
    searchCode(groupKind(), m_screen->dtsVdGrupoper, u"GrupoOperadores"_s);
}

void OperadoresLevel::searchCode(const ResponsibleKind &kind, TDataSource *list, const QString &titleKey)
{
    TADOIBQuery *query = queryOf(kind);
    query->Close();
    query->ParamByName(kind.code)->setValue(QString());
    query->ParamByName(kind.allRowsParam)->setValue(u"T"_s);
    query->Open();
    if (!Pesquisar(list, m_screen->msgPadrao->Msg(titleKey), false, true)) {
        return;
    }
    // Read before the edit, which may refill what the list stands on.
    const QString chosenCode = query->FieldByName(kind.code)->AsString();
    const QString chosenName = query->FieldByName(kind.name)->AsString();
    TClientDataSet *operators = m_rows;
    if (!inEditOrInsert(operators)) {
        operators->Edit();
    }
    // Checked for repeats, like a typed code, when the cell is left or the row posted.
    operators->FieldByName(kind.name)->setAsString(chosenName);
    operators->FieldByName(kind.code)->setAsString(chosenCode);
}

// ---------------------------------------------------------------------------
// Grid

QString OperadoresLevel::selectedFieldName() const
{
    const TColumn *column = m_grid->SelectedColumn();
    return column ? column->FieldName() : QString();
}

bool OperadoresLevel::flagColumnSelected() const
{
    return isFlagField(selectedFieldName());
}

bool OperadoresLevel::codeColumnSelected() const
{
    return isCodeField(selectedFieldName());
}

bool OperadoresLevel::currentRowIsStored() const
{
    const std::optional<double> key = currentNumber(m_rows, u"NRRESPATIVFILIAL"_s);
    return key && *key >= 0;
}

// Entering the grid leaves any editing mode: the commands follow its rows.
void OperadoresLevel::dbgOperadoresEnter(QObject *)
{
    m_screen->Habilita(false);
}

void OperadoresLevel::dbgOperadoresColEnter(QObject *)
{
    // The flags change by double click or Space, never through a cell editor.
    m_grid->setOption(dgEditing, !flagColumnSelected());
    m_grid->setTag(m_rows->RecNo());
}

void OperadoresLevel::dbgOperadoresColExit(QObject *)
{
    if (!inEditOrInsert(m_rows)) {
        return;
    }
    const QString leaving = selectedFieldName();
    if (leaving == "CDGRUPOPER"_L1) {
        VdGrupOper();
    } else if (leaving == "CDOPERADOR"_L1) {
        VdOperador();
    }
}

void OperadoresLevel::dbgOperadoresEditButtonClick(QObject *)
{
    // The operator or group of a stored row is not changed.
    if (isEmptySet(m_screen->cdsTarefas) || currentRowIsStored()) {
        return;
    }
    const QString selected = selectedFieldName();
    if (selected == "CDOPERADOR"_L1) {
        GetOperadoresPesq();
    } else if (selected == "CDGRUPOPER"_L1) {
        GetGrupOper();
    }
}

void OperadoresLevel::dbgOperadoresDrawColumnCell(QObject *, QPainter &painter, const QRect &rect, int dataCol,
                                                  TColumn *, TGridDrawState)
{
    TClientDataSet *operators = m_rows;
    TDBGrid *grid = m_grid;
    const TColumn *column = grid->Columns()->Items(dataCol);
    if (isEmptySet(operators) || !column || !isFlagField(column->FieldName()) || !column->Field()) {
        return;
    }
    const QString value = operators->displayTextAt(grid->DrawingRow(), column->Field());
    const QImage &picture = (value == "S"_L1 ? m_screen->imgChecked : m_screen->imgUnchecked)->Picture();
    const int offset = (rect.width() - picture.width()) / 2;
    // The cell's own background wipes out the letter the grid drew.
    const QColor background = painter.brush().color();
    painter.fillRect(rect, background);
    ScreenIcons::drawInCell(&painter, rect, offset, picture, background);
}

void OperadoresLevel::dbgOperadoresDblClick(QObject *)
{
    if (!flagColumnSelected()) {
        return;
    }
    TClientDataSet *operators = m_rows;
    if (!inEditOrInsert(operators)) {
        // On an empty record set this starts a new row.
        operators->Edit();
    }
    TField *flag = operators->FieldByName(selectedFieldName());
    flag->setAsString(flag->AsString() == "N"_L1 ? u"S"_s : u"N"_s);
}

void OperadoresLevel::dbgOperadoresKeyDown(QObject *sender, quint16 &key, Qt::KeyboardModifiers shift)
{
    if (key == GridKeys::Space) {
        dbgOperadoresDblClick(sender);
    }
    if (codeColumnSelected() && currentRowIsStored()) {
        // Deleting, cutting or pasting would change a stored row's code.
        const bool ctrl = shift.testFlag(Qt::ControlModifier);
        const bool clipboard =
            (ctrl && (key == kVKey || key == kXKey)) || (shift.testFlag(Qt::ShiftModifier) && key == GridKeys::Insert);
        if (key == GridKeys::Backspace || key == GridKeys::Delete || clipboard) {
            key = 0;
        }
    }
    // An operator goes only through the screen's Delete command, with its question.
    if (GridKeys::isCtrlDelete(key, shift)) {
        key = 0;
    }
}

void OperadoresLevel::dbgOperadoresKeyPress(QObject *, QChar &key)
{
    if (codeColumnSelected() && currentRowIsStored() && key != QChar(9) && key != QChar(13)) {
        key = QChar();
    }
}
