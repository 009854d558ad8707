#include "ProcessReport.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include "DateTime.h"
#include "FrameworkServices.h"
#include "Guard.h"
#include "ModalDialogs.h"
#include "Packet.h"
#include "ReportCsv.h"
#include "TNetConnection.h"

using namespace Qt::StringLiterals;
using namespace Report;

namespace {

ProcessReport::FileChooser &fileChooser()
{
    static ProcessReport::FileChooser chooser = [](QWidget *parent, const QString &title, const QString &suggested,
                                                   const QString &filter) {
        return QFileDialog::getSaveFileName(parent, title, suggested, filter);
    };
    return chooser;
}

// The options: every process or those in force on a day, ended ones in or
// out, or a single process from the list.
class OptionsDialog : public QDialog
{
public:
    OptionsDialog(const ProcessReport &report, QWidget *parent)
        : QDialog(parent)
    {
        setObjectName(u"frmRelProcessos"_s);
        setWindowTitle(u"Processos da unidade"_s);
        auto *all = new QRadioButton(u"&Todos os processos"_s, this);
        all->setObjectName(u"rbTodos"_s);
        m_inForce = new QRadioButton(u"Somente os em &vigor em"_s, this);
        m_inForce->setObjectName(u"rbEmVigor"_s);
        m_date = new QDateEdit(report.today(), this);
        m_date->setObjectName(u"edtData"_s);
        m_date->setDisplayFormat(u"dd/MM/yyyy"_s);
        m_date->setCalendarPopup(true);
        m_ended = new QCheckBox(u"Incluir os processos &encerrados"_s, this);
        m_ended->setObjectName(u"chkEncerrados"_s);
        m_process = new QComboBox(this);
        m_process->setObjectName(u"cbxProcesso"_s);
        m_process->addItem(u"(todos os que as opções acima escolhem)"_s, qint64(0));
        for (const auto &[number, name] : report.processList()) {
            m_process->addItem(name, number);
        }
        all->setChecked(true);
        const auto follow = [this] {
            const bool many = m_process->currentIndex() <= 0;
            m_date->setEnabled(many && m_inForce->isChecked());
            m_ended->setEnabled(many);
        };
        connect(m_inForce, &QRadioButton::toggled, this, follow);
        connect(m_process, &QComboBox::currentIndexChanged, this, follow);
        follow();

        auto *buttons = new QDialogButtonBox(this);
        QPushButton *ok = buttons->addButton(u"&Visualizar"_s, QDialogButtonBox::AcceptRole);
        ok->setObjectName(u"btnVisualizar"_s);
        ok->setDefault(true);
        buttons->addButton(u"Cancelar"_s, QDialogButtonBox::RejectRole)->setObjectName(u"btnCancelar"_s);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

        auto *dates = new QHBoxLayout;
        dates->addWidget(m_inForce);
        dates->addWidget(m_date);
        dates->addStretch();
        auto *form = new QFormLayout;
        form->addRow(u"&Processo:"_s, m_process);
        auto *layout = new QVBoxLayout(this);
        layout->addWidget(all);
        layout->addLayout(dates);
        layout->addWidget(m_ended);
        layout->addLayout(form);
        layout->addWidget(buttons);
    }

    Options options() const
    {
        Options o;
        o.process = m_process->currentData().toLongLong();
        if (o.process == 0 && m_inForce->isChecked()) {
            o.inForceOn = m_date->date();
        }
        o.includeEnded = m_ended->isChecked();
        return o;
    }

private:
    QRadioButton *m_inForce;
    QDateEdit *m_date;
    QCheckBox *m_ended;
    QComboBox *m_process;
};

// A progress dialog with its Cancelar, kept answering while the work runs in
// the GUI thread.
class ProgressBox
{
public:
    ProgressBox(QWidget *parent, const QString &label)
        : m_dialog(label, u"Cancelar"_s, 0, 100, parent)
    {
        m_dialog.setObjectName(u"dlgProgresso"_s);
        m_dialog.setWindowTitle(u"Processos da unidade"_s);
        // Nothing else takes input meanwhile, so the events it lets through
        // reach only its own Cancelar.
        m_dialog.setWindowModality(Qt::ApplicationModal);
        m_dialog.setMinimumDuration(400);
    }
    ReportPages::Progress callback()
    {
        return [this](qsizetype done, qsizetype total) {
            m_dialog.setMaximum(int(total));
            m_dialog.setValue(int(done));
            QCoreApplication::processEvents();
            return !m_dialog.wasCanceled();
        };
    }

private:
    QProgressDialog m_dialog;
};

// The wait cursor for the length of a call to the server.
struct WaitCursor
{
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

ProcessReport::ProcessReport(QWidget *parent)
    : m_parent(parent)
    , m_connection(std::make_unique<TNetConnection>())
{
    m_connection->setServerName(u"PRU87000.rdmProcessoUnidade"_s);
    m_connection->BeforeConnect = [this](QObject *) {
        m_connection->setHost(WebURL());
        m_connection->setPort(WebPort());
    };
}

ProcessReport::~ProcessReport() = default;

void ProcessReport::setFileChooser(FileChooser chooser)
{
    fileChooser() = std::move(chooser);
}

void ProcessReport::start()
{
    WaitCursor wait;
    m_connection->Open();
    TAppServer *server = m_connection->AppServer();
    const QDateTime now = DateTime::toQDateTime(server->call(u"GetDataServidor"_s).number());
    m_today = now.date();
    m_header.issued = now;
    m_header.operatorCode = Operador();
    m_header.operatorName = m_connection->operatorName();
    const DataPacket list = DataPacket::decode(server->call(u"GetProcessos"_s).packet());
    const auto column = [&list](QStringView field) {
        return std::find_if(list.fields.cbegin(), list.fields.cend(),
                            [&](const FieldDef &f) { return f.name == field; })
               - list.fields.cbegin();
    };
    const qsizetype number = column(u"NRPROCESSOFILIAL");
    const qsizetype name = column(u"NMPROCESSOFILIAL");
    m_list.clear();
    for (const Row &row : list.rows) {
        m_list.append({qint64(row.value(number).toDouble()), row.value(name).toString()});
    }
}

void ProcessReport::load(const Options &options)
{
    WaitCursor wait;
    const RpcReply reply =
        m_connection->AppServer()->call(u"GetRelatorioProcessos"_s, QVariantList{double(options.process)});
    const Contents contents = fromPacket(DataPacket::decode(reply.packet()));
    m_header.unitCode = contents.unitCode;
    m_header.unitName = contents.unitName;
    m_header.scope = options.describe();
    m_processes = chosen(contents.processes, options, m_today);
}

bool ProcessReport::layOut(QWidget *progressParent)
{
    if (!progressParent) {
        return m_pages.layOut(m_header, m_processes, m_today);
    }
    ProgressBox progress(progressParent, u"Montando as páginas do relatório..."_s);
    return m_pages.layOut(m_header, m_processes, m_today, progress.callback());
}

QString ProcessReport::suggestedName(const QString &extension) const
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QDir(folder).filePath(
        u"processos-unidade-%1-%2.%3"_s.arg(m_header.unitCode, m_today.toString(u"yyyy-MM-dd"_s), extension));
}

bool ProcessReport::savePdf(const QString &path, QString *error) const
{
    if (!m_parent) {
        return m_pages.writePdf(path, error);
    }
    ProgressBox progress(QApplication::activeModalWidget() ? QApplication::activeModalWidget() : m_parent.data(),
                         u"Gravando o PDF..."_s);
    return m_pages.writePdf(path, error, progress.callback());
}

bool ProcessReport::saveCsv(const QString &path, QString *error) const
{
    // Written aside and renamed into place: a failure never leaves half a file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(ReportCsv::write(m_processes, m_today)) < 0 || !file.commit()) {
        *error = u"Não foi possível gravar %1: %2"_s.arg(path, file.errorString());
        return false;
    }
    return true;
}

void ProcessReport::preview()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(ReportPages::pageLayout());
    printer.setDocName(u"Processos da unidade %1"_s.arg(m_header.unitCode));
    QPrintPreviewDialog dialog(&printer, m_parent);
    dialog.setObjectName(u"dlgVisualizar"_s);
    dialog.setWindowTitle(u"Processos da unidade - %1 página(s)"_s.arg(m_pages.pageCount()));
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [this, &dialog](QPrinter *target) {
        // Drawing many pages takes a while. Cancelled before the preview
        // shows, it closes; while printing, the print job is dropped.
        ProgressBox progress(dialog.isVisible() ? static_cast<QWidget *>(&dialog) : m_parent.data(),
                             u"Desenhando as páginas..."_s);
        if (!m_pages.print(target, progress.callback())) {
            if (dialog.isVisible()) {
                target->abort();
            } else {
                QTimer::singleShot(0, &dialog, &QDialog::reject);
            }
        }
    });
    const auto save = [this, &dialog](const QString &title, const QString &extension, const QString &filter,
                                      bool (ProcessReport::*write)(const QString &, QString *) const) {
        guarded(&dialog, [&] {
            const QString path = fileChooser()(&dialog, title, suggestedName(extension), filter);
            QString error;
            if (!path.isEmpty() && !(this->*write)(path, &error) && !error.isEmpty()) {
                showError(error, &dialog);
            }
        });
    };
    if (auto *toolbar = dialog.findChild<QToolBar *>()) {
        toolbar->addSeparator();
        QAction *pdf = toolbar->addAction(u"Salvar PDF..."_s);
        pdf->setObjectName(u"actSalvarPdf"_s);
        QObject::connect(pdf, &QAction::triggered, &dialog,
                         [save] { save(u"Salvar PDF"_s, u"pdf"_s, u"PDF (*.pdf)"_s, &ProcessReport::savePdf); });
        QAction *csv = toolbar->addAction(u"Exportar CSV..."_s);
        csv->setObjectName(u"actExportarCsv"_s);
        QObject::connect(csv, &QAction::triggered, &dialog, [save] {
            save(u"Exportar CSV"_s, u"csv"_s, u"Planilha CSV (*.csv)"_s, &ProcessReport::saveCsv);
        });
    }
    dialog.exec();
}

void ProcessReport::open(QWidget *parent)
{
    guarded(parent, [parent] {
        // The options, the progress and the preview are modal: the keyboard
        // goes back where it was, with or without a window manager.
        DialogFocusReturn focusBack;
        ProcessReport report(parent);
        report.start();
        OptionsDialog options(report, parent);
        if (options.exec() != QDialog::Accepted) {
            return;
        }
        report.load(options.options());
        if (report.layOut(parent)) {
            report.preview();
        }
    });
}
