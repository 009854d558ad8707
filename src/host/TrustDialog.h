#pragma once

#include <QDialog>

#include "ServerTrust.h"

// Asks the person logging in whether to trust a certificate this computer
// does not know yet, showing its SHA-256 fingerprint to compare with the one
// the administrator gives ("Confiar" pins it; "Não confiar", the default,
// sends nothing).
class TrustDialog : public QDialog
{
    Q_OBJECT
public:
    explicit TrustDialog(const ServerTrust::UnknownCertificate &certificate, QWidget *parent = nullptr);

    // Runs the dialog (ModalDialogs::exec): true when the person trusts it.
    static bool ask(const ServerTrust::UnknownCertificate &certificate, QWidget *parent = nullptr);
};
