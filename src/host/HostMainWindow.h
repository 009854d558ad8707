#pragma once

#include <QMainWindow>

#include "ModuleLoader.h"

class QLabel;
class QMdiArea;

// The host's main window: a workspace of child windows (the screens), a menu
// that opens screens from their modules, the session in the status bar.
class HostMainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit HostMainWindow(QWidget *parent = nullptr);

    QMdiArea *workspace() const { return m_mdi; }
    ModuleLoader &modules() { return m_modules; }

    // Shows a screen as a child window (a screen shown again comes to the front).
    void presentChild(QWidget *child);
    // Loads the module and opens its screen; a failure is shown to the user.
    bool openScreen(const QString &pathOrCode);
    void setSessionText(const QString &text);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void openModuleFile();

    QMdiArea *m_mdi = nullptr;
    QLabel *m_session = nullptr;
    ModuleLoader m_modules;
};
