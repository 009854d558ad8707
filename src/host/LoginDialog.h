#pragma once

#include <QDialog>

#include "LoginCheck.h"

class QLabel;
class QLineEdit;

// Asks the server address, the operator and the password, and checks them
// with the server before it closes; a refusal is shown in the dialog.
class LoginDialog : public QDialog
{
    Q_OBJECT
public:
    LoginDialog(const QString &remoteModule, QWidget *parent = nullptr);

    void setServer(const QString &hostAndPort);
    void setOperator(const QString &code);
    void setMessage(const QString &text);
    // How to trust forServer; another server typed in the dialog goes without it.
    void setSecurity(const RpcSecurity &security, const QString &forServer)
    {
        m_security = security;
        m_securityServer = forServer;
    }
    // A standing notice above the fields, for the person logging in.
    void setNotice(const QString &text);

    QString host() const { return m_host; }
    int port() const { return m_port; }
    QString operatorCode() const;
    QString password() const;
    LoginResult result() const { return m_result; }

    void accept() override;

private:
    QString m_remoteModule;
    QLineEdit *m_server = nullptr;
    QLineEdit *m_operator = nullptr;
    QLineEdit *m_password = nullptr;
    QLabel *m_message = nullptr;
    QString m_host;
    int m_port = 0;
    LoginResult m_result;
    RpcSecurity m_security;
    QString m_securityServer;
    QLabel *m_notice = nullptr;
};
