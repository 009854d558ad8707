#pragma once

// What every test of the screen against its server is built on, as a GUI
// test base class: before each test a fresh server with the demonstration
// data (SUPERVISOR logged in), the code lookups on its database and a
// watchdog over modal dialogs; after it the screen closed, the server and the
// lookups gone, and a check that no dialog was left unanswered. In between a
// test opens the screen, alone or in the host window, and reads and writes
// the server's database directly, as another program would.

#include <QObject>
#include <QPointer>
#include <QVariant>

#include <memory>

#include "ScreenInHost.h"
#include "ScreenTestServer.h"

class ModalWatchdog;

class ScreenTestCase : public QObject
{
    Q_OBJECT

public:
    ScreenTestCase();
    ~ScreenTestCase() override;

private slots:
    void init();
    void cleanup();

protected:
    // What a test adds at the end of init(), and at the start of cleanup()
    // once the screen is closed.
    virtual void initScreenTest() { }
    virtual void cleanupScreenTest() { }

    // The screen created in a window of its own, the active one.
    TfrmProcessoUnidade *openAlone();
    // The screen in the host's main window, as a person meets it.
    TfrmProcessoUnidade *openInHost();
    // The screen opened by either; null once it is gone.
    TfrmProcessoUnidade *screen() const;
    TDBGrid *grid(const QString &name) const;
    // The screen's catalogue text for key.
    QString msg(const QString &key) const;
    // The text of the last dialog shown; empty when none was.
    static QString lastShown();
    // Answers the next real dialog as a person does: once it is on screen,
    // the key is pressed in it.
    static void pressInNextDialog(Qt::Key key, int triesLeft = 200);

    // Clicks the process of that name, then its first task (or the empty task grid).
    void selectProcess(const QString &name);

    // The server's database, straight: a failing statement throws.
    void sql(const QString &text, const QVariantList &values = {}) const;
    QVariant scalar(const QString &text, const QVariantList &values = {}) const;
    // Runs an INSERT ... RETURNING key and gives the new key.
    qint64 insert(const QString &text, const QVariantList &values = {}) const;

    std::unique_ptr<ScreenTestServer> m_server;
    std::unique_ptr<ScreenInHost> m_host;

private:
    std::unique_ptr<ModalWatchdog> m_watchdog;
    QPointer<TfrmProcessoUnidade> m_alone;
};
