// Pesquisar (search list) and Procura (find dialog).
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

#include "Exceptions.h"
#include "FrameworkServices.h"
#include "ModalDialogs.h"
#include "TDataSource.h"

using namespace Qt::StringLiterals;

namespace {
// A list that chooses with Enter (and double click) and closes with Esc.
class SearchList : public QTableView
{
public:
    using QTableView::QTableView;
    std::function<void()> onChoose;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && onChoose) {
            onChoose();
            event->accept();
            return;
        }
        QTableView::keyPressEvent(event);
    }
};

class SearchDialog : public QDialog
{
public:
    SearchDialog(TClientDataSet *ds, const QString &title, bool showFilter, QWidget *parent)
        : QDialog(parent)
    {
        setObjectName(u"frmPesquisa"_s);
        setWindowTitle(title);
        setModal(true);
        resize(520, 360);

        m_source = new QStandardItemModel(this);
        QStringList headers;
        for (TField *f : ds->Fields()) {
            if (f->Visible()) {
                m_fields << f;
                headers << f->DisplayLabel();
            }
        }
        m_source->setHorizontalHeaderLabels(headers);
        const int rows = ds->RecordCount();
        for (int r = 0; r < rows; ++r) {
            QList<QStandardItem *> items;
            for (TField *f : std::as_const(m_fields)) {
                auto *item = new QStandardItem(ds->displayTextAt(r, f));
                item->setData(r, Qt::UserRole);
                item->setEditable(false);
                items << item;
            }
            m_source->appendRow(items);
        }
        m_proxy = new QSortFilterProxyModel(this);
        m_proxy->setSourceModel(m_source);
        m_proxy->setFilterKeyColumn(-1);
        m_proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);

        m_filter = new QLineEdit(this);
        m_filter->setObjectName(u"edtFiltro"_s);
        m_filter->setPlaceholderText(u"Filtrar"_s);
        m_filter->setVisible(showFilter);
        m_filter->installEventFilter(this);

        m_list = new SearchList(this);
        m_list->setObjectName(u"grdPesquisa"_s);
        m_list->setModel(m_proxy);
        m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
        m_list->setSelectionMode(QAbstractItemView::SingleSelection);
        m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_list->verticalHeader()->hide();
        m_list->horizontalHeader()->setStretchLastSection(true);
        m_list->onChoose = [this] { choose(); };
        connect(m_list, &QAbstractItemView::doubleClicked, this, [this] { choose(); });

        auto [buttons, ok, cancel] = makeOkCancelButtons(this);
        connect(ok, &QPushButton::clicked, this, [this] { choose(); });
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
        ok->setAutoDefault(false);
        cancel->setAutoDefault(false);

        auto *layout = new QVBoxLayout(this);
        layout->addWidget(m_filter);
        layout->addWidget(m_list, 1);
        layout->addWidget(buttons);

        connect(m_filter, &QLineEdit::textChanged, this, [this](const QString &text) { setFilter(text); });
        selectFirst();
        if (showFilter) {
            m_filter->setFocus();
        } else {
            m_list->setFocus();
        }
    }

    void setFilter(const QString &text)
    {
        if (m_filter->text() != text) {
            m_filter->setText(text);
        }
        m_proxy->setFilterFixedString(text);
        selectFirst();
    }
    void selectRow(int row)
    {
        if (row >= 0 && row < m_proxy->rowCount()) {
            m_list->setCurrentIndex(m_proxy->index(row, 0));
        }
    }
    void choose()
    {
        const QModelIndex current = m_list->currentIndex();
        if (!current.isValid()) {
            return; // nothing to choose: stays open (Esc closes)
        }
        m_chosen = m_proxy->mapToSource(current).row();
        accept();
    }
    int chosen() const { return m_chosen; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_filter && event->type() == QEvent::KeyPress) {
            auto *ke = static_cast<QKeyEvent *>(event);
            switch (ke->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                choose();
                return true;
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_PageUp:
            case Qt::Key_PageDown:
                QCoreApplication::sendEvent(m_list, event);
                return true;
            default:
                break;
            }
        }
        return QDialog::eventFilter(watched, event);
    }

private:
    void selectFirst()
    {
        if (m_proxy->rowCount() > 0) {
            m_list->setCurrentIndex(m_proxy->index(0, 0));
        }
    }

    QList<TField *> m_fields;
    QStandardItemModel *m_source = nullptr;
    QSortFilterProxyModel *m_proxy = nullptr;
    QLineEdit *m_filter = nullptr;
    SearchList *m_list = nullptr;
    int m_chosen = -1;
};

class FindDialog : public QDialog
{
public:
    FindDialog(TClientDataSet *ds, QWidget *parent)
        : QDialog(parent)
    {
        setObjectName(u"frmProcura"_s);
        setWindowTitle(u"Procurar"_s);
        setModal(true);
        m_field = new QComboBox(this);
        m_field->setObjectName(u"cbxCampo"_s);
        for (TField *f : ds->Fields()) {
            if (f->Visible()) {
                m_field->addItem(f->DisplayLabel(), f->FieldName());
            }
        }
        m_value = new QLineEdit(this);
        m_value->setObjectName(u"edtValor"_s);
        auto *form = new QFormLayout;
        form->addRow(u"Campo:"_s, m_field);
        form->addRow(u"Valor:"_s, m_value);
        auto [buttons, ok, cancel] = makeOkCancelButtons(this);
        ok->setDefault(true);
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
        auto *layout = new QVBoxLayout(this);
        layout->addLayout(form);
        layout->addWidget(buttons);
        m_value->setFocus();
    }
    void setFieldName(const QString &name)
    {
        const int i = m_field->findData(name);
        if (i >= 0) {
            m_field->setCurrentIndex(i);
        }
    }
    QString fieldName() const { return m_field->currentData().toString(); }
    QString value() const { return m_value->text(); }
    void setValue(const QString &v) { m_value->setText(v); }

private:
    QComboBox *m_field = nullptr;
    QLineEdit *m_value = nullptr;
};

QWidget *dialogParent()
{
    if (QWidget *w = QApplication::activeModalWidget()) {
        return w;
    }
    if (QWidget *w = QApplication::activeWindow()) {
        return w;
    }
    return MainWindow();
}
} // namespace

bool Pesquisar(TDataSource *dataSource, const QString &title, bool multiSelect, bool showFilter)
{
    Q_UNUSED(multiSelect) // one row is always chosen
    TClientDataSet *ds = dataSource ? dataSource->DataSet() : nullptr;
    if (!ds || !ds->Active()) {
        throw EDatabaseError(u"A lista de pesquisa \"%1\" não tem dados abertos."_s.arg(title));
    }
    DialogFocusReturn focusBack;
    SearchDialog dialog(ds, title, showFilter, dialogParent());
    ModalDialogs::record({DialogKind::Search, title, title, mtCustom});
    int chosen = -1;
    DialogAnswer answer;
    if (ModalDialogs::takeAnswer(&answer)) {
        if (!answer.text.isEmpty()) {
            dialog.setFilter(answer.text);
        }
        if (answer.button == u"OK"_s || answer.button == u"Sim"_s) {
            dialog.selectRow(answer.row < 0 ? 0 : answer.row);
            dialog.choose();
            chosen = dialog.chosen();
        }
    } else if (dialog.exec() == QDialog::Accepted) {
        chosen = dialog.chosen();
    }
    if (chosen < 0) {
        return false;
    }
    ds->setRecNo(chosen + 1);
    return true;
}

bool Procura(TClientDataSet *dataSet)
{
    if (!dataSet || !dataSet->Active()) {
        return false;
    }
    DialogFocusReturn focusBack;
    FindDialog dialog(dataSet, dialogParent());
    ModalDialogs::record({DialogKind::Find, dialog.windowTitle(), dialog.windowTitle(), mtCustom});
    bool accepted = false;
    DialogAnswer answer;
    if (ModalDialogs::takeAnswer(&answer)) {
        if (!answer.field.isEmpty()) {
            dialog.setFieldName(answer.field);
        }
        dialog.setValue(answer.text);
        accepted = answer.button == u"OK"_s || answer.button == u"Sim"_s;
    } else {
        accepted = dialog.exec() == QDialog::Accepted;
    }
    if (!accepted) {
        return false;
    }
    TField *field = dataSet->FindField(dialog.fieldName());
    const QString wanted = dialog.value().trimmed();
    if (!field || wanted.isEmpty()) {
        return false;
    }
    // The first row whose shown text starts with the value, as the user reads it.
    const int rows = dataSet->RecordCount();
    for (int r = 0; r < rows; ++r) {
        if (dataSet->displayTextAt(r, field).trimmed().startsWith(wanted, Qt::CaseInsensitive)) {
            dataSet->setRecNo(r + 1);
            return true;
        }
    }
    ModalDialogs::messageBox(u"Nenhum registro encontrado com %1 igual a \"%2\"."_s.arg(field->DisplayLabel(), wanted),
                             mtInformation, mbOK);
    return false;
}
