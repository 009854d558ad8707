#include "LoginDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "HostOptions.h"
#include "ModalDialogs.h"
#include "TrustDialog.h"

using namespace Qt::StringLiterals;

LoginDialog::LoginDialog(const QString &remoteModule, QWidget *parent)
    : QDialog(parent)
    , m_remoteModule(remoteModule)
{
    setObjectName(u"dlgLogin"_s);
    setWindowTitle(u"Entrar no sistema"_s);
    m_server = new QLineEdit(this);
    m_server->setObjectName(u"edtServidor"_s);
    m_server->setPlaceholderText(u"máquina:porta"_s);
    m_operator = new QLineEdit(this);
    m_operator->setObjectName(u"edtOperador"_s);
    m_operator->setMaxLength(12);
    m_password = new QLineEdit(this);
    m_password->setObjectName(u"edtSenha"_s);
    m_password->setEchoMode(QLineEdit::Password);
    m_message = new QLabel(this);
    m_message->setObjectName(u"lblMensagem"_s);
    m_message->setWordWrap(true);
    m_message->setStyleSheet(u"color: #a00000"_s);

    auto *form = new QFormLayout;
    form->addRow(u"Servidor:"_s, m_server);
    form->addRow(u"Operador:"_s, m_operator);
    form->addRow(u"Senha:"_s, m_password);

    auto [buttons, ok, cancel] = makeOkCancelButtons(this);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &LoginDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &LoginDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_message);
    layout->addWidget(buttons);
    setMinimumWidth(360);
}

void LoginDialog::setServer(const QString &hostAndPort)
{
    m_server->setText(hostAndPort);
}

void LoginDialog::setOperator(const QString &code)
{
    m_operator->setText(code);
    if (!code.isEmpty()) {
        m_password->setFocus();
    }
}

void LoginDialog::setNotice(const QString &text)
{
    if (m_notice == nullptr) {
        m_notice = new QLabel(this);
        m_notice->setObjectName(u"lblAviso"_s);
        m_notice->setWordWrap(true);
        static_cast<QVBoxLayout *>(layout())->insertWidget(0, m_notice);
    }
    m_notice->setText(text);
}

void LoginDialog::setMessage(const QString &text)
{
    m_message->setText(text);
    // A long message (a certificate's pin, say) is read whole: the dialog
    // grows to wrap it instead of squeezing the fields and cutting it off.
    if (QLayout *box = layout()) {
        box->activate();
        const int needed = box->totalHeightForWidth(width());
        if (needed > height()) {
            resize(width(), needed);
        }
    }
}

QString LoginDialog::operatorCode() const
{
    return m_operator->text().trimmed();
}

QString LoginDialog::password() const
{
    return m_password->text();
}

void LoginDialog::accept()
{
    QString error;
    if (!parseServerAddress(m_server->text(), &m_host, &m_port, &error)) {
        setMessage(error);
        m_server->setFocus();
        return;
    }
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const bool sameServer = u"%1:%2"_s.arg(m_host).arg(m_port) == m_securityServer;
    // A certificate not known yet is put to the person, without the wait cursor.
    const auto ask = [this](const ServerTrust::UnknownCertificate &certificate) {
        QGuiApplication::restoreOverrideCursor();
        const bool trusted = TrustDialog::ask(certificate, this);
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        return trusted;
    };
    m_result = checkLogin(m_host, m_port, operatorCode(), password(), m_remoteModule,
                          sameServer ? m_security : m_security.forAnotherServer(), 15000, ask);
    QGuiApplication::restoreOverrideCursor();
    if (!m_result.ok) {
        setMessage(m_result.error);
        m_password->selectAll();
        m_password->setFocus();
        return;
    }
    QDialog::accept();
}
