#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPointer>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include "FrameworkServices.h"
#include "FrameworkTestData.h"
#include "TDataSource.h"
#include "TButtonFlat.h"
#include "TfrmRotiGeral.h"

// The search list, the find dialog and forms: answered ahead through the
// dialog door, or on screen with keys as a person would.
class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        resetDialogs();
        m_ds = new TClientDataSet(this);
        definePeople(*m_ds);
        m_ds->SetData(people(6)); // Ana Bruno Carla Davi Elisa Fabio
        m_dts = new TDataSource(this);
        m_dts->setDataSet(m_ds);
        m_scrolls = 0;
        m_ds->AfterScroll = [this](TClientDataSet *) { ++m_scrolls; };
    }
    void cleanup()
    {
        delete m_dts;
        delete m_ds;
        QCOMPARE(ModalDialogs::pendingAnswers(), 0);
    }

    void searchAnsweredAhead_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("chosen");
        QTest::addColumn<QString>("name");
        QTest::newRow("third row") << u"OK"_s << QString() << 2 << true << u"Carla"_s;
        QTest::newRow("filtered first") << u"OK"_s << u"av"_s << -1 << true << u"Davi"_s;
        QTest::newRow("filtered second") << u"OK"_s << u"a"_s << 1 << true << u"Carla"_s;
        QTest::newRow("filter finds nothing") << u"OK"_s << u"zzz"_s << -1 << false << u"Ana"_s;
        QTest::newRow("closed") << u"Cancelar"_s << QString() << 3 << false << u"Ana"_s;
    }
    void searchAnsweredAhead()
    {
        QFETCH(QString, button);
        QFETCH(QString, filter);
        QFETCH(int, row);
        QFETCH(bool, chosen);
        QFETCH(QString, name);
        ModalDialogs::answerNext(DialogAnswer{button, row, filter, {}, {}});
        QCOMPARE(Pesquisar(m_dts, u"Periodicidades"_s, false, true), chosen);
        QCOMPARE(m_ds->FieldByName(u"NOME"_s)->AsString(), name);
        QCOMPARE(ModalDialogs::shown().size(), 1);
        QCOMPARE(ModalDialogs::shown().at(0).kind, DialogKind::Search);
        QCOMPARE(ModalDialogs::shown().at(0).title, u"Periodicidades"_s);
    }

    void searchOnScreen_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("downs");
        QTest::addColumn<bool>("escape");
        QTest::addColumn<bool>("chosen");
        QTest::addColumn<QString>("name");
        QTest::newRow("filter and Enter") << u"elis"_s << 0 << false << true << u"Elisa"_s;
        QTest::newRow("arrow and Enter") << QString() << 3 << false << true << u"Davi"_s;
        QTest::newRow("Esc") << u"bru"_s << 0 << true << false << u"Ana"_s;
    }
    void searchOnScreen()
    {
        QFETCH(QString, typed);
        QFETCH(int, downs);
        QFETCH(bool, escape);
        QFETCH(bool, chosen);
        QFETCH(QString, name);
        whenModalOpens([&](QWidget *dlg) {
            QCOMPARE(dlg->windowTitle(), u"Operadores"_s);
            QVERIFY(dlg->findChild<QLineEdit *>(u"edtFiltro"_s)->hasFocus());
            QTest::keyClicks(QApplication::focusWidget(), typed);
            for (int i = 0; i < downs; ++i) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
            }
            QTest::keyClick(QApplication::focusWidget(), escape ? Qt::Key_Escape : Qt::Key_Return);
        });
        QCOMPARE(Pesquisar(m_dts, u"Operadores"_s, false, true), chosen);
        QCOMPARE(m_ds->FieldByName(u"NOME"_s)->AsString(), name);
    }

    void searchOnScreenByDoubleClick()
    {
        whenModalOpens([&](QWidget *dlg) {
            auto *list = dlg->findChild<QTableView *>(u"grdPesquisa"_s);
            const QRect r = list->visualRect(list->model()->index(4, 1));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, r.center());
        });
        QVERIFY(Pesquisar(m_dts, u"Grupo de Operadores"_s, false, true));
        QCOMPARE(m_ds->FieldByName(u"NOME"_s)->AsString(), u"Elisa"_s);
    }

    void findAnsweredAhead()
    {
        ModalDialogs::answerNext(DialogAnswer{u"OK"_s, -1, u"fa"_s, u"NOME"_s, {}});
        QVERIFY(Procura(m_ds));
        QCOMPARE(m_ds->RecNo(), 6);
        ModalDialogs::answerNext(DialogAnswer{u"OK"_s, -1, u"3"_s, u"CODIGO"_s, {}});
        QVERIFY(Procura(m_ds));
        QCOMPARE(m_ds->FieldByName(u"NOME"_s)->AsString(), u"Carla"_s);
        ModalDialogs::answerNext(u"Cancelar"_s);
        QVERIFY(!Procura(m_ds));
        QCOMPARE(m_ds->RecNo(), 3);
        // Nothing matches: the user is told, the row stays.
        ModalDialogs::answerNext(DialogAnswer{u"OK"_s, -1, u"Xavier"_s, u"NOME"_s, {}});
        ModalDialogs::answerNext(u"OK"_s);
        QVERIFY(!Procura(m_ds));
        QCOMPARE(m_ds->RecNo(), 3);
        QCOMPARE(ModalDialogs::shown().last().type, mtInformation);
    }

    void findOnScreen()
    {
        whenModalOpens([&](QWidget *dlg) {
            auto *field = dlg->findChild<QComboBox *>(u"cbxCampo"_s);
            field->setCurrentIndex(field->findData(u"NOME"_s));
            QTest::keyClicks(dlg->findChild<QLineEdit *>(u"edtValor"_s), u"br"_s);
            QTest::keyClick(dlg->findChild<QLineEdit *>(u"edtValor"_s), Qt::Key_Return);
        });
        QVERIFY(Procura(m_ds));
        QCOMPARE(m_ds->FieldByName(u"NOME"_s)->AsString(), u"Bruno"_s);
    }

    void formAnsweredAheadClicksItsConfirmButton()
    {
        class Form : public TfrmRotiGeral
        {
        public:
            using TfrmRotiGeral::TfrmRotiGeral;
            QString kept;
            QLineEdit *edit = nullptr;
            void FormCreate(QObject *) override { edit = new QLineEdit(grbDadosRel); }
            void sbtConfirmaClick(QObject *) override
            {
                kept = edit->text();
                close();
            }
        };
        auto *form = TfrmRotiGeral::create<Form>();
        ModalDialogs::answerNext(DialogAnswer{
            u"OK"_s, -1, {}, {}, [](QDialog *d) { static_cast<Form *>(d)->edit->setText(u"nova observação"_s); }});
        form->ShowModal();
        QCOMPARE(form->kept, u"nova observação"_s);
        QCOMPARE(ModalDialogs::shown().last().kind, DialogKind::Form);

        ModalDialogs::answerNext(DialogAnswer{
            u"Cancelar"_s, -1, {}, {}, [](QDialog *d) { static_cast<Form *>(d)->edit->setText(u"descartada"_s); }});
        form->ShowModal();
        QCOMPARE(form->kept, u"nova observação"_s);
        delete form;
    }

    void formComponentsByName()
    {
        TfrmRotiGeral form;
        for (const char *name : {"lblCodTela", "grbDadosRel", "panMenu", "panBotoes", "sbtConfirma", "msgPadrao"}) {
            QVERIFY2(form.findChild<QObject *>(QString::fromLatin1(name)), name);
        }
        QCOMPARE(form.sbtConfirma->focusPolicy(), Qt::NoFocus);
    }

private:
    // Runs act once the modal dialog is open and active, as a person would
    // act on it; a dialog act leaves open (a failed check) is closed later,
    // so the test fails instead of hanging.
    void whenModalOpens(const std::function<void(QWidget *)> &act)
    {
        auto *timer = new QTimer(this);
        timer->setInterval(10);
        connect(timer, &QTimer::timeout, this, [timer, act] {
            QWidget *w = QApplication::activeModalWidget();
            if (!w || !w->isActiveWindow()) {
                return;
            }
            timer->stop();
            timer->deleteLater();
            QPointer<QDialog> dialog = qobject_cast<QDialog *>(w);
            act(w);
            QTimer::singleShot(3000, w, [dialog] {
                if (dialog && dialog->isVisible()) {
                    dialog->reject();
                }
            });
        });
        timer->start();
    }

    TClientDataSet *m_ds = nullptr;
    TDataSource *m_dts = nullptr;
    int m_scrolls = 0;
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
