#include <QApplication>
#include <QTest>
#include <QTimer>

#include <stdexcept>

#include "Exceptions.h"
#include "FrameworkServices.h"
#include "FrameworkTestData.h"
#include "Guard.h"

// One guard for every entry point: the silent stop ends quietly, errors are
// shown, nothing escapes.
class TestGuard : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        resetDialogs();
        m_shown.clear();
        setErrorDisplay([this](const QString &text, QWidget *) { m_shown << text; });
    }

    void guardOutcomes_data()
    {
        QTest::addColumn<int>("what");
        QTest::addColumn<bool>("completed");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("runs to the end") << 0 << true << QStringList();
        QTest::newRow("silent stop") << 1 << false << QStringList();
        QTest::newRow("database error") << 2 << false << QStringList{u"Registro em uso"_s};
        QTest::newRow("any std exception") << 3 << false << QStringList{u"falha interna"_s};
        QTest::newRow("anything else") << 4 << false << QStringList{u"Erro inesperado."_s};
    }
    void guardOutcomes()
    {
        QFETCH(int, what);
        QFETCH(bool, completed);
        QFETCH(QStringList, shown);
        bool after = false;
        const int errorsBefore = guardErrorCount();
        const bool ok = guarded(nullptr, [&] {
            switch (what) {
            case 1:
                Abort();
            case 2:
                throw EDatabaseError(u"Registro em uso"_s);
            case 3:
                throw std::runtime_error("falha interna");
            case 4:
                throw 42;
            default:
                break;
            }
            after = true;
        });
        QCOMPARE(ok, completed);
        QCOMPARE(after, completed);
        QCOMPARE(m_shown, shown);
        QCOMPARE(guardErrorCount() - errorsBefore, int(shown.size()));
    }

    void mensErroShowsThenStops()
    {
        setErrorDisplay({}); // the default display: a box through the dialog door
        ModalDialogs::answerNext(u"OK"_s);
        bool after = false;
        const bool ok = guarded(nullptr, [&] {
            MensErro(u"Informe o nome do processo."_s, true);
            after = true;
        });
        QVERIFY(!ok);
        QVERIFY(!after);
        QCOMPARE(ModalDialogs::shown().size(), 1); // shown once, not again by the guard
        QCOMPARE(ModalDialogs::shown().at(0).kind, DialogKind::Error);
        QCOMPARE(ModalDialogs::shown().at(0).title, u"Erro"_s);
        QCOMPARE(ModalDialogs::shown().at(0).text, u"Informe o nome do processo."_s);
    }

    void defaultDisplayIsAModalErrorBox()
    {
        setErrorDisplay({});
        QTimer::singleShot(0, this, [] {
            QWidget *box = QApplication::activeModalWidget();
            QVERIFY(box);
            QCOMPARE(box->windowTitle(), u"Erro"_s);
            QTest::keyClick(box, Qt::Key_Return);
        });
        guarded(nullptr, [] { throw EDatabaseError(u"Sem conexão"_s); });
        QCOMPARE(ModalDialogs::shown().size(), 1);
        QCOMPARE(ModalDialogs::shown().at(0).text, u"Sem conexão"_s);
    }

    void errorsInsideTheEventLoopStopThere()
    {
        // A slot that throws, run from the event loop through the guard.
        bool reached = false;
        QTimer::singleShot(0, this, [&] { guarded(this, [] { throw EDatabaseError(u"no laço"_s); }); });
        QTimer::singleShot(5, this, [&] { reached = true; });
        QTRY_VERIFY(reached);
        QCOMPARE(m_shown, QStringList{u"no laço"_s});
    }

    void busyIndicatorLeftUpIsTakenDownWhenTheEntryPointEnds()
    {
        QString visibleDuringError;
        setErrorDisplay([&](const QString &text, QWidget *) {
            visibleDuringError = busyIndicatorVisible() ? u"visível"_s : u"oculto"_s;
            m_shown << text;
        });
        guarded(nullptr, [] {
            ActiveShowAvi(nullptr, 1);
            guarded(nullptr, [] { ActiveShowAvi(nullptr, 1); }); // an inner entry point keeps it up
            QCOMPARE(busyIndicatorDepth(), 2);
            throw EDatabaseError(u"a chamada falhou"_s); // and no clean-up ran
        });
        QCOMPARE(busyIndicatorDepth(), 0);
        QVERIFY(!busyIndicatorVisible());
        QCOMPARE(visibleDuringError, u"oculto"_s);
    }

    void errorRestoresTheCursor()
    {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        guarded(nullptr, [] { throw EDatabaseError(u"x"_s); });
        QVERIFY(!QGuiApplication::overrideCursor());
    }

private:
    QStringList m_shown;
};

QTEST_MAIN(TestGuard)
#include "tst_guard.moc"
