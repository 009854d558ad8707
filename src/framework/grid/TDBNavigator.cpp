#include "TDBNavigator.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

#include "Guard.h"

using namespace Qt::StringLiterals;

TDBNavigator::TDBNavigator(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 1, 2, 1);
    layout->setSpacing(1);
    auto make = [&](const QString &name, const QString &text, const QString &hint,
                    const std::function<void(TClientDataSet *)> &move) {
        auto *b = new QToolButton(this);
        b->setObjectName(name);
        b->setText(text);
        b->setToolTip(hint);
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QToolButton::clicked, this, [this, move] {
            guarded(this, [&] {
                if (m_dataSource && m_dataSource->DataSet() && m_dataSource->DataSet()->Active()) {
                    move(m_dataSource->DataSet());
                }
            });
        });
        layout->addWidget(b);
        return b;
    };
    m_first = make(u"btnFirst"_s, u"|<"_s, u"Primeiro"_s, [](TClientDataSet *ds) { ds->First(); });
    m_prior = make(u"btnPrior"_s, u"<"_s, u"Anterior"_s, [](TClientDataSet *ds) { ds->Prior(); });
    m_next = make(u"btnNext"_s, u">"_s, u"Próximo"_s, [](TClientDataSet *ds) { ds->Next(); });
    m_last = make(u"btnLast"_s, u">|"_s, u"Último"_s, [](TClientDataSet *ds) { ds->Last(); });
    m_name = new QLabel(this);
    m_name->setObjectName(u"lblNavegador"_s);
    m_name->setFrameShape(QFrame::StyledPanel);
    m_name->setMinimumWidth(200);
    layout->addWidget(m_name, 1);
}

void TDBNavigator::setDataSource(TDataSource *dataSource)
{
    for (const auto &c : std::as_const(m_connections)) {
        disconnect(c);
    }
    m_connections.clear();
    m_dataSource = dataSource;
    if (dataSource) {
        m_connections << connect(dataSource, &TDataSource::dataSetChanged, this,
                                 [this] { setDataSource(m_dataSource); });
        if (TClientDataSet *ds = dataSource->DataSet()) {
            m_connections << connect(ds, &TClientDataSet::currentRowChanged, this, [this] { refresh(); });
            m_connections << connect(ds, &TClientDataSet::rowChanged, this, [this] { refresh(); });
            m_connections << connect(ds, &TClientDataSet::contentReset, this, [this] { refresh(); });
            m_connections << connect(ds, &TClientDataSet::stateChanged, this, [this] { refresh(); });
            m_connections << connect(ds, &TClientDataSet::rowRemoved, this, [this] { refresh(); });
            m_connections << connect(ds, &TClientDataSet::rowInserted, this, [this] { refresh(); });
        }
    }
    refresh();
}

void TDBNavigator::setFieldName(const QString &fieldName)
{
    m_fieldName = fieldName;
    refresh();
}

QString TDBNavigator::shownText() const
{
    return m_name->text();
}

void TDBNavigator::refresh()
{
    QString text;
    TClientDataSet *ds = m_dataSource ? m_dataSource->DataSet() : nullptr;
    if (ds && ds->Active() && !ds->IsEmpty() && !m_fieldName.isEmpty()) {
        if (TField *f = ds->FindField(m_fieldName)) {
            try {
                text = f->DisplayText();
            } catch (const std::exception &) {
                text.clear();
            }
        }
    }
    m_name->setText(text);
    const bool browse = ds && ds->Active();
    m_first->setEnabled(browse);
    m_prior->setEnabled(browse);
    m_next->setEnabled(browse);
    m_last->setEnabled(browse);
}
