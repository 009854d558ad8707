#include "ScreenTestCase.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include "Database.h"
#include "FrameworkServices.h"
#include "LookupConnection.h"
#include "ModalDialogs.h"
#include "Sql.h"
#include "TMessages.h"

using namespace Qt::StringLiterals;

// A modal dialog that a test did not answer would wait for ever: after a few
// seconds it is closed and reported, so the test fails instead of hanging.
class ModalWatchdog
{
public:
    ModalWatchdog()
    {
        m_timer.setInterval(5000);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                m_unanswered << modal->objectName() + u": "_s + modal->windowTitle();
                modal->close();
            }
        });
        m_timer.start();
    }
    QStringList unanswered() const { return m_unanswered; }

private:
    QTimer m_timer;
    QStringList m_unanswered;
};

ScreenTestCase::ScreenTestCase() = default;
ScreenTestCase::~ScreenTestCase() = default;

void ScreenTestCase::init()
{
    m_server = std::make_unique<ScreenTestServer>();
    // The code lookups read the server's own database, as at a site with one database.
    setLookupDatabaseOptions(u"QSQLITE:"_s + m_server->databaseFile());
    m_watchdog = std::make_unique<ModalWatchdog>();
    ModalDialogs::clearAnswers();
    ModalDialogs::clearShown();
    initScreenTest();
}

void ScreenTestCase::cleanup()
{
    // Closing may report something: an OK answers it.
    ModalDialogs::answerNext(u"OK"_s);
    m_host.reset();
    delete m_alone.data();
    cleanupScreenTest();
    ModalDialogs::clearAnswers();
    LookupConnection::close();
    setLookupDatabaseOptions(QString());
    m_server.reset();
    const QStringList unanswered = m_watchdog->unanswered();
    m_watchdog.reset();
    QVERIFY2(unanswered.isEmpty(), qPrintable(unanswered.join(u", "_s)));
}

TfrmProcessoUnidade *ScreenTestCase::openAlone()
{
    m_alone = TfrmPadraoGrid::create<TfrmProcessoUnidade>(nullptr);
    m_alone->show();
    m_alone->activateWindow();
    if (!QTest::qWaitForWindowActive(m_alone)) {
        qWarning("screen not active");
    }
    return m_alone;
}

TfrmProcessoUnidade *ScreenTestCase::openInHost()
{
    m_host = std::make_unique<ScreenInHost>();
    QTest::qVerify(!m_host->screen.isNull(), "m_host->screen", "the screen did not open", __FILE__, __LINE__);
    return m_host->screen;
}

TfrmProcessoUnidade *ScreenTestCase::screen() const
{
    return m_host ? m_host->screen.data() : m_alone.data();
}

TDBGrid *ScreenTestCase::grid(const QString &name) const
{
    return screen()->findChild<TDBGrid *>(name);
}

QString ScreenTestCase::msg(const QString &key) const
{
    return screen()->msgPadrao->Msg(key);
}

QString ScreenTestCase::lastShown()
{
    const QList<DialogRecord> shown = ModalDialogs::shown();
    return shown.isEmpty() ? QString() : shown.constLast().text;
}

// No window manager stands in between, so whatever the focus does afterwards
// is the program's own doing.
void ScreenTestCase::pressInNextDialog(Qt::Key key, int triesLeft)
{
    QTimer::singleShot(10, [key, triesLeft] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            QTest::keyClick(modal->focusWidget() ? modal->focusWidget() : modal, key);
        } else if (triesLeft > 0) {
            pressInNextDialog(key, triesLeft - 1);
        }
    });
}

void ScreenTestCase::selectProcess(const QString &name)
{
    TClientDataSet *processes = screen()->cdsProcessos;
    for (int row = 0; row < processes->rowCount(); ++row) {
        if (processes->displayTextAt(row, processes->FieldByName(u"NMPROCESSOFILIAL"_s)) == name) {
            ScreenInHost::clickCell(screen()->dbgPadrao, row, 0);
            TDBGrid *tasks = screen()->dbgTarefas;
            if (tasks->model()->rowCount() > 0) {
                ScreenInHost::clickCell(tasks, 0, 1);
            } else {
                QTest::mouseClick(tasks->viewport(), Qt::LeftButton, {}, tasks->viewport()->rect().center());
            }
            return;
        }
    }
    QFAIL(qPrintable(u"no process "_s + name));
}

void ScreenTestCase::sql(const QString &text, const QVariantList &values) const
{
    ScopedConnection connection(m_server->config(), u"screen-test"_s);
    Sql::exec(connection.db(), text, values);
}

QVariant ScreenTestCase::scalar(const QString &text, const QVariantList &values) const
{
    ScopedConnection connection(m_server->config(), u"screen-test"_s);
    return Sql::scalar(connection.db(), text, values);
}

qint64 ScreenTestCase::insert(const QString &text, const QVariantList &values) const
{
    ScopedConnection connection(m_server->config(), u"screen-test"_s);
    return Sql::insertReturningKey(connection.db(), text, values);
}
