#include "ProcessosLevel.h"

#include <QAction>
#include <QMainWindow>
#include <QPainter>
#include <QToolButton>

#include "DateTime.h"
#include "FrameworkServices.h"
#include "GridKeys.h"
#include "Guard.h"
#include "MessageFormat.h"
#include "ModalDialogs.h"
#include "RecordSetState.h"
#include "ScreenIcons.h"
#include "ScreenImage.h"
#include "TButtonFlat.h"
#include "TField.h"
#include "TMessages.h"
#include "TNetConnection.h"
#include "TfrmProcessoUnidade.h"

using namespace Qt::StringLiterals;
using namespace RecordSetState;

namespace {
constexpr char16_t kTabChar = 9;
constexpr char16_t kReturnChar = 13;

// "dd/MM/yyyy HH:mm:ss" of a day count, written digit by digit: the same text
// as QDateTime::toString with that format, without reading the format at
// every one of a load's rows.
QString dayAndTime(double days)
{
    const QDateTime when = DateTime::toQDateTime(days);
    const QDate date = when.date();
    const QTime time = when.time();
    if (!when.isValid() || date.year() < 0 || date.year() > 9999) {
        return when.toString(u"dd/MM/yyyy HH:mm:ss"_s);
    }
    QString text(19, Qt::Uninitialized);
    QChar *out = text.data();
    auto put = [&out](int value, int digits) {
        for (int d = digits - 1; d >= 0; --d) {
            out[d] = QChar(u'0' + value % 10);
            value /= 10;
        }
        out += digits;
    };
    auto separator = [&out](char16_t c) { *out++ = QChar(c); };
    put(date.day(), 2);
    separator(u'/');
    put(date.month(), 2);
    separator(u'/');
    put(date.year(), 4);
    separator(u' ');
    put(time.hour(), 2);
    separator(u':');
    put(time.minute(), 2);
    separator(u':');
    put(time.second(), 2);
    return text;
}
} // namespace

ProcessosLevel::ProcessosLevel(TfrmProcessoUnidade *screen)
    : QObject(screen)
    , m_screen(screen)
    , m_rows(screen->cdsProcessos)
    , m_grid(screen->dbgPadrao)
{
    setObjectName(u"processos"_s);
    TClientDataSet *cds = m_rows;
    cds->AfterOpen = [this](TClientDataSet *ds) { cdsProcessosAfterOpen(ds); };
    cds->AfterScroll = [this](TClientDataSet *ds) { cdsProcessosAfterScroll(ds); };
    cds->BeforeInsert = [this](TClientDataSet *ds) { cdsProcessosBeforeInsert(ds); };
    cds->AfterInsert = [this](TClientDataSet *ds) { cdsProcessosAfterInsert(ds); };
    cds->BeforeEdit = [this](TClientDataSet *ds) { cdsProcessosBeforeEdit(ds); };
    cds->BeforePost = [this](TClientDataSet *ds) { cdsProcessosBeforePost(ds); };
    cds->AfterCancel = [this](TClientDataSet *ds) { cdsProcessosAfterCancel(ds); };
    cds->BeforeDelete = [this](TClientDataSet *ds) { cdsProcessosBeforeDelete(ds); };
    cds->AfterDelete = [this](TClientDataSet *ds) { cdsProcessosAfterDelete(ds); };
    cds->OnCalcFields = [this](TClientDataSet *ds) { cdsProcessosCalcFields(ds); };
    m_screen->cdsProcessosDTINIVIGENCIA->OnSetText = [this](TField *f, const QString &text) {
        cdsProcessosDTINIVIGENCIASetText(f, text);
    };
    m_screen->cdsProcessosDTFINVIGENCIA->OnSetText = [this](TField *f, const QString &text) {
        cdsProcessosDTFINVIGENCIASetText(f, text);
    };
    TDBGrid *grid = m_grid;
    grid->OnDrawColumnCell = [this](QObject *sender, QPainter &painter, const QRect &rect, int dataCol, TColumn *column,
                                    TGridDrawState state) {
        dbgPadraoDrawColumnCell(sender, painter, rect, dataCol, column, state);
    };
    grid->OnColEnter = [this](QObject *sender) { dbgPadraoColEnter(sender); };
    grid->OnColExit = [this](QObject *sender) { dbgPadraoColExit(sender); };
    grid->OnKeyDown = [this](QObject *sender, quint16 &key, Qt::KeyboardModifiers shift) {
        dbgPadraoKeyDown(sender, key, shift);
    };
    grid->OnKeyPress = [this](QObject *sender, QChar &key) { dbgPadraoKeyPress(sender, key); };
    // A saved process's start (and an ended one's end) opens no editor at all,
    // so no paste route is left open either.
    grid->OnCellProtected = [this](QObject *) { return isProtectedDateCell(); };
    connect(m_screen->sbtRedefinir, &QToolButton::clicked, this,
            [this] { guarded(m_screen, [this] { sbtRedefinirClick(m_screen->sbtRedefinir); }); });
    // F6 and the menu item run the command too: a user who presses F6 expects it to.
    m_screen->mnuRedefinir->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_screen->addAction(m_screen->mnuRedefinir);
    connect(m_screen->mnuRedefinir, &QAction::triggered, this,
            [this] { guarded(m_screen, [this] { sbtRedefinirClick(m_screen->mnuRedefinir); }); });
}

void ProcessosLevel::cdsProcessosAfterOpen(TClientDataSet *)
{
    if (m_screen->currentGrid() == m_grid) {
        m_screen->Habilita(false);
    }
    if (isEmptySet(m_rows)) {
        m_screen->emptyBelow(m_rows);
    }
}

void ProcessosLevel::cdsProcessosAfterScroll(TClientDataSet *)
{
    if (m_rows->State() != TDataSetState::dsBrowse) {
        return;
    }
    const std::optional<double> nrProcesso = currentNumber(m_rows, u"NRPROCESSOFILIAL"_s);
    if (!nrProcesso) {
        m_screen->emptyBelow(m_rows);
    } else {
        m_screen->GetTarefas(*nrProcesso, false);
    }
    if (!m_screen->isEditing()) {
        m_screen->Habilita(false);
    }
}

void ProcessosLevel::cdsProcessosBeforeInsert(TClientDataSet *)
{
    m_screen->Habilita(true);
    if (!isEmptySet(m_rows)) {
        m_rows->FieldByName(u"NMPROCESSOFILIAL"_s)->FocusControl();
    }
}

void ProcessosLevel::cdsProcessosAfterInsert(TClientDataSet *)
{
    m_screen->emptyBelow(m_rows);
    m_rows->FieldByName(u"IDSITUACAO"_s)->setAsString(u"S"_s);
    m_screen->cdsProcessosDTINIVIGENCIA->setAsDateTime(m_screen->dtAtualServidor + 1);
}

void ProcessosLevel::cdsProcessosBeforeEdit(TClientDataSet *)
{
    m_screen->Habilita(true);
}

void ProcessosLevel::cdsProcessosBeforePost(TClientDataSet *)
{
    ValidaProcessos();
    m_rows->FieldByName(u"CDOPERATU"_s)->setAsString(Operador());
}

void ProcessosLevel::ValidaProcessos()
{
    TField *name = m_rows->FieldByName(u"NMPROCESSOFILIAL"_s);
    if (EmptyString(name->AsString())) {
        refuse(name, u"NmProcessoNull"_s);
    }
    VdVigencia();
}

void ProcessosLevel::refuse(TField *field, const QString &key)
{
    field->FocusControl();
    MensErro(m_screen->msgPadrao->Msg(key), true);
}

void ProcessosLevel::VdVigencia()
{
    if (m_rows->State() == TDataSetState::dsInsert) {
        VdDtIniVigencia(true);
    }
    VdDtFinVigencia();
    TField *end = m_screen->cdsProcessosDTFINVIGENCIA;
    // A missing start reads as day zero, so any end passes here.
    if (!EmptyString(end->AsString()) && end->AsDateTime() < m_screen->cdsProcessosDTINIVIGENCIA->AsDateTime()) {
        refuse(end, u"DtFin>DtIni"_s);
    }
}

void ProcessosLevel::VdDtIniVigencia(bool required)
{
    TField *start = m_screen->cdsProcessosDTINIVIGENCIA;
    if (EmptyString(start->AsString())) {
        if (required) {
            refuse(start, u"DataIniVigNull"_s);
        }
        return;
    }
    if (start->AsDateTime() < m_screen->dtAtualServidor) {
        refuse(start, u"Data<Atual"_s);
    }
}

void ProcessosLevel::VdDtFinVigencia()
{
    TField *end = m_screen->cdsProcessosDTFINVIGENCIA;
    if (!EmptyString(end->AsString()) && end->AsDateTime() < m_screen->dtAtualServidor) {
        refuse(end, u"Data<Atual"_s);
    }
}

void ProcessosLevel::ValidaData(TField *field, const QString &text)
{
    QString digits = text;
    digits.remove(u'/');
    if (EmptyString(digits)) {
        field->Clear();
        return;
    }
    const std::optional<double> day = DateTime::fromDayMonthYear(text);
    if (!day || *day <= 0) {
        field->Clear();
        MensErro(formatMessage(m_screen->msgPadrao->Msg(u"DataInv"_s), text), true);
    }
    field->setAsDateTime(*day);
}

void ProcessosLevel::cdsProcessosDTINIVIGENCIASetText(TField *sender, const QString &text)
{
    ValidaData(sender, text);
}

void ProcessosLevel::cdsProcessosDTFINVIGENCIASetText(TField *sender, const QString &text)
{
    ValidaData(sender, text);
}

void ProcessosLevel::cdsProcessosAfterCancel(TClientDataSet *)
{
    if (m_rows->ChangeCount() == 0) {
        m_screen->Habilita(false);
    }
}

void ProcessosLevel::cdsProcessosBeforeDelete(TClientDataSet *)
{
    TClientDataSet *activities = m_screen->cdsAtividades;
    m_screen->boExcluiAtividades = false;
    m_screen->nrProcessoExcl = m_rows->FieldByName(u"NRPROCESSOFILIAL"_s)->AsString();
    activities->SetData(m_screen->callServer(u"GetAtividades"_s, {m_screen->nrProcessoExcl}).packet());
    if (isEmptySet(activities)) {
        return;
    }
    activities->First();
    m_screen->boExcluiAtividades = true;
    m_screen->boAtivExecutada = false;
    TField *concludedBy = activities->FieldByName(u"CDOPERCONCL"_s);
    TField *concludedAt = activities->FieldByName(u"DTCONCLUSAO"_s);
    while (!activities->Eof()) {
        // Executed means both who and when; either alone is still pending.
        if (!EmptyString(concludedBy->AsString()) && !concludedAt->IsNull()) {
            m_screen->boAtivExecutada = true;
            refuse(m_rows->FieldByName(u"NMPROCESSOFILIAL"_s), u"PROC_N_EXC"_s);
        }
        activities->Next();
    }
    if (m_screen->msgPadrao->ShowMsg(u"PROC_C_ATIV"_s, mtConfirmation, TMsgDlgButtons(mbYes) | mbNo, 0) == mrNo) {
        Abort();
    }
}

void ProcessosLevel::cdsProcessosAfterDelete(TClientDataSet *)
{
    if (m_screen->boExcluiAtividades) {
        // Pending activities go before the process itself.
        try {
            m_screen->callServer(u"SetAtividades"_s, {m_screen->nrProcessoExcl});
        } catch (...) {
            // The process is still on the server: its row comes back, as after
            // a failed save while browsing, and the error is shown.
            if (!m_screen->isEditing()) {
                m_rows->CancelUpdates();
            }
            throw;
        }
    }
    m_screen->SetProcessos();
    m_screen->sbtVerificarClick(m_screen);
    m_screen->Habilita(false);
}

TField *ProcessosLevel::processField(QPointer<TField> &kept, const QString &name) const
{
    if (!kept) {
        kept = m_rows->FieldByName(name);
    }
    return kept;
}

void ProcessosLevel::cdsProcessosCalcFields(TClientDataSet *)
{
    // Runs for each of the rows a load brings: the fields are looked up once.
    const QString name = processField(m_operatorName, u"NMOPERADOR"_s)->AsString();
    if (EmptyString(name)) {
        return;
    }
    const double when = processField(m_updatedAt, u"DTATUALIZACAO"_s)->AsDateTime();
    processField(m_lastUpdate, u"ULTATU"_s)->setAsString(name + u" - "_s + dayAndTime(when));
}

bool ProcessosLevel::selectedColumnShows(const QString &fieldName) const
{
    const TColumn *column = m_grid->SelectedColumn();
    return column && column->FieldName() == fieldName;
}

bool ProcessosLevel::isProtectedDateCell() const
{
    bool dateCell = selectedColumnShows(u"DTINIVIGENCIA"_s);
    if (!dateCell && selectedColumnShows(u"DTFINVIGENCIA"_s)) {
        const QVariant stored = m_screen->cdsProcessosDTFINVIGENCIA->OldValue();
        dateCell = stored.isValid() && stored.toDouble() < m_screen->dtAtualServidor;
    }
    if (!dateCell) {
        return false;
    }
    // A row the server has not numbered yet is new: its dates are still open.
    const std::optional<double> number = currentNumber(m_rows, u"NRPROCESSOFILIAL"_s);
    return number && *number >= 0;
}

void ProcessosLevel::dbgPadraoDrawColumnCell(QObject *, QPainter &painter, const QRect &rect, int dataCol, TColumn *,
                                             TGridDrawState)
{
    TDBGrid *grid = m_grid;
    const TColumn *shown = grid->Columns()->Items(dataCol);
    if (isEmptySet(m_rows) || !shown || shown->FieldName() != "IDSITUACAO"_L1 || grid->DrawingRow() < 0) {
        return;
    }
    const QString situation = m_rows->textAt(grid->DrawingRow(), m_rows->FieldByName(u"IDSITUACAO"_s));
    const QImage &picture = (situation == "S"_L1 ? m_screen->imgOK : m_screen->imgRecalc)->Picture();
    // The brush covers the letter drawn by default; olive pixels take its colour.
    const QColor background = painter.brush().color();
    painter.fillRect(rect, background);
    ScreenIcons::drawInCell(&painter, rect, (rect.width() - picture.width()) / 2, picture, background);
}

void ProcessosLevel::dbgPadraoColEnter(QObject *)
{
    // The situation is the server's to set: no editor opens in its column.
    m_grid->setOption(dgEditing, !selectedColumnShows(u"IDSITUACAO"_s));
}

void ProcessosLevel::dbgPadraoColExit(QObject *)
{
    TClientDataSet *processes = m_rows;
    if (isEmptySet(processes) || !inEditOrInsert(processes)) {
        return;
    }
    if (selectedColumnShows(u"DTINIVIGENCIA"_s) && processes->State() == TDataSetState::dsInsert) {
        VdDtIniVigencia(false);
    }
    if (selectedColumnShows(u"DTFINVIGENCIA"_s)) {
        VdDtFinVigencia();
    }
}

void ProcessosLevel::dbgPadraoKeyDown(QObject *, quint16 &key, Qt::KeyboardModifiers)
{
    if ((key == GridKeys::Backspace || key == GridKeys::Delete) && isProtectedDateCell()) {
        key = 0;
    }
}

void ProcessosLevel::dbgPadraoKeyPress(QObject *, QChar &key)
{
    if (key != QChar(kTabChar) && key != QChar(kReturnChar) && isProtectedDateCell()) {
        key = QChar();
    }
}

void ProcessosLevel::sbtRedefinirClick(QObject *)
{
    {
        BusyIndicatorScope busy(MainWindow(), 1);
        m_screen->callServer(u"RedefinirAtividadesDia"_s,
                             {m_rows->FieldByName(u"NRPROCESSOFILIAL"_s)->AsString(), Operador()});
    }
    m_screen->Atualiza(m_rows, 0);
    ModalDialogs::messageBox(m_screen->msgPadrao->Msg(u"RedefSucess"_s), mtInformation, mbOK, {}, m_screen);
}
