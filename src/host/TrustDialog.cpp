#include "TrustDialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ModalDialogs.h"

using namespace Qt::StringLiterals;

TrustDialog::TrustDialog(const ServerTrust::UnknownCertificate &certificate, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"dlgCertificado"_s);
    setWindowTitle(u"Certificado do servidor"_s);
    auto *text = new QLabel(this);
    text->setObjectName(u"lblCertificado"_s);
    text->setWordWrap(true);
    text->setTextFormat(Qt::PlainText);
    text->setText(u"Este computador ainda não conhece o certificado do servidor de aplicação em %1:%2.\n\n"
                  "Confira a impressão digital abaixo com a que o administrador do sistema informou (o pru-make-cert "
                  "e a linha de início do servidor a mostram). Se forem iguais, confie; este computador a guardará "
                  "e recusará outro certificado deste servidor. Se forem diferentes ou você não souber, não confie: "
                  "nada será enviado, nem a senha."_s.arg(certificate.host, QString::number(certificate.port)));
    auto *fingerprint = new QLabel(this);
    fingerprint->setObjectName(u"lblImpressao"_s);
    fingerprint->setTextFormat(Qt::PlainText);
    fingerprint->setTextInteractionFlags(Qt::TextSelectableByMouse);
    fingerprint->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const QString hex = RpcSecurity::formatFingerprint(certificate.fingerprint);
    // Two lines of 16 bytes, easier to compare than one of 95 characters.
    fingerprint->setText(u"SHA-256:\n%1\n%2"_s.arg(hex.left(47), hex.mid(48)));

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *trust = buttons->addButton(u"Confiar"_s, QDialogButtonBox::AcceptRole);
    trust->setObjectName(u"btnConfiar"_s);
    QPushButton *refuse = buttons->addButton(u"Não confiar"_s, QDialogButtonBox::RejectRole);
    refuse->setObjectName(u"btnNaoConfiar"_s);
    refuse->setDefault(true);
    refuse->setFocus();
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(fingerprint);
    layout->addWidget(buttons);
    setMinimumWidth(460);
}

bool TrustDialog::ask(const ServerTrust::UnknownCertificate &certificate, QWidget *parent)
{
    TrustDialog dialog(certificate, parent);
    return ModalDialogs::exec(&dialog, DialogKind::Form, RpcSecurity::formatFingerprint(certificate.fingerprint))
           == QDialog::Accepted;
}
