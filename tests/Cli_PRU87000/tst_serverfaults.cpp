// The screen when its server dies in the middle of a save: the save cut by
// the fault gives a clear error, the typed change stays pending, and the
// same Confirm clicked again once the server is back stores it, once.

#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

#include <atomic>

#include "ModalDialogs.h"
#include "ScreenTestCase.h"
#include "TButtonFlat.h"
#include "TField.h"

using namespace Qt::StringLiterals;

namespace {

// Between the screen and the server, in a thread of its own (the screen's
// calls block the test's thread). Armed, it treats the call that names a
// method as a killed server would: the call never reaches the server and the
// connection closes without a reply.
class CuttingRelay
{
public:
    explicit CuttingRelay(quint16 target)
        : m_target(target)
    {
        m_thread.start();
        m_context = new QObject;
        m_context->moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            m_context,
            [this] {
                m_server = new QTcpServer(m_context);
                m_server->listen(QHostAddress::LocalHost, 0);
                m_port = m_server->serverPort();
                QObject::connect(m_server, &QTcpServer::newConnection, m_context, [this] { accept(); });
            },
            Qt::BlockingQueuedConnection);
    }

    ~CuttingRelay()
    {
        QMetaObject::invokeMethod(
            m_context, [this] { delete m_context; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    quint16 port() const { return m_port; }
    void cutAt(const QByteArray &method)
    {
        QMutexLocker lock(&m_mutex);
        m_cutAt = method;
    }
    int cuts() const { return m_cuts.load(); }

private:
    void accept()
    {
        while (QTcpSocket *in = m_server->nextPendingConnection()) {
            auto *out = new QTcpSocket(in);
            // Written bytes wait in the socket until it connects.
            out->connectToHost(QHostAddress::LocalHost, m_target);
            QObject::connect(in, &QTcpSocket::readyRead, in, [this, in, out] {
                const QByteArray bytes = in->readAll();
                if (shouldCut(bytes)) {
                    out->abort();
                    in->abort();
                    return;
                }
                out->write(bytes);
            });
            QObject::connect(out, &QTcpSocket::readyRead, in, [in, out] { in->write(out->readAll()); });
            QObject::connect(out, &QTcpSocket::disconnected, in, [in] { in->disconnectFromHost(); });
            QObject::connect(out, &QTcpSocket::errorOccurred, in, [in] { in->abort(); });
            QObject::connect(in, &QTcpSocket::disconnected, in, [in, out] {
                out->abort();
                in->deleteLater();
            });
        }
    }

    bool shouldCut(const QByteArray &bytes)
    {
        QMutexLocker lock(&m_mutex);
        if (m_cutAt.isEmpty() || !bytes.contains(m_cutAt)) {
            return false;
        }
        m_cutAt.clear();
        ++m_cuts;
        return true;
    }

    quint16 m_target;
    QThread m_thread;
    QObject *m_context = nullptr;
    QTcpServer *m_server = nullptr;
    std::atomic<quint16> m_port{0};
    QMutex m_mutex;
    QByteArray m_cutAt;
    std::atomic<int> m_cuts{0};
};

} // namespace

class TestServerFaults : public ScreenTestCase
{
    Q_OBJECT

private slots:
    void saveCutByTheServerKeepsTheChangeUntilConfirmedAgain_data();
    void saveCutByTheServerKeepsTheChangeUntilConfirmedAgain();

private:
    void initScreenTest() override;
    void cleanupScreenTest() override { m_relay.reset(); }

    std::unique_ptr<CuttingRelay> m_relay;
};

void TestServerFaults::initScreenTest()
{
    // The screen reaches the server through the relay.
    m_relay = std::make_unique<CuttingRelay>(m_server->port());
    SessionInfo info = session();
    info.port = m_relay->port();
    setSession(info);
    openInHost();
}

void TestServerFaults::saveCutByTheServerKeepsTheChangeUntilConfirmedAgain_data()
{
    QTest::addColumn<bool>("newRow");
    QTest::newRow("new process") << true;
    QTest::newRow("renamed process") << false;
}

void TestServerFaults::saveCutByTheServerKeepsTheChangeUntilConfirmedAgain()
{
    QFETCH(bool, newRow);
    TfrmProcessoUnidade *screen = m_host->screen;
    const QString name = newRow ? u"Balanco anual"_s : u"Abertura renomeada"_s;
    const auto stored = [this, &name] {
        return scalar(u"SELECT COUNT(*) FROM PROCESSOFILIAL WHERE NMPROCESSOFILIAL = ?"_s, {name}).toInt();
    };
    ScreenInHost::clickCell(screen->dbgPadrao, 0, 0);
    if (newRow) {
        ScreenInHost::click(screen->sbtIncluir);
    } else {
        // Typing over the first process's name puts it in edit mode.
    }
    m_host->type(name);
    const TDataSetState editing = screen->cdsProcessos->State();
    QVERIFY(editing == TDataSetState::dsInsert || editing == TDataSetState::dsEdit);

    // The server goes down with the save on the wire.
    m_relay->cutAt("SetProcessos");
    ModalDialogs::clearShown();
    ModalDialogs::answerNext(u"OK"_s);
    ScreenInHost::click(screen->sbtConfirmar);
    QCOMPARE(m_relay->cuts(), 1);
    QCOMPARE(ModalDialogs::shown().size(), 1);
    QVERIFY2(lastShown().contains(u"conexão com o servidor de aplicação foi perdida"_s), qPrintable(lastShown()));
    QCOMPARE(stored(), 0);
    // Nothing typed is lost: the change waits in the log, the screen still edits.
    QVERIFY(screen->cdsProcessos->ChangeCount() > 0);
    QCOMPARE(screen->cdsProcessos->FieldByName(u"NMPROCESSOFILIAL"_s)->AsString(), name);
    QVERIFY(screen->isEditing());
    QVERIFY(screen->sbtConfirmar->isEnabled());

    // While it is down, confirming again says so and still keeps the change.
    const quint16 port = m_server->port();
    m_server->stop();
    ModalDialogs::clearShown();
    ModalDialogs::answerNext(u"OK"_s);
    ScreenInHost::click(screen->sbtConfirmar);
    QCOMPARE(ModalDialogs::shown().size(), 1);
    QVERIFY2(lastShown().contains(u"conectar ao servidor de aplicação"_s), qPrintable(lastShown()));
    QVERIFY(screen->cdsProcessos->ChangeCount() > 0);

    // Back on its port: the same click stores the change once.
    m_server->start(port);
    ModalDialogs::clearShown();
    ScreenInHost::click(screen->sbtConfirmar);
    QCOMPARE(ModalDialogs::shown().size(), 0);
    QCOMPARE(screen->cdsProcessos->State(), TDataSetState::dsBrowse);
    QCOMPARE(screen->cdsProcessos->ChangeCount(), 0);
    QVERIFY(!screen->isEditing());
    QCOMPARE(stored(), 1);
    QCOMPARE(screen->cdsProcessos->FieldByName(u"NMPROCESSOFILIAL"_s)->AsString(), name);
}

QTEST_MAIN(TestServerFaults)
#include "tst_serverfaults.moc"
