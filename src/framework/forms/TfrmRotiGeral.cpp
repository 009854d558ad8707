#include "TfrmRotiGeral.h"

#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include "FrameworkServices.h"
#include "GridKeys.h"
#include "Guard.h"
#include "ModalDialogs.h"
#include "TButtonFlat.h"
#include "TMessages.h"

using namespace Qt::StringLiterals;

TfrmRotiGeral::TfrmRotiGeral(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"frmRotiGeral"_s);
    setModal(true);

    grbDadosRel = new QGroupBox(this);
    grbDadosRel->setObjectName(u"grbDadosRel"_s);

    panMenu = new QFrame(this);
    panMenu->setObjectName(u"panMenu"_s);
    panMenu->setFrameShape(QFrame::StyledPanel);
    panMenu->setFixedWidth(96);

    panBotoes = new QFrame(panMenu);
    panBotoes->setObjectName(u"panBotoes"_s);

    // The side panel's buttons show their text beside the icon.
    auto makeButton = [this](const QString &name, const QString &text, const QString &hint,
                             QStyle::StandardPixmap icon) {
        auto *button = new TButtonFlat(panBotoes);
        button->setObjectName(name);
        button->setText(text);
        button->setHint(hint);
        button->setIcon(standardIcon(this, icon));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        return button;
    };
    sbtConfirma = makeButton(u"sbtConfirma"_s, u"Confirmar"_s, u"Confirmar"_s, QStyle::SP_DialogApplyButton);
    sbtFechar = makeButton(u"sbtFechar"_s, u"Fechar"_s, u"Fechar sem confirmar"_s, QStyle::SP_DialogCloseButton);

    lblCodTela = new QLabel(panMenu);
    lblCodTela->setObjectName(u"lblCodTela"_s);
    lblCodTela->setAlignment(Qt::AlignCenter);

    msgPadrao = new TMessages(this);
    msgPadrao->setObjectName(u"msgPadrao"_s);

    auto *buttons = new QVBoxLayout(panBotoes);
    buttons->setContentsMargins(2, 2, 2, 2);
    buttons->addWidget(sbtConfirma);
    buttons->addWidget(sbtFechar);

    auto *menu = new QVBoxLayout(panMenu);
    menu->setContentsMargins(2, 2, 2, 2);
    menu->addWidget(panBotoes);
    menu->addStretch(1);
    menu->addWidget(lblCodTela);

    auto *main = new QHBoxLayout(this);
    main->setContentsMargins(0, 0, 0, 0);
    main->setSpacing(0);
    main->addWidget(grbDadosRel, 1);
    main->addWidget(panMenu);

    connect(sbtConfirma, &QToolButton::clicked, this,
            [this] { guarded(this, [this] { sbtConfirmaClick(sbtConfirma); }); });
    connect(sbtFechar, &QToolButton::clicked, this, [this] { guarded(this, [this] { sbtFecharClick(sbtFechar); }); });
}

TfrmRotiGeral::~TfrmRotiGeral() = default;

void TfrmRotiGeral::initialize()
{
    if (m_created) {
        return;
    }
    FormCreate(this);
    m_created = true;
}

int TfrmRotiGeral::ShowModal()
{
    return ModalDialogs::exec(this, DialogKind::Form, windowTitle(),
                              [](QDialog *d) { static_cast<TfrmRotiGeral *>(d)->sbtConfirma->click(); });
}

void TfrmRotiGeral::FormCreate(QObject *)
{ }

void TfrmRotiGeral::FormDestroy(QObject *)
{ }

void TfrmRotiGeral::FormShow(QObject *)
{ }

void TfrmRotiGeral::FormKeyDown(QObject *, quint16 &key, Qt::KeyboardModifiers)
{
    if (key == 27) {
        key = 0;
        reject();
    }
}

void TfrmRotiGeral::sbtConfirmaClick(QObject *)
{
    accept();
}

void TfrmRotiGeral::sbtFecharClick(QObject *)
{
    reject();
}

void TfrmRotiGeral::keyPressEvent(QKeyEvent *event)
{
    quint16 key = GridKeys::virtualKey(event);
    if (key) {
        const bool ok = guarded(this, [&] { FormKeyDown(this, key, event->modifiers()); });
        if (!ok || key == 0) {
            event->accept();
            return;
        }
    }
    if (event->key() == Qt::Key_Escape) {
        // Esc reaches here only when FormKeyDown let it pass: no default close.
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmRotiGeral::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    guarded(this, [this] { FormShow(this); });
}

void TfrmRotiGeral::done(int result)
{
    QDialog::done(result);
    if (!m_destroyed) {
        m_destroyed = true;
        guarded(this, [this] { FormDestroy(this); });
    }
}
